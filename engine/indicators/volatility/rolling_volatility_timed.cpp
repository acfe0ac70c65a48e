#include "engine/indicators/volatility/rolling_volatility_timed.hpp"

namespace vorn {

Result<RollingVolatilityTimed> RollingVolatilityTimed::try_new(Duration aggregation,
                                                               std::size_t capacity,
                                                               WarmupPolicy policy) {
  auto frame = Frame::try_new(aggregation, capacity, policy, IndicatorKind::VolatilityTimed);
  if (!frame) return std::unexpected(std::move(frame.error()));
  return RollingVolatilityTimed(std::move(*frame));
}

void RollingVolatilityTimed::update(double price, std::int64_t t) {
  frame_.start(t);
  observe(t);
  const auto r = returns_.next(price);
  if (!r) return;
  const BucketTime start = frame_.bucket_of(t);
  auto& ring = frame_.ring;
  if (!ring.empty() && ring.back().start == start) {
    ring.back().moments.add(*r);
    for (std::size_t i = 0; i < frame_.window_count; ++i) {
      if (counts_[i] > 0) {
        moments_[i].add(*r);
      } else if (!has_left(start, frame_.durations[i], t)) {
        moments_[i].add(*r);
        counts_[i] = 1;
      }
    }
    return;
  }
  MomentsBucket bucket{start, Moments{}};
  bucket.moments.add(*r);
  const std::size_t held_before = ring.size();
  const auto dropped = ring.push_back(bucket);
  for (std::size_t i = 0; i < frame_.window_count; ++i) {
    if (dropped && counts_[i] == held_before) {
      moments_[i].subtract(dropped->moments);  // one bucket out, one in
    } else {
      counts_[i] += 1;
    }
    moments_[i].merge(bucket.moments);
  }
}

bool RollingVolatilityTimed::observe(std::int64_t t) {
  if (!frame_.advance(t)) return false;
  for (std::size_t i = 0; i < frame_.window_count; ++i) {
    frame_.expire_newest(i, counts_[i], t,
                         [&](const MomentsBucket& bucket) { moments_[i].subtract(bucket.moments); });
  }
  frame_.refresh_readiness(t);
  return true;
}

}  // namespace vorn
