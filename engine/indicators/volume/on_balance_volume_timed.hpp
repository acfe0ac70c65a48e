// OnBalanceVolumeTimed: for up to 16 time windows of whole buckets, the sum of
// direction × volume over the buckets, where a bucket's direction compares
// its last price with the last price of the bucket before it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/errors.hpp"
#include "engine/indicators/construction.hpp"
#include "engine/indicators/time_buckets.hpp"
#include "engine/types.hpp"

namespace vorn {

struct ObvBucket {
  BucketTime start;
  double last_price;  // price of the latest observation in the bucket
  double volume;      // summed volume of the bucket
  double direction;   // +1.0, -1.0 or 0.0
};

class OnBalanceVolumeTimed {
public:
  // A ring of `capacity` buckets (the largest period + 1) of the
  // aggregation's width; no window. Checks: TimedFrame::try_new.
  static Result<OnBalanceVolumeTimed> try_new(Duration aggregation, std::size_t capacity,
                                              WarmupPolicy policy);

  // A window of `period` buckets (checks: TimedFrame::add_window).
  Status add_window(std::size_t period) { return frame_.add_window(period); }

  void update(std::int64_t t, double price, double volume);

  // Advances time; false, changing nothing, on a repeated timestamp. A window
  // left without buckets keeps whatever its running sum holds.
  bool observe(std::int64_t t);

  std::size_t window_count() const { return frame_.window_count; }
  double sum(std::size_t window) const { return sums_[window]; }
  bool ready(std::size_t window) const { return frame_.ready[window]; }
  WarmupPolicy policy() const { return frame_.policy; }

private:
  using Frame = TimedFrame<ObvBucket, kMaxWindows>;
  explicit OnBalanceVolumeTimed(Frame frame) : frame_(std::move(frame)) {}

  void add_to_windows(double amount);

  Frame frame_;
  std::array<double, kMaxWindows> sums_{};
  std::array<std::size_t, kMaxWindows> oldest_{};  // ring position of the oldest bucket in the window
};

}  // namespace vorn
