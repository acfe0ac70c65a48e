// CompiledStage: a validated FittedStage with its parameters rearranged for
// evaluation (inverse scales, column-major quantiles, flat PCA rows and the
// projected mean computed once), and the step that runs it on a refresh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "engine/errors.hpp"
#include "engine/features/pipeline/stages.hpp"
#include "engine/features/transformers/transformer.hpp"
#include "engine/vectors.hpp"

namespace vorn {

struct CompiledStage {
  struct Scalar {
    std::vector<Transformer> transformers;
    std::size_t output_count = 0;
  };
  struct Select {
    std::vector<std::size_t> input_indices;
  };
  struct StandardScale {
    std::vector<double> mean;
    std::vector<double> inverse_scale;
  };
  struct MinMaxScale {
    std::optional<ClipBounds> clip;
    std::vector<double> scale;
    std::vector<double> min;
  };
  struct PowerTransform {
    std::vector<double> lambdas;
    std::vector<double> mean;
    std::vector<double> inverse_scale;
    bool box_cox = false;
  };
  // The normal output distribution is exactly the case with `normal_clip`.
  struct QuantileTransform {
    std::optional<ClipBounds> normal_clip;
    std::vector<std::uint8_t> all_nan;  // 1 for a column that was all NaN when fitted
    std::vector<double> quantiles;      // n_quantiles per input column, column after column
    std::vector<double> references;
    std::size_t n_quantiles = 0;
    double bounds_threshold = 0.0;
  };
  struct SimpleImpute {
    std::vector<std::size_t> retained_input_indices;
    std::vector<std::size_t> indicator_input_indices;
    std::vector<double> replacement_values;
  };
  struct Pca {
    std::vector<double> components;  // one row of input_count values per output
    std::vector<double> projected_mean;
    std::vector<double> output_scale;
    std::size_t input_count = 0;
  };

  using Variant = std::variant<Scalar, Select, StandardScale, MinMaxScale, PowerTransform,
                               QuantileTransform, SimpleImpute, Pca>;
  Variant value;

  template <class T>
    requires(std::is_constructible_v<Variant, T &&> &&
             !std::is_same_v<std::remove_cvref_t<T>, CompiledStage>)
  CompiledStage(T&& stage) : value(std::forward<T>(stage)) {}

  // `stage` passed FittedStage::validate against the same `input_ids`. Only a
  // scalar stage can fail, when a transformer's storage cannot be obtained
  // (the error of transformers::compile).
  static Result<CompiledStage> compile(const FittedStage& stage, std::span<const std::string_view> input_ids);

  // Rewrites every output cell and clears every byte of `out_flags` before
  // setting the output flags; `observed` reaches a scalar stage's transformers.
  void apply(std::span<const double> in_values, std::span<const std::uint8_t> in_flags,
             VecFeatureVector& out, std::span<std::uint8_t> out_flags, bool observed);
};

}  // namespace vorn
