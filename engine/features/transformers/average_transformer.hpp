// AverageTransformer: the EMA or SMA windows of one input and one warm-up
// policy, advanced once per refresh in which that input was written with a
// finite value, and rewritten to their output cells on every refresh.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "engine/features/transformers/exponential_moving_average.hpp"
#include "engine/indicators/averages/simple_moving_average.hpp"
#include "engine/vectors.hpp"

namespace vorn {

struct AverageTransformer {
  static constexpr std::size_t kMaxOutputs = kMaxWindows;
  using State = std::variant<ExponentialMovingAverage, SimpleMovingAverage>;

  // Output cell of each window, in member order.
  std::array<std::size_t, kMaxOutputs> outputs{};
  // The value last computed for each output; NaN until then.
  std::array<double, kMaxOutputs> values{};
  std::size_t output_count = 0;
  std::size_t input = 0;
  State state;

  void apply(std::span<const double> in_values, std::span<const std::uint8_t> in_flags,
             VecFeatureVector& out, std::span<std::uint8_t> out_flags);
};

}  // namespace vorn
