#include "engine/features/transformers/validate.hpp"

#include <cmath>
#include <map>
#include <tuple>
#include <unordered_set>

#include "engine/features/feature_id.hpp"

namespace vorn::transformers {

std::optional<InvalidTransformationDefinitionError> standard_scale_fault(double mean, double scale) {
  using enum InvalidTransformationDefinitionError;
  if (!std::isfinite(mean)) return MeanNotFinite;
  if (!std::isfinite(scale)) return ScaleNotFinite;
  if (scale <= 0.0) return ScaleNotPositive;
  if (1.0 / scale == INFINITY) return InverseScaleNotFinite;
  return std::nullopt;
}

namespace {

std::optional<InvalidTransformationDefinitionError> variant_fault(
    const TransformerDefinition& definition,
    std::map<std::tuple<bool, std::string_view, WarmupPolicy>, std::size_t>& average_counts) {
  using enum InvalidTransformationDefinitionError;
  const auto average_fault = [&](bool is_ema, const auto& d)
      -> std::optional<InvalidTransformationDefinitionError> {
    if (d.window == 0) return WindowZero;
    if (++average_counts[{is_ema, d.input, d.warmup}] > kMaxAverageOutputs) return TooManyAverageOutputs;
    return std::nullopt;
  };
  if (const auto* ema = std::get_if<TransformerDefinition::Ema>(&definition.value)) {
    return average_fault(true, *ema);
  }
  if (const auto* sma = std::get_if<TransformerDefinition::Sma>(&definition.value)) {
    return average_fault(false, *sma);
  }
  if (const auto* lag = std::get_if<TransformerDefinition::Lagged>(&definition.value)) {
    if (lag->lag_window == 0) return LagWindowZero;
    if (lag->lag_window > kMaxLagWindow) return LagWindowTooLarge;
    return std::nullopt;
  }
  if (const auto* scale = std::get_if<TransformerDefinition::StandardScale>(&definition.value)) {
    return standard_scale_fault(scale->mean, scale->scale);
  }
  return std::nullopt;
}

}  // namespace

Status validate(std::span<const TransformerDefinition> definitions,
                std::span<const std::string_view> input_ids) {
  const std::unordered_set<std::string_view> inputs(input_ids.begin(), input_ids.end());
  std::unordered_set<std::string_view> outputs;
  std::map<std::tuple<bool, std::string_view, WarmupPolicy>, std::size_t> average_counts;
  for (std::size_t i = 0; i < definitions.size(); ++i) {
    using enum InvalidTransformationDefinitionError;
    const TransformerDefinition& definition = definitions[i];
    std::optional<InvalidTransformationDefinitionError> fault;
    if (!inputs.contains(definition.input())) {
      fault = InputFeatureNotFound;
    } else if (features::is_reserved_feature_id(definition.output())) {
      fault = ReservedOutputFeature;
    } else if (!outputs.insert(definition.output()).second) {
      fault = DuplicateOutputFeature;
    } else {
      fault = variant_fault(definition, average_counts);
    }
    if (fault) return std::unexpected(VornError{vorn_error::InvalidTransformationDefinition{i, *fault}});
  }
  return {};
}

}  // namespace vorn::transformers
