#include "engine/indicators/volume/on_balance_volume_timed.hpp"

namespace vorn {
namespace {

// The sign of price − previous price.
double direction(double price, double previous) {
  const double change = price - previous;
  if (change > 0.0) return 1.0;
  if (change < 0.0) return -1.0;
  return 0.0;
}

}  // namespace

Result<OnBalanceVolumeTimed> OnBalanceVolumeTimed::try_new(Duration aggregation,
                                                           std::size_t capacity,
                                                           WarmupPolicy policy) {
  auto frame = Frame::try_new(aggregation, capacity, policy, IndicatorKind::ObvTimed);
  if (!frame) return std::unexpected(std::move(frame.error()));
  return OnBalanceVolumeTimed(std::move(*frame));
}

void OnBalanceVolumeTimed::update(std::int64_t t, double price, double volume) {
  frame_.start(t);
  observe(t);
  const BucketTime start = frame_.bucket_of(t);
  auto& ring = frame_.ring;
  if (!ring.empty() && ring.back().start == start) {
    const std::size_t newest = ring.size() - 1;
    const double d = newest == 0 ? 0.0 : direction(price, ring[newest - 1].last_price);
    ObvBucket& bucket = ring.back();
    const double old_volume = bucket.volume;
    const double old_direction = bucket.direction;
    bucket = ObvBucket{start, price, old_volume + volume, d};
    add_to_windows(d * bucket.volume - old_volume * old_direction);
    return;
  }
  const double d = ring.empty() ? 0.0 : direction(price, ring.back().last_price);
  frame_.push_shifting(ObvBucket{start, price, volume, d}, oldest_);
  add_to_windows(d * volume);
}

bool OnBalanceVolumeTimed::observe(std::int64_t t) {
  if (!frame_.advance(t)) return false;
  const BucketTime now = frame_.bucket_of(t);
  for (std::size_t i = 0; i < frame_.window_count; ++i) {
    oldest_[i] = frame_.expire_from(i, oldest_[i], now, [&](const ObvBucket& bucket) {
      sums_[i] = sums_[i] - bucket.direction * bucket.volume;
    });
  }
  frame_.refresh_readiness(t);
  return true;
}

void OnBalanceVolumeTimed::add_to_windows(double amount) {
  for (std::size_t i = 0; i < frame_.window_count; ++i) sums_[i] = sums_[i] + amount;
}

}  // namespace vorn
