#include "engine/features/transformers/average_transformer.hpp"

#include <cmath>
#include <limits>

#include "engine/features/cell_access.hpp"

namespace vorn {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// SMA window k once enough samples are held for its warm-up policy, else NaN.
double sma_output(const SimpleMovingAverage& sma, std::size_t k) {
  const std::size_t held = sma.samples_held();
  const bool ready = sma.policy() == WarmupPolicy::FirstValue ? held > 0 : held >= sma.length(k);
  return ready ? sma.average(k) : kNaN;
}

}  // namespace

void AverageTransformer::apply(std::span<const double> in_values,
                               std::span<const std::uint8_t> in_flags, VecFeatureVector& out,
                               std::span<std::uint8_t> out_flags) {
  const std::uint8_t flag = cell_at(in_flags, input);
  if (flag != 0) {
    const double x = cell_at(in_values, input);
    if (!std::isfinite(x)) {
      for (std::size_t k = 0; k < output_count; ++k) values[k] = kNaN;
    } else if (auto* ema = std::get_if<ExponentialMovingAverage>(&state)) {
      ema->update(x);
      for (std::size_t k = 0; k < output_count; ++k) values[k] = ema->output(k);
    } else {
      auto& sma = std::get<SimpleMovingAverage>(state);
      sma.update(x);
      for (std::size_t k = 0; k < output_count; ++k) values[k] = sma_output(sma, k);
    }
  }
  for (std::size_t k = 0; k < output_count; ++k) {
    out.set_value_at(outputs[k], values[k]);
    cell_at(out_flags, outputs[k]) = flag;
  }
}

}  // namespace vorn
