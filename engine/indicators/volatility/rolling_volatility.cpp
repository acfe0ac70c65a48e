#include "engine/indicators/volatility/rolling_volatility.hpp"

namespace vorn {

Result<RollingVolatility> RollingVolatility::try_new(std::size_t capacity, WarmupPolicy policy) {
  auto ring = try_ring<double>(capacity, IndicatorKind::Volatility);
  if (!ring) return std::unexpected(std::move(ring.error()));
  return RollingVolatility(std::move(*ring), policy);
}

Status RollingVolatility::add_window(std::size_t length) {
  if (auto checked = check_count_window(window_count_, length, ring_.capacity(), !ring_.empty());
      !checked) {
    return checked;
  }
  lengths_[window_count_] = length;
  moments_[window_count_] = Moments{};
  ++window_count_;
  return {};
}

void RollingVolatility::update(double price) {
  const auto r = returns_.next(price);
  if (!r) return;
  const auto dropped = ring_.push_back(*r);
  const std::size_t held = ring_.size();
  for (std::size_t i = 0; i < window_count_; ++i) {
    const std::size_t n = lengths_[i];
    moments_[i].add(*r);
    if (dropped && n == ring_.capacity()) {
      moments_[i].remove(*dropped);
    } else if (n < held) {
      moments_[i].remove(ring_[held - 1 - n]);
    }
  }
}

}  // namespace vorn
