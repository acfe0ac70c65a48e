// RollingTimedSum: for up to N time windows at once, the lane-wise sums of K
// values over the recent past, time cut into buckets of a fixed width. It
// drives timed trade volume (K 1), timed VWAP (K 2) and, with one window,
// the timed trade count.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <utility>

#include "engine/errors.hpp"
#include "engine/indicators/construction.hpp"
#include "engine/indicators/time_buckets.hpp"
#include "engine/types.hpp"

namespace vorn {

template <std::size_t K>
struct TimedSumBucket {
  BucketTime start;               // the bucket's first millisecond
  std::array<double, K> values;   // sums of what was added inside the bucket
};

template <std::size_t K, std::size_t N>
class RollingTimedSum {
public:
  using Values = std::array<double, K>;

  // A sum with a ring of `capacity` buckets of the aggregation's width and no
  // window. Checks in this order: capacity 0, ring storage, aggregation
  // (TimedFrame::try_new). Storage that cannot be obtained is
  // ConstructionFailed (see construction_failed).
  static Result<RollingTimedSum> new_heap(Duration aggregation, std::size_t capacity,
                                          WarmupPolicy policy) {
    auto frame = Frame::try_new(aggregation, capacity, policy, kKind);
    if (!frame) return std::unexpected(std::move(frame.error()));
    return RollingTimedSum(std::move(*frame));
  }

  // A window of `period` buckets with zero sums (checks: TimedFrame::add_window).
  Status add_window(std::size_t period) { return frame_.add_window(period); }

  // Adds one observation at `t`; timestamps never decrease.
  void update(const Values& values, std::int64_t t) {
    frame_.start(t);
    observe(t);
    const BucketTime start = frame_.bucket_of(t);
    auto& ring = frame_.ring;
    if (!ring.empty() && ring.back().start == start) {
      add_lanes(ring.back().values, values);
    } else {
      frame_.push_shifting(Bucket{start, values}, oldest_);
    }
    for (std::size_t i = 0; i < frame_.window_count; ++i) add_lanes(sums_[i], values);
  }

  // Advances time to `t` without adding; false, changing nothing, when `t`
  // repeats the last observed timestamp. Buckets leave a window once
  // start + duration ≤ the bucket start of `t`; a window left without a
  // bucket reads exactly 0.0.
  bool observe(std::int64_t t) {
    if (!frame_.advance(t)) return false;
    const BucketTime now = frame_.bucket_of(t);
    for (std::size_t i = 0; i < frame_.window_count; ++i) {
      Values& sums = sums_[i];
      oldest_[i] = frame_.expire_from(i, oldest_[i], now, [&](const Bucket& bucket) {
        for (std::size_t k = 0; k < K; ++k) sums[k] = sums[k] - bucket.values[k];
      });
      if (oldest_[i] == frame_.ring.size()) sums.fill(0.0);
    }
    frame_.refresh_readiness(t);
    return true;
  }

  std::size_t window_count() const { return frame_.window_count; }
  const Values& sums(std::size_t window) const { return sums_[window]; }
  bool ready(std::size_t window) const { return frame_.ready[window]; }
  std::int64_t duration(std::size_t window) const { return frame_.durations[window]; }
  WarmupPolicy policy() const { return frame_.policy; }

private:
  using Bucket = TimedSumBucket<K>;
  using Frame = TimedFrame<Bucket, N>;
  // The kind a storage failure names: the three uses of the sum.
  static constexpr IndicatorKind kKind = K == 2   ? IndicatorKind::VwapTimed
                                         : N == 1 ? IndicatorKind::TradeCountTimed
                                                  : IndicatorKind::TradeVolumeTimed;

  explicit RollingTimedSum(Frame frame) : frame_(std::move(frame)) {}

  static void add_lanes(Values& into, const Values& values) {
    for (std::size_t k = 0; k < K; ++k) into[k] = into[k] + values[k];
  }

  Frame frame_;
  std::array<Values, N> sums_{};
  std::array<std::size_t, N> oldest_{};  // ring position of the oldest bucket in the window
};

}  // namespace vorn
