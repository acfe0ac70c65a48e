#include "engine/features/transformers/exponential_moving_average.hpp"

#include <cmath>
#include <limits>

#include "engine/panic.hpp"

namespace vorn {

namespace {

// 2 / (window + 1), the sum taken exactly: the largest window gives 2 / 2^64
// instead of wrapping to a division by zero.
double alpha_of(std::uint64_t window) {
  if (window == std::numeric_limits<std::uint64_t>::max()) return 2.0 / 0x1p64;
  return 2.0 / static_cast<double>(window + 1);
}

}  // namespace

void ExponentialMovingAverage::add_window(std::uint64_t window) {
  if (window == 0 || window_count_ == kMaxWindows) panic("validated average windows");
  windows_[window_count_] = Window{0.0, false, window, alpha_of(window)};
  ++window_count_;
}

void ExponentialMovingAverage::update(double value) {
  ++counter_;
  for (std::size_t j = 0; j < window_count_; ++j) {
    Window& w = windows_[j];
    if (!w.present) {
      w.value = value;
      w.present = true;
      continue;
    }
    const double a = 1.0 - w.alpha;
    const double b = w.alpha * value;
    const double kept = a * w.value;
    w.value = kept + b;
  }
}

double ExponentialMovingAverage::output(std::size_t k) const {
  const Window& w = windows_[k];
  const bool ready = policy_ == WarmupPolicy::FirstValue ? counter_ > 0 : counter_ >= w.length;
  return ready && w.present ? w.value : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace vorn
