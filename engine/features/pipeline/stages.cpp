#include "engine/features/pipeline/stages.hpp"

#include <cmath>
#include <cstdint>
#include <unordered_set>

#include <fmt/format.h>

#include "engine/debug_quote.hpp"
#include "engine/errors.hpp"
#include "engine/features/feature_id.hpp"
#include "engine/features/pipeline/stage_math.hpp"
#include "engine/features/transformers/validate.hpp"

namespace vorn {

namespace {

using Message = std::optional<std::string>;
using Ids = std::span<const std::string_view>;

// Flattened stage buffers stay below this many values.
constexpr std::uint64_t kMaxStageValues = std::uint64_t{1} << 60;

template <class... Lists>
bool all_have_size(std::size_t n, const Lists&... lists) {
  return ((lists.size() == n) && ...);
}

bool same_ids(const std::vector<std::string>& outputs, Ids input_ids) {
  if (outputs.size() != input_ids.size()) return false;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (outputs[i] != input_ids[i]) return false;
  }
  return true;
}

// Every index below n and each strictly greater than the one before.
bool increasing_below(const std::vector<std::size_t>& indices, std::size_t n) {
  for (std::size_t k = 0; k < indices.size(); ++k) {
    if (indices[k] >= n || (k > 0 && indices[k] <= indices[k - 1])) return false;
  }
  return true;
}

bool all_finite(const std::vector<double>& values) {
  for (double v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

bool finite_increasing(const std::optional<ClipBounds>& clip) {
  return std::isfinite(clip->low) && std::isfinite(clip->high) && clip->low < clip->high;
}

std::string input_message(std::string_view id, std::string_view reason) {
  return fmt::format("input {}: {}", debug_quoted(id), reason);
}

// "input {id}: {reason}" for the first input whose mean or scale is refused.
Message standard_scale_message(const std::vector<double>& mean, const std::vector<double>& scale,
                               Ids input_ids, std::size_t i) {
  if (auto fault = transformers::standard_scale_fault(mean[i], scale[i])) {
    return input_message(input_ids[i], display(*fault));
  }
  return std::nullopt;
}

Message check(const FittedStage::Scalar& stage, Ids input_ids) {
  if (auto valid = transformers::validate(stage.transformations, input_ids); !valid) {
    return to_string(valid.error());
  }
  return std::nullopt;
}

Message check(const FittedStage::Select& stage, Ids input_ids) {
  const std::size_t n = input_ids.size();
  if (stage.input_indices.size() != stage.outputs.size() || !increasing_below(stage.input_indices, n)) {
    return fmt::format("selection indices must be nonempty, unique, increasing, and below {}", n);
  }
  for (std::size_t k = 0; k < stage.outputs.size(); ++k) {
    if (stage.outputs[k] != input_ids[stage.input_indices[k]]) {
      return "selected output IDs must match their input IDs";
    }
  }
  return std::nullopt;
}

Message check(const FittedStage::StandardScale& stage, Ids input_ids) {
  const std::size_t n = input_ids.size();
  if (!same_ids(stage.outputs, input_ids) || !all_have_size(n, stage.mean, stage.scale)) {
    return fmt::format("scaler must preserve {} input IDs and have matching mean/scale lengths", n);
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (auto message = standard_scale_message(stage.mean, stage.scale, input_ids, i)) return message;
  }
  return std::nullopt;
}

Message check(const FittedStage::MinMaxScale& stage, Ids input_ids) {
  const std::size_t n = input_ids.size();
  if (!same_ids(stage.outputs, input_ids) || !all_have_size(n, stage.scale, stage.min)) {
    return fmt::format(
        "MinMaxScaler must preserve {} input IDs and have matching scale/min lengths", n);
  }
  for (std::size_t i = 0; i < n; ++i) {
    const double scale = stage.scale[i];
    if (!(scale > 0.0 && std::isfinite(scale)) || !std::isfinite(stage.min[i])) {
      return input_message(input_ids[i],
                           "MinMaxScaler scale must be positive and finite and min must be finite");
    }
  }
  if (stage.clip && !finite_increasing(stage.clip)) {
    return "MinMaxScaler clipping bounds must be finite and strictly increasing";
  }
  return std::nullopt;
}

Message check(const FittedStage::PowerTransform& stage, Ids input_ids) {
  const std::size_t n = input_ids.size();
  if (!same_ids(stage.outputs, input_ids) || !all_have_size(n, stage.lambdas, stage.mean, stage.scale)) {
    return fmt::format(
        "PowerTransformer must preserve {} input IDs and have matching lambdas/mean/scale lengths", n);
  }
  if (stage.method != "yeo-johnson" && stage.method != "box-cox") {
    return "PowerTransformer method must be yeo-johnson or box-cox";
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(stage.lambdas[i])) {
      return input_message(input_ids[i], "PowerTransformer lambda must be finite");
    }
    if (auto message = standard_scale_message(stage.mean, stage.scale, input_ids, i)) return message;
  }
  return std::nullopt;
}

// References from 0 (either sign) to 1, strictly increasing, within [0, 1].
bool valid_references(const std::vector<double>& references) {
  if (references.front() != 0.0) return false;
  if (references.size() > 1 && references.back() != 1.0) return false;
  for (std::size_t q = 0; q < references.size(); ++q) {
    const double r = references[q];
    if (!(r >= 0.0 && r <= 1.0)) return false;
    if (q > 0 && !(r > references[q - 1])) return false;
  }
  return true;
}

Message check(const FittedStage::QuantileTransform& stage, Ids input_ids) {
  const std::size_t n = input_ids.size();
  const std::size_t n_q = stage.quantiles.size();
  bool shaped = same_ids(stage.outputs, input_ids) && n_q >= 1 && stage.references.size() == n_q;
  for (const auto& row : stage.quantiles) shaped = shaped && row.size() == n;
  if (!shaped) {
    return fmt::format(
        "QuantileTransformer must preserve {} input IDs and have matching quantile/reference dimensions", n);
  }
  std::uint64_t cells = 0;
  if (__builtin_mul_overflow(std::uint64_t{n_q}, std::uint64_t{n}, &cells) ||
      cells >= kMaxStageValues || cells + n_q >= kMaxStageValues) {
    return "QuantileTransformer dimensions exceed addressable storage";
  }
  for (std::size_t q = 0; q < n_q; ++q) {
    bool ordered = all_finite(stage.quantiles[q]);
    for (std::size_t j = 0; ordered && q > 0 && j < n; ++j) {
      ordered = stage.quantiles[q - 1][j] <= stage.quantiles[q][j];
    }
    if (!ordered) return "QuantileTransformer quantiles must be finite and nondecreasing per column";
  }
  if (!increasing_below(stage.all_nan_input_indices, n)) {
    return fmt::format(
        "QuantileTransformer all-NaN input indices must be unique, increasing, and below {}", n);
  }
  if (!valid_references(stage.references)) {
    return "QuantileTransformer references must run from 0 to 1 in strictly increasing finite probabilities";
  }
  if (!(std::isfinite(stage.bounds_threshold) && stage.bounds_threshold >= 0.0)) {
    return "QuantileTransformer bounds threshold must be finite and nonnegative";
  }
  const bool uniform = stage.output_distribution == "uniform";
  if (!uniform && stage.output_distribution != "normal") {
    return "QuantileTransformer output distribution must be uniform or normal";
  }
  if (uniform && stage.normal_clip) return "uniform QuantileTransformer must not define normal clipping bounds";
  if (!uniform && !(stage.normal_clip && finite_increasing(stage.normal_clip))) {
    return "normal QuantileTransformer requires finite increasing clipping bounds";
  }
  return std::nullopt;
}

Message check(const FittedStage::SimpleImpute& stage, Ids input_ids) {
  const std::size_t n = input_ids.size();
  const std::size_t retained = stage.retained_input_indices.size();
  if (stage.replacement_values.size() != retained ||
      stage.outputs.size() != retained + stage.indicator_input_indices.size()) {
    return "SimpleImputer outputs, retained indices, replacements, and indicators have inconsistent lengths";
  }
  if (!increasing_below(stage.retained_input_indices, n) ||
      !increasing_below(stage.indicator_input_indices, n)) {
    return fmt::format("SimpleImputer input indices must be unique, increasing, and below {}", n);
  }
  if (!all_finite(stage.replacement_values)) return "SimpleImputer replacement values must be finite";
  for (std::size_t k = 0; k < retained; ++k) {
    if (stage.outputs[k] != input_ids[stage.retained_input_indices[k]]) {
      return "SimpleImputer retained output IDs must match their input IDs";
    }
  }
  return std::nullopt;
}

Message check(const FittedStage::Pca& stage, Ids input_ids) {
  const std::size_t n = input_ids.size();
  const std::size_t n_out = stage.outputs.size();
  bool shaped = n_out <= n && stage.mean.size() == n && all_have_size(n_out, stage.components, stage.output_scale);
  for (const auto& row : stage.components) shaped = shaped && row.size() == n;
  if (!shaped) {
    return fmt::format(
        "PCA requires mean[{0}], components[{1}][{0}], output_scale[{1}], and outputs <= inputs", n, n_out);
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(stage.mean[i])) return input_message(input_ids[i], "PCA mean must be finite");
  }
  for (std::size_t k = 0; k < n_out; ++k) {
    const double scale = stage.output_scale[k];
    if (!(scale > 0.0 && std::isfinite(scale)) || !all_finite(stage.components[k]) ||
        !std::isfinite(dot(stage.mean, stage.components[k]))) {
      return fmt::format(
          "output {}: PCA components/projected mean must be finite and output scale positive and finite",
          debug_quoted(stage.outputs[k]));
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string_view> FittedStage::outputs() const {
  std::vector<std::string_view> ids;
  if (const auto* scalar = std::get_if<Scalar>(&value)) {
    ids.reserve(scalar->transformations.size());
    for (const auto& t : scalar->transformations) ids.emplace_back(t.output());
    return ids;
  }
  std::visit(
      [&](const auto& stage) {
        if constexpr (!std::is_same_v<std::remove_cvref_t<decltype(stage)>, Scalar>) {
          ids.assign(stage.outputs.begin(), stage.outputs.end());
        }
      },
      value);
  return ids;
}

std::optional<std::string> FittedStage::validate(std::span<const std::string_view> input_ids) const {
  const std::vector<std::string_view> output_ids = outputs();
  if (input_ids.empty() || output_ids.empty()) return "input and output layouts must be nonempty";
  std::unordered_set<std::string_view> seen;
  for (const std::string_view id : output_ids) {
    if (features::is_reserved_feature_id(id) || !seen.insert(id).second) {
      return fmt::format("output {} is reserved or duplicated", debug_quoted(id));
    }
  }
  const std::uint64_t m = std::holds_alternative<Pca>(value) ? output_ids.size() : 1;
  std::uint64_t cells = 0;
  if (__builtin_mul_overflow(std::uint64_t{input_ids.size()}, m, &cells) || cells >= kMaxStageValues) {
    return "stage dimensions exceed addressable storage";
  }
  return std::visit([&](const auto& stage) { return check(stage, input_ids); }, value);
}

}  // namespace vorn
