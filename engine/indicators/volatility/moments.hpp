// Moments: running count, mean and sum of squared deviations (m2) of a set of
// returns, with add, remove, merge and subtract, and the population
// volatility they give.
#pragma once

#include <cstdint>
#include <optional>

namespace vorn {

struct Moments {
  std::uint64_t count = 0;
  double mean = 0.0;
  double m2 = 0.0;  // sum of squared deviations from the mean

  void add(double x);
  // Removing the only value leaves the empty moments.
  void remove(double x);
  // Adds the values that `other` describes; into empty moments it copies.
  void merge(const Moments& other);
  // Takes away the values that `other` describes (a subset of these).
  void subtract(const Moments& other);

  // The population standard deviation, sqrt(max(m2 / count, 0.0)); absent
  // when count is 0. The clamp removes tiny negative m2 left by removals.
  std::optional<double> volatility() const;

  friend bool operator==(const Moments&, const Moments&) = default;
};

}  // namespace vorn
