// ExponentialMovingAverage: up to 16 windows of one input, each seeded by the
// first sample and then moved by alpha = 2 / (window + 1) per sample.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/indicators/construction.hpp"
#include "engine/types.hpp"

namespace vorn {

class ExponentialMovingAverage {
public:
  explicit ExponentialMovingAverage(WarmupPolicy policy) : policy_(policy) {}

  // A window of `window` samples. A length of 0 or a 17th window is a broken
  // invariant of the caller (validation refuses both).
  void add_window(std::uint64_t window);

  // Moves every window by a finite sample.
  void update(double value);

  // Window k's value once its warm-up policy is met, else NaN.
  double output(std::size_t k) const;

  std::size_t window_count() const { return window_count_; }
  double alpha(std::size_t k) const { return windows_[k].alpha; }

private:
  struct Window {
    double value = 0.0;
    bool present = false;
    std::uint64_t length = 0;
    double alpha = 0.0;
  };

  std::array<Window, kMaxWindows> windows_{};
  std::size_t window_count_ = 0;
  std::uint64_t counter_ = 0;
  WarmupPolicy policy_;
};

}  // namespace vorn
