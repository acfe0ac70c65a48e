#include "engine/indicators/volume/cumulative_volume_delta.hpp"

namespace vorn {

Result<CumulativeVolumeDelta> CumulativeVolumeDelta::try_new(std::size_t capacity,
                                                             WarmupPolicy policy) {
  auto ring = try_ring<double>(capacity, IndicatorKind::Cvd);
  if (!ring) return std::unexpected(std::move(ring.error()));
  return CumulativeVolumeDelta(std::move(*ring), policy);
}

Status CumulativeVolumeDelta::add_window(std::size_t length) {
  if (auto checked = check_count_window(window_count_, length, ring_.capacity(), !ring_.empty());
      !checked) {
    return checked;
  }
  lengths_[window_count_] = length;
  sums_[window_count_] = 0.0;
  ++window_count_;
  return {};
}

void CumulativeVolumeDelta::update_inner(AggressorSide side, double quantity) {
  const double signed_quantity = side == AggressorSide::Sell ? -quantity : quantity;
  const std::size_t held = ring_.size();
  for (std::size_t i = 0; i < window_count_; ++i) {
    sums_[i] = sums_[i] + signed_quantity;
    // The quantity that leaves a window of the last n trades.
    if (lengths_[i] <= held) sums_[i] = sums_[i] - ring_[held - lengths_[i]];
  }
  ring_.push_back(signed_quantity);
}

}  // namespace vorn
