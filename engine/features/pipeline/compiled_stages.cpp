#include "engine/features/pipeline/compiled_stages.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/features/cell_access.hpp"
#include "engine/features/pipeline/stage_math.hpp"
#include "engine/features/transformers/compile.hpp"
#include "engine/panic.hpp"

namespace vorn {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> inverses(const std::vector<double>& scale) {
  std::vector<double> inverse(scale.size());
  for (std::size_t i = 0; i < scale.size(); ++i) inverse[i] = 1.0 / scale[i];
  return inverse;
}

// std::clamp needs low <= high; validation makes it so.
void require_ordered(const std::optional<ClipBounds>& clip) {
  if (clip && !(clip->low <= clip->high)) panic("clipping bounds are ordered");
}

Result<CompiledStage> compile_stage(const FittedStage::Scalar& stage, std::span<const std::string_view> input_ids) {
  auto transformers = transformers::compile(stage.transformations, input_ids);
  if (!transformers) return std::unexpected(std::move(transformers.error()));
  return CompiledStage::Scalar{std::move(*transformers), stage.transformations.size()};
}

Result<CompiledStage> compile_stage(const FittedStage::Select& stage, std::span<const std::string_view>) {
  return CompiledStage::Select{stage.input_indices};
}

Result<CompiledStage> compile_stage(const FittedStage::StandardScale& stage, std::span<const std::string_view>) {
  return CompiledStage::StandardScale{stage.mean, inverses(stage.scale)};
}

Result<CompiledStage> compile_stage(const FittedStage::MinMaxScale& stage, std::span<const std::string_view>) {
  require_ordered(stage.clip);
  return CompiledStage::MinMaxScale{stage.clip, stage.scale, stage.min};
}

Result<CompiledStage> compile_stage(const FittedStage::PowerTransform& stage, std::span<const std::string_view>) {
  return CompiledStage::PowerTransform{stage.lambdas, stage.mean, inverses(stage.scale),
                                       stage.method == "box-cox"};
}

Result<CompiledStage> compile_stage(const FittedStage::QuantileTransform& stage,
                                    std::span<const std::string_view> input_ids) {
  require_ordered(stage.normal_clip);
  const std::size_t n = input_ids.size();
  const std::size_t n_q = stage.quantiles.size();
  if (n_q == 0) panic("a quantile transform has at least one quantile");
  CompiledStage::QuantileTransform compiled{stage.normal_clip, std::vector<std::uint8_t>(n, 0), {},
                                            stage.references, n_q, stage.bounds_threshold};
  for (std::size_t j : stage.all_nan_input_indices) cell_at(std::span(compiled.all_nan), j) = 1;
  compiled.quantiles.resize(n * n_q);
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t q = 0; q < n_q; ++q) compiled.quantiles[j * n_q + q] = stage.quantiles[q][j];
  }
  return compiled;
}

Result<CompiledStage> compile_stage(const FittedStage::SimpleImpute& stage, std::span<const std::string_view>) {
  return CompiledStage::SimpleImpute{stage.retained_input_indices, stage.indicator_input_indices,
                                     stage.replacement_values};
}

Result<CompiledStage> compile_stage(const FittedStage::Pca& stage, std::span<const std::string_view>) {
  const std::size_t n = stage.mean.size();
  CompiledStage::Pca compiled{{}, {}, stage.output_scale, n};
  compiled.components.reserve(stage.components.size() * n);
  for (const auto& row : stage.components) {
    compiled.components.insert(compiled.components.end(), row.begin(), row.end());
    compiled.projected_mean.push_back(dot(stage.mean, row));
  }
  return compiled;
}

// ---- apply, by variant ------------------------------------------------------

struct Run {
  std::span<const double> x;
  std::span<const std::uint8_t> in_flags;
  VecFeatureVector& out;
  std::span<std::uint8_t> out_flags;
  bool observed;

  // Output flag i = input flag i for the first n cells; checks the widths.
  void positional(std::size_t n) const {
    require_width(x, n);
    require_width(in_flags, n);
    require_width(out_flags, n);
    require_width(out.cells(), n);
    std::copy_n(in_flags.begin(), n, out_flags.begin());
  }

  void operator()(CompiledStage::Scalar& s) const {
    for (std::size_t k = 0; k < s.output_count; ++k) out.set_value_at(k, kNaN);
    for (Transformer& t : s.transformers) t.apply(x, in_flags, out, out_flags, observed);
  }

  void operator()(const CompiledStage::Select& s) const {
    for (std::size_t k = 0; k < s.input_indices.size(); ++k) {
      const std::size_t i = s.input_indices[k];
      cell_at(out_flags, k) = cell_at(in_flags, i);
      out.set_value_at(k, cell_at(x, i));
    }
  }

