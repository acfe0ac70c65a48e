// RollingVolatilityTimed: for up to 16 time windows of whole buckets, running
// Moments of the simple price returns made inside the window's buckets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/errors.hpp"
#include "engine/indicators/construction.hpp"
#include "engine/indicators/time_buckets.hpp"
#include "engine/indicators/volatility/moments.hpp"
#include "engine/indicators/volatility/simple_return.hpp"
#include "engine/types.hpp"

namespace vorn {

struct MomentsBucket {
  BucketTime start;
  Moments moments;  // of the returns made inside the bucket
};

class RollingVolatilityTimed {
public:
  // A ring of `capacity` buckets (the largest period + 1) of the
  // aggregation's width; no window. Checks: TimedFrame::try_new.
  static Result<RollingVolatilityTimed> try_new(Duration aggregation, std::size_t capacity,
                                                WarmupPolicy policy);

  // A window of `period` buckets (checks: TimedFrame::add_window).
  Status add_window(std::size_t period) { return frame_.add_window(period); }

  // The first price starts the clock without making a return.
  void update(double price, std::int64_t t);

  // Advances time; false, changing nothing, on a repeated timestamp.
  bool observe(std::int64_t t);

  std::size_t window_count() const { return frame_.window_count; }
  const Moments& moments(std::size_t window) const { return moments_[window]; }
  std::size_t bucket_count(std::size_t window) const { return counts_[window]; }
  bool ready(std::size_t window) const { return frame_.ready[window]; }
  std::optional<double> last_price() const { return returns_.last_price; }
  WarmupPolicy policy() const { return frame_.policy; }

private:
  using Frame = TimedFrame<MomentsBucket, kMaxWindows>;
  explicit RollingVolatilityTimed(Frame frame) : frame_(std::move(frame)) {}

  SimpleReturn returns_;
  Frame frame_;
  std::array<std::size_t, kMaxWindows> counts_{};  // how many of the newest buckets a window holds
  std::array<Moments, kMaxWindows> moments_{};
};

}  // namespace vorn
