// Time buckets of the timed indicators and the frame they share. A bucket
// starts at the timestamp rounded down to a multiple of the bucket width (the
// Euclidean remainder), a window of p buckets lasts p × width, and readiness,
// once reached, stays. TimedFrame holds the ring of buckets, the clock, the
// window durations and the ready flags; each indicator keeps its own sums.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>
#include <utility>

#include "engine/errors.hpp"
#include "engine/indicators/construction.hpp"
#include "engine/panic.hpp"
#include "engine/ring_buffer.hpp"
#include "engine/types.hpp"

namespace vorn {

// Bucket starts and window ends are kept in 128 bits: near the ends of the
// timestamp range t − (t mod w) falls below INT64_MIN and start + duration
// rises above INT64_MAX, and both must still compare exactly.
using BucketTime = __int128;

// t − (t mod width) with the remainder in [0, width); width ≥ 1.
constexpr BucketTime bucket_start(std::int64_t t, std::int64_t width) {
  std::int64_t remainder = t % width;
  if (remainder < 0) remainder += width;
  return BucketTime{t} - remainder;
}

// A bucket has left a window of `duration` once start + duration ≤ `now`.
constexpr bool has_left(BucketTime start, std::int64_t duration, BucketTime now) {
  return start + duration <= now;
}

inline constexpr std::uint32_t kNanosPerMilli = 1'000'000;

// seconds × 1000 + nanoseconds / 1 000 000, exact for every duration.
constexpr unsigned __int128 whole_millis(Duration d) {
  return static_cast<unsigned __int128>(d.seconds) * 1000 + d.nanos / kNanosPerMilli;
}
constexpr bool has_millisecond_precision(Duration d) { return d.nanos % kNanosPerMilli == 0; }

inline constexpr auto kMaxMillis = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max());

// The bucket width in milliseconds of an aggregation, checked in this order:
// under one millisecond (zero included) AggregationTooShort; a fraction of a
// millisecond DurationPrecision; 2^63 ms or more DurationOutOfRange (both
// naming the aggregation).
Result<std::int64_t> bucket_width(Duration aggregation);

template <class Bucket, std::size_t N>
struct TimedFrame {
  HeapRingBuffer<Bucket> ring;  // oldest bucket first
  std::int64_t width;           // bucket width in ms, at least 1
  WarmupPolicy policy;
  bool started = false;  // set by the first update
  std::int64_t first_timestamp = 0;
  bool observed = false;
  std::int64_t last_observed = 0;
  std::array<std::int64_t, N> durations{};  // ms, a whole number of buckets
  std::array<bool, N> ready{};
  std::size_t window_count = 0;
  // The last bucket start computed, reused while timestamps stay inside
  // that bucket (no division then).
  bool all_ready = false;  // every window ready: readiness needs no more checks
  bool has_bucket = false;
  BucketTime last_bucket = 0;

  // Checks in this order: capacity 0 RingBufferCapacityZero; ring storage
  // (ConstructionFailed for `kind`, see construction_failed); the
  // aggregation (bucket_width).
  static Result<TimedFrame> try_new(Duration aggregation, std::size_t capacity,
                                    WarmupPolicy policy, IndicatorKind kind) {
    if (capacity == 0) return argument_failure(argument_error::RingBufferCapacityZero{});
    auto ring = try_ring<Bucket>(capacity, kind);
    if (!ring) return std::unexpected(std::move(ring.error()));
    auto width = bucket_width(aggregation);
    if (!width) return std::unexpected(std::move(width.error()));
    return TimedFrame{std::move(*ring), *width, policy};
  }

  // A window of `period` buckets, not ready. Checks in this order: the N-th
  // window is the last (WindowLimitReached), period 0, period not below the
  // ring capacity, a bucket already held (WindowAddedAfterData), period or
  // duration beyond signed 64-bit.
  Status add_window(std::size_t period) {
    if (window_count == N) return argument_failure(argument_error::WindowLimitReached{N});
    if (period == 0) return argument_failure(argument_error::WindowPeriodZero{});
    if (period >= ring.capacity()) {
      return argument_failure(
          argument_error::WindowPeriodMustBeLessThanCapacity{period, ring.capacity()});
    }
    if (!ring.empty()) return argument_failure(argument_error::WindowAddedAfterData{});
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    if (period > static_cast<std::uint64_t>(kMax)) {
      return argument_failure(argument_error::WindowPeriodOutOfRange{WindowPeriodTarget::Signed64});
    }
    const BucketTime duration = BucketTime{static_cast<std::int64_t>(period)} * width;
    if (duration > kMax) return argument_failure(argument_error::WindowDurationOutOfRange{});
    durations[window_count] = static_cast<std::int64_t>(duration);
    ready[window_count] = false;
    ++window_count;
    return {};
  }

  // Appends a bucket. When the ring was full its oldest bucket is dropped and
  // every window's oldest ring position (`oldest`) moves down by one, not
  // below 0.
  void push_shifting(const Bucket& bucket, std::array<std::size_t, N>& oldest) {
    if (!ring.push_back(bucket)) return;
    for (std::size_t i = 0; i < window_count; ++i) {
      if (oldest[i] > 0) --oldest[i];
    }
  }

  // Window i's oldest ring position moved past the buckets that have left it
  // at `now` (a bucket start), each handed to `leave` oldest first.
  template <class Leave>
  std::size_t expire_from(std::size_t i, std::size_t position, BucketTime now, Leave&& leave) const {
    while (position < ring.size() && has_left(ring[position].start, durations[i], now)) {
      leave(ring[position]);
      ++position;
    }
    return position;
  }

  // Window i holds the `count` newest buckets; those that have left it at
  // `t` are handed to `leave` oldest first and no longer counted. A count
  // above the ring's length is a broken invariant.
  template <class Leave>
  void expire_newest(std::size_t i, std::size_t& count, std::int64_t t, Leave&& leave) const {
    if (count > ring.size()) panic("window bucket count exceeds the ring length");
    while (count > 0 && has_left(ring[ring.size() - count].start, durations[i], t)) {
      leave(ring[ring.size() - count]);
      --count;
    }
  }

  // bucket_start(t, width), remembered for the next timestamps of the same bucket.
  BucketTime bucket_of(std::int64_t t) {
    if (has_bucket && t >= last_bucket && BucketTime{t} - last_bucket < width) return last_bucket;
    last_bucket = bucket_start(t, width);
    has_bucket = true;
    return last_bucket;
  }

  // The first update starts the clock and refreshes readiness.
  void start(std::int64_t t) {
    if (started) return;
    started = true;
    first_timestamp = t;
    refresh_readiness(t);
  }

  // False, changing nothing, when `t` repeats the last observed timestamp;
  // otherwise records it.
  bool advance(std::int64_t t) {
    if (observed && t == last_observed) return false;
    observed = true;
    last_observed = t;
    return true;
  }

  // Sticky: FirstValue makes every window ready, FullWindow a window whose
  // duration has passed since the first update (the difference taken without
  // overflow). Nothing happens before the first update.
  void refresh_readiness(std::int64_t t) {
    if (!started || all_ready) return;
    const BucketTime elapsed = BucketTime{t} - first_timestamp;
    bool all = true;
    for (std::size_t i = 0; i < window_count; ++i) {
      if (policy == WarmupPolicy::FirstValue || elapsed >= durations[i]) ready[i] = true;
      all = all && ready[i];
    }
    all_ready = all;
  }
};

}  // namespace vorn
