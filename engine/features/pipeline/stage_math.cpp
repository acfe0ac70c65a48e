#include "engine/features/pipeline/stage_math.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/features/pipeline/normal_quantile.hpp"

namespace vorn {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kEpsilon = 2.220446049250313e-16;

// (exp(l * lambda) - 1) / lambda, or l itself for lambda within eps of 0.
double power_of_log(double l, double lambda) {
  if (std::fabs(lambda) < kEpsilon) return l;
  return std::expm1(l * lambda) / lambda;
}

// The number of values of the sorted `column` that are <= x (at_most) or
// < x; the halving steps select without branching on the data.
template <bool at_most>
std::size_t count_up_to(std::span<const double> column, double x) {
  std::size_t n = column.size();
  if (n == 0) return 0;
  const double* base = column.data();
  while (n > 1) {
    const std::size_t half = n / 2;
    const bool below = at_most ? base[half] <= x : base[half] < x;
    base = below ? base + half : base;
    n -= half;
  }
  const bool last = at_most ? *base <= x : *base < x;
  return static_cast<std::size_t>(base - column.data()) + (last ? 1 : 0);
}

}  // namespace

double dot(std::span<const double> a, std::span<const double> b) {
  const std::size_t n = std::min(a.size(), b.size());
  double s = -0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double product = a[i] * b[i];
    s = s + product;
  }
  return s;
}

double power_transform(bool box_cox, double x, double lambda) {
  if (std::isnan(x)) return kNaN;
  if (box_cox) {
    if (x <= 0.0) return kNaN;
    return power_of_log(std::log(x), lambda);
  }
  if (x >= 0.0) return power_of_log(std::log1p(x), lambda);
  if (std::fabs(-2.0 + lambda) > kEpsilon) {
    const double d = 2.0 - lambda;
    return -std::expm1(std::log1p(-x) * d) / d;
  }
  return -std::log1p(-x);
}

double interpolate_at(std::size_t i, std::span<const double> xs, std::span<const double> ys, double x) {
  const std::size_t n = xs.size();
  if (i == 0) return ys[0];
  if (i == n) return ys[n - 1];
  const double slope = (ys[i] - ys[i - 1]) / (xs[i] - xs[i - 1]);
  const double offset = (x - xs[i - 1]) * slope;
  return offset + ys[i - 1];
}

double quantile_transform(std::span<const double> column, std::span<const double> references,
                          double x, double bounds_threshold, std::optional<ClipBounds> normal_clip) {
  if (std::isnan(x)) return kNaN;
  const std::size_t n = column.size();
  double value = 0.0;
  if (normal_clip && x - bounds_threshold < column[0]) {
    value = -kInfinity;
  } else if (normal_clip && x + bounds_threshold > column[n - 1]) {
    value = kInfinity;
  } else {
    if (!normal_clip) {
      if (x == column[0]) return 0.0;
      if (x == column[n - 1]) return 1.0;
    }
    // i counts the quantiles <= x and k those < x; they differ only when x
    // equals the quantile just below position i.
    const std::size_t i = count_up_to<true>(column, x);
    const std::size_t k = i > 0 && column[i - 1] == x ? count_up_to<false>(column.first(i), x) : i;
    const double up = interpolate_at(i, column, references, x);
    const double down = k < n && column[k] == x ? references[k] : interpolate_at(k, column, references, x);
    const double p = (up + down) * 0.5;
    if (!normal_clip) return p;
    value = normal_quantile(p);
  }
  return std::clamp(value, normal_clip->low, normal_clip->high);
}

double all_nan_quantile_transform(std::size_t n_quantiles, std::optional<ClipBounds> normal_clip,
                                  double x) {
  if (std::isnan(x)) return kNaN;
  if (n_quantiles < 2) return normal_clip ? normal_clip->low : 0.0;
  return kNaN;
}

}  // namespace vorn
