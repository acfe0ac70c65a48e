// SimpleMovingAverage: for up to 16 windows of the last n samples, the running
// sum and the average over the samples held (fewer than n at the start).
#pragma once

#include <array>
#include <cstddef>

#include "engine/errors.hpp"
#include "engine/indicators/construction.hpp"
#include "engine/ring_buffer.hpp"
#include "engine/types.hpp"

namespace vorn {

class SimpleMovingAverage {
public:
  // A ring of `capacity` samples, the largest window length (0 is a broken
  // invariant of the caller); no window. Storage that cannot be obtained is
  // ConstructionFailed (see construction_failed).
  static Result<SimpleMovingAverage> try_new(std::size_t capacity, WarmupPolicy policy);

  // A window of the last `length` samples (checks: check_count_window).
  Status add_window(std::size_t length);

  void update(double value);

  std::size_t window_count() const { return window_count_; }
  std::size_t length(std::size_t window) const { return lengths_[window]; }
  double sum(std::size_t window) const { return sums_[window]; }
  double average(std::size_t window) const { return averages_[window]; }
  // Samples held, at most the largest window: the callers' readiness measure.
  std::size_t samples_held() const { return ring_.size(); }
  WarmupPolicy policy() const { return policy_; }

private:
  SimpleMovingAverage(HeapRingBuffer<double> ring, WarmupPolicy policy)
      : ring_(std::move(ring)), policy_(policy) {}

  HeapRingBuffer<double> ring_;  // samples, oldest first
  WarmupPolicy policy_;
  std::array<std::size_t, kMaxWindows> lengths_{};
  std::array<double, kMaxWindows> sums_{};
  std::array<double, kMaxWindows> averages_{};
  std::size_t window_count_ = 0;
};

}  // namespace vorn
