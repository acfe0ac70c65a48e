// transformers::validate: checks a list of scalar transformation definitions
// against the feature ids of the layout they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/errors.hpp"
#include "engine/features/transformers/transformer_definition.hpp"
#include "engine/indicators/construction.hpp"

namespace vorn::transformers {

// EMA or SMA definitions of one input and one warm-up policy share one
// running state of at most this many windows.
inline constexpr std::size_t kMaxAverageOutputs = kMaxWindows;
inline constexpr std::uint64_t kMaxLagWindow = 10000;

// Nothing, or InvalidTransformationDefinition{index, reason} for the first
// definition that fails. Only membership in `input_ids` matters, not order.
Status validate(std::span<const TransformerDefinition> definitions,
                std::span<const std::string_view> input_ids);

// Why a standard scaling with this mean and scale is refused, checked in the
// order: mean finite, scale finite, scale positive, 1 / scale finite.
std::optional<InvalidTransformationDefinitionError> standard_scale_fault(double mean, double scale);

}  // namespace vorn::transformers