  void operator()(const CompiledStage::StandardScale& s) const {
    const std::size_t n = s.mean.size();
    positional(n);
    std::span<double> y = out.cells();
    for (std::size_t i = 0; i < n; ++i) {
      const double centred = x[i] - s.mean[i];
      y[i] = centred * s.inverse_scale[i];
    }
  }

  void operator()(const CompiledStage::MinMaxScale& s) const {
    const std::size_t n = s.scale.size();
    positional(n);
    std::span<double> y = out.cells();
    for (std::size_t i = 0; i < n; ++i) {
      const double scaled = s.scale[i] * x[i];
      const double v = scaled + s.min[i];
      y[i] = s.clip && !std::isnan(v) ? std::clamp(v, s.clip->low, s.clip->high) : v;
    }
  }

  void operator()(const CompiledStage::PowerTransform& s) const {
    const std::size_t n = s.lambdas.size();
    positional(n);
    std::span<double> y = out.cells();
    for (std::size_t i = 0; i < n; ++i) {
      const double centred = power_transform(s.box_cox, x[i], s.lambdas[i]) - s.mean[i];
      y[i] = centred * s.inverse_scale[i];
    }
  }

  void operator()(const CompiledStage::QuantileTransform& s) const {
    const std::size_t n = s.all_nan.size();
    positional(n);
    std::span<double> y = out.cells();
    const std::span<const double> quantiles = s.quantiles;
    for (std::size_t j = 0; j < n; ++j) {
      y[j] = s.all_nan[j] != 0
                 ? all_nan_quantile_transform(s.n_quantiles, s.normal_clip, x[j])
                 : quantile_transform(quantiles.subspan(j * s.n_quantiles, s.n_quantiles),
                                      s.references, x[j], s.bounds_threshold, s.normal_clip);
    }
  }

  void operator()(const CompiledStage::SimpleImpute& s) const {
    const std::size_t retained = s.retained_input_indices.size();
    for (std::size_t k = 0; k < retained; ++k) {
      const std::size_t i = s.retained_input_indices[k];
      cell_at(out_flags, k) = cell_at(in_flags, i);
      const double v = cell_at(x, i);
      out.set_value_at(k, std::isnan(v) ? s.replacement_values[k] : v);
    }
    for (std::size_t m = 0; m < s.indicator_input_indices.size(); ++m) {
      const std::size_t i = s.indicator_input_indices[m];
      cell_at(out_flags, retained + m) = cell_at(in_flags, i);
      out.set_value_at(retained + m, std::isnan(cell_at(x, i)) ? 1.0 : 0.0);
    }
  }

  void operator()(const CompiledStage::Pca& s) const {
    const std::size_t n = s.input_count;
    const std::size_t n_out = s.output_scale.size();
    require_width(x, n);
    require_width(in_flags, n);
    require_width(out_flags, n_out);
    require_width(out.cells(), n_out);
    const bool flagged = std::any_of(in_flags.begin(), in_flags.begin() + n, [](std::uint8_t f) { return f != 0; });
    std::fill_n(out_flags.begin(), n_out, flagged ? 1 : 0);
    std::span<double> y = out.cells();
    if (!std::all_of(x.begin(), x.begin() + n, [](double v) { return std::isfinite(v); })) {
      std::fill_n(y.begin(), n_out, kNaN);
      return;
    }
    // Eight outputs side by side, each summed on its own in index order.
    constexpr std::size_t kBlock = 8;
    const double* rows = s.components.data();
    std::size_t k = 0;
    for (; k + kBlock <= n_out; k += kBlock) {
      const double* block = rows + k * n;
      double sums[kBlock];
      for (double& sum : sums) sum = -0.0;
      for (std::size_t i = 0; i < n; ++i) {
        const double xi = x[i];
        for (std::size_t b = 0; b < kBlock; ++b) {
          const double product = xi * block[b * n + i];
          sums[b] = sums[b] + product;
        }
      }
      for (std::size_t b = 0; b < kBlock; ++b) {
        y[k + b] = (sums[b] - s.projected_mean[k + b]) / s.output_scale[k + b];
      }
    }
    for (; k < n_out; ++k) {
      const double projected = dot(x.first(n), std::span(rows + k * n, n));
      y[k] = (projected - s.projected_mean[k]) / s.output_scale[k];
    }
  }
};

}  // namespace

Result<CompiledStage> CompiledStage::compile(const FittedStage& stage,
                                             std::span<const std::string_view> input_ids) {
  return std::visit([&](const auto& fitted) { return compile_stage(fitted, input_ids); }, stage.value);
}

void CompiledStage::apply(std::span<const double> in_values, std::span<const std::uint8_t> in_flags,
                          VecFeatureVector& out, std::span<std::uint8_t> out_flags, bool observed) {
  std::fill(out_flags.begin(), out_flags.end(), std::uint8_t{0});
  std::visit(Run{in_values, in_flags, out, out_flags, observed}, value);
}

}  // namespace vorn
