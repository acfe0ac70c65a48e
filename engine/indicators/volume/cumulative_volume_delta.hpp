// CumulativeVolumeDelta: for up to 16 windows of the last n trades, the sum of
// the signed trade quantities (buys positive, sells negative).
#pragma once

#include <array>
#include <cstddef>

#include "engine/errors.hpp"
#include "engine/indicators/construction.hpp"
#include "engine/ring_buffer.hpp"
#include "engine/types.hpp"

namespace vorn {

class CumulativeVolumeDelta {
public:
  // A ring of `capacity` quantities, the largest window length (0 is a broken
  // invariant of the caller); no window. Storage that cannot be obtained is
  // ConstructionFailed (see construction_failed).
  static Result<CumulativeVolumeDelta> try_new(std::size_t capacity, WarmupPolicy policy);

  // A window of the last `length` trades (checks: check_count_window).
  Status add_window(std::size_t length);

  // Adds one trade: the quantity, negated for a sell.
  void update_inner(AggressorSide side, double quantity);

  std::size_t window_count() const { return window_count_; }
  std::size_t length(std::size_t window) const { return lengths_[window]; }
  double sum(std::size_t window) const { return sums_[window]; }
  // Trades held, at most the largest window: the callers' readiness measure.
  std::size_t trades_held() const { return ring_.size(); }
  WarmupPolicy policy() const { return policy_; }

private:
  CumulativeVolumeDelta(HeapRingBuffer<double> ring, WarmupPolicy policy)
      : ring_(std::move(ring)), policy_(policy) {}

  HeapRingBuffer<double> ring_;  // signed quantities, oldest first
  WarmupPolicy policy_;
  std::array<std::size_t, kMaxWindows> lengths_{};
  std::array<double, kMaxWindows> sums_{};
  std::size_t window_count_ = 0;
};

}  // namespace vorn
