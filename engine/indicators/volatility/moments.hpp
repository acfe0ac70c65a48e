// Moments: running count, mean and sum of squared deviations (m2) of a set of
// returns, with add, remove, merge and subtract, and the population
// volatility they give.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

namespace vorn {

struct Moments {
  std::uint64_t count = 0;
  double mean = 0.0;
  double m2 = 0.0;  // sum of squared deviations from the mean

  void add(double x) {
    count += 1;
    const double d = x - mean;
    mean = mean + d / static_cast<double>(count);
    m2 = m2 + (x - mean) * d;
  }
  // Removing the only value leaves the empty moments.
  void remove(double x) {
    if (count <= 1) {
      *this = Moments{};
      return;
    }
    count -= 1;
    const double d = x - mean;
    mean = mean - d / static_cast<double>(count);
    m2 = m2 - (x - mean) * d;
  }
  // Adds the values that `other` describes; into empty moments it copies.
  void merge(const Moments& other);
  // Takes away the values that `other` describes (a subset of these).
  void subtract(const Moments& other);

  // The population standard deviation, sqrt(max(m2 / count, 0.0)); absent
  // when count is 0. The clamp removes tiny negative m2 left by removals.
  std::optional<double> volatility() const {
    if (count == 0) return std::nullopt;
    double variance = m2 / static_cast<double>(count);
    // A NaN variance stays NaN (it is not clamped to 0.0).
    if (variance < 0.0) variance = 0.0;
    return std::sqrt(variance);
  }

  friend bool operator==(const Moments&, const Moments&) = default;
};

}  // namespace vorn
