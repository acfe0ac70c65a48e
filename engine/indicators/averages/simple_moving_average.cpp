#include "engine/indicators/averages/simple_moving_average.hpp"

#include <algorithm>

namespace vorn {

Result<SimpleMovingAverage> SimpleMovingAverage::try_new(std::size_t capacity,
                                                         WarmupPolicy policy) {
  auto ring = try_ring<double>(capacity, IndicatorKind::Sma);
  if (!ring) return std::unexpected(std::move(ring.error()));
  return SimpleMovingAverage(std::move(*ring), policy);
}

Status SimpleMovingAverage::add_window(std::size_t length) {
  if (auto checked = check_count_window(window_count_, length, ring_.capacity(), !ring_.empty());
      !checked) {
    return checked;
  }
  lengths_[window_count_] = length;
  sums_[window_count_] = 0.0;
  averages_[window_count_] = 0.0;
  ++window_count_;
  return {};
}

void SimpleMovingAverage::update(double value) {
  const auto dropped = ring_.push_back(value);
  const std::size_t held = ring_.size();
  const std::size_t position = held - 1;
  for (std::size_t i = 0; i < window_count_; ++i) {
    const std::size_t n = lengths_[i];
    double leaving = 0.0;
    if (dropped && n == ring_.capacity()) {
      leaving = *dropped;
    } else if (n < held) {
      leaving = ring_[position - n];
    }
    sums_[i] = sums_[i] + value - leaving;
    averages_[i] = sums_[i] / static_cast<double>(std::min(n, held));
  }
}

}  // namespace vorn
