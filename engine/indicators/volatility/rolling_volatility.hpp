// RollingVolatility: for up to 16 windows of the last n simple price returns,
// running Moments whose volatility is the window's population standard
// deviation.
#pragma once

#include <array>
#include <cstddef>
#include <optional>

#include "engine/errors.hpp"
#include "engine/indicators/construction.hpp"
#include "engine/indicators/volatility/moments.hpp"
#include "engine/indicators/volatility/simple_return.hpp"
#include "engine/ring_buffer.hpp"
#include "engine/types.hpp"

namespace vorn {

class RollingVolatility {
public:
  // A ring of `capacity` returns, the largest window length (0 is a broken
  // invariant of the caller); no window. Storage that cannot be obtained is
  // ConstructionFailed (see construction_failed).
  static Result<RollingVolatility> try_new(std::size_t capacity, WarmupPolicy policy);

  // A window of the last `length` returns (checks: check_count_window).
  Status add_window(std::size_t length);

  void update(double price);

  std::size_t window_count() const { return window_count_; }
  std::size_t length(std::size_t window) const { return lengths_[window]; }
  const Moments& moments(std::size_t window) const { return moments_[window]; }
  // Returns held, at most the largest window: the callers' readiness measure.
  std::size_t returns_held() const { return ring_.size(); }
  std::optional<double> last_price() const { return returns_.last_price; }
  WarmupPolicy policy() const { return policy_; }

private:
  RollingVolatility(HeapRingBuffer<double> ring, WarmupPolicy policy)
      : ring_(std::move(ring)), policy_(policy) {}

  SimpleReturn returns_;
  HeapRingBuffer<double> ring_;  // returns, oldest first
  WarmupPolicy policy_;
  std::array<std::size_t, kMaxWindows> lengths_{};
  std::array<Moments, kMaxWindows> moments_{};
  std::size_t window_count_ = 0;
};

}  // namespace vorn
