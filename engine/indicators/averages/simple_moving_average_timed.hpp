// SimpleMovingAverageTimed: for up to 16 time windows of whole buckets, the
// mean of the bucket means (every bucket weighs the same, whatever its sample
// count); 0.0 for a window that holds no bucket.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/errors.hpp"
#include "engine/indicators/construction.hpp"
#include "engine/indicators/time_buckets.hpp"
#include "engine/types.hpp"

namespace vorn {

struct MeanBucket {
  BucketTime start;
  double mean;  // mean of the bucket's samples
};

class SimpleMovingAverageTimed {
public:
  // A ring of `capacity` buckets (the largest period + 1) of the
  // aggregation's width; no window. Checks: TimedFrame::try_new.
  static Result<SimpleMovingAverageTimed> try_new(Duration aggregation, std::size_t capacity,
                                                  WarmupPolicy policy);

  // A window of `period` buckets (checks: TimedFrame::add_window).
  Status add_window(std::size_t period) { return frame_.add_window(period); }

  void update(double value, std::int64_t t);

  // Advances time; false, changing nothing, on a repeated timestamp. A
  // window left without buckets averages 0.0; its running sum keeps any
  // rounding residue.
  bool observe(std::int64_t t);

  std::size_t window_count() const { return frame_.window_count; }
  double average(std::size_t window) const { return averages_[window]; }
  std::size_t bucket_count(std::size_t window) const { return counts_[window]; }
  bool ready(std::size_t window) const { return frame_.ready[window]; }
  WarmupPolicy policy() const { return frame_.policy; }

private:
  using Frame = TimedFrame<MeanBucket, kMaxWindows>;
  explicit SimpleMovingAverageTimed(Frame frame) : frame_(std::move(frame)) {}

  Frame frame_;
  double current_sum_ = 0.0;  // of the newest bucket's samples
  std::size_t current_count_ = 0;
  std::array<std::size_t, kMaxWindows> counts_{};  // how many of the newest buckets a window holds
  std::array<double, kMaxWindows> sums_{};         // of those buckets' means
  std::array<double, kMaxWindows> averages_{};
};

}  // namespace vorn
