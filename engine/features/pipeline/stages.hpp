// FittedStage: one step of the model-input pipeline after layer 1, with
// parameters fitted offline (standard and min-max scaling, power and quantile
// transforms, imputation, column selection, PCA, or a group of scalar
// transformations); its output layout and its validation against the layout
// it reads.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "engine/features/transformers/transformer_definition.hpp"

namespace vorn {

// Output bounds of a clipping stage: low < high once validated.
struct ClipBounds {
  double low = 0.0;
  double high = 0.0;
  friend bool operator==(const ClipBounds&, const ClipBounds&) = default;
};

struct FittedStage {
  // Scalar transformations over the preceding layout; output i is
  // transformation i's output.
  struct Scalar {
    std::vector<TransformerDefinition> transformations;
    friend bool operator==(const Scalar&, const Scalar&) = default;
  };
  // Output k copies input input_indices[k].
  struct Select {
    std::vector<std::string> outputs;
    std::vector<std::size_t> input_indices;
    friend bool operator==(const Select&, const Select&) = default;
  };
  // (x - mean) / scale per input.
  struct StandardScale {
    std::vector<std::string> outputs;
    std::vector<double> mean;
    std::vector<double> scale;
    friend bool operator==(const StandardScale&, const StandardScale&) = default;
  };
  // scale * x + min per input, optionally clipped.
  struct MinMaxScale {
    std::optional<ClipBounds> clip;
    std::vector<std::string> outputs;
    std::vector<double> scale;
    std::vector<double> min;
    friend bool operator==(const MinMaxScale&, const MinMaxScale&) = default;
  };
  // Yeo-Johnson or Box-Cox per input, then standardised.
  struct PowerTransform {
    std::vector<std::string> outputs;
    std::string method;  // "yeo-johnson" or "box-cox"
    std::vector<double> lambdas;
    std::vector<double> mean;
    std::vector<double> scale;
    friend bool operator==(const PowerTransform&, const PowerTransform&) = default;
  };
  // Each input mapped through its empirical quantiles to a uniform or normal
  // output. `quantiles` is quantile-major: row q holds the q-th quantile of
  // every input; `references` are the rows' probabilities from 0 to 1.
  struct QuantileTransform {
    std::optional<ClipBounds> normal_clip;
    std::vector<std::string> outputs;
    std::string output_distribution;  // "uniform" or "normal"
    std::vector<std::vector<double>> quantiles;
    std::vector<double> references;
    std::vector<std::size_t> all_nan_input_indices;
    double bounds_threshold = 0.0;
    friend bool operator==(const QuantileTransform&, const QuantileTransform&) = default;
  };
  // NaN replaced in the retained inputs, then one missing-value indicator per
  // indicator input.
  struct SimpleImpute {
    std::vector<std::string> outputs;
    std::vector<std::size_t> retained_input_indices;
    std::vector<double> replacement_values;
    std::vector<std::size_t> indicator_input_indices;
    friend bool operator==(const SimpleImpute&, const SimpleImpute&) = default;
  };
  // Output k = (components[k] . (x - mean)) / output_scale[k].
  struct Pca {
    std::vector<std::string> outputs;
    std::vector<double> mean;
    std::vector<std::vector<double>> components;
    std::vector<double> output_scale;
    friend bool operator==(const Pca&, const Pca&) = default;
  };

  using Variant = std::variant<Scalar, Select, StandardScale, MinMaxScale, PowerTransform,
                               QuantileTransform, SimpleImpute, Pca>;
  Variant value;

  template <class T>
    requires(std::is_constructible_v<Variant, T &&> &&
             !std::is_same_v<std::remove_cvref_t<T>, FittedStage>)
  FittedStage(T&& stage) : value(std::forward<T>(stage)) {}

  // The output layout; the views point into this stage.
  std::vector<std::string_view> outputs() const;

  // Nothing, or the message of the first failed check against the layout the
  // stage reads (the preceding layer's outputs).
  std::optional<std::string> validate(std::span<const std::string_view> input_ids) const;

  friend bool operator==(const FittedStage&, const FittedStage&) = default;
};

}  // namespace vorn
