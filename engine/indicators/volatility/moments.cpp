#include "engine/indicators/volatility/moments.hpp"

#include <cmath>

namespace vorn {

void Moments::add(double x) {
  count += 1;
  const double d = x - mean;
  mean = mean + d / static_cast<double>(count);
  m2 = m2 + (x - mean) * d;
}

void Moments::remove(double x) {
  if (count <= 1) {
    *this = Moments{};
    return;
  }
  count -= 1;
  const double d = x - mean;
  mean = mean - d / static_cast<double>(count);
  m2 = m2 - (x - mean) * d;
}

void Moments::merge(const Moments& other) {
  if (count == 0) {
    *this = other;
    return;
  }
  const double n = static_cast<double>(count);
  const double nb = static_cast<double>(other.count);
  const std::uint64_t total = count + other.count;
  const double big_n = static_cast<double>(total);
  const double d = other.mean - mean;
  mean = mean + d * nb / big_n;
  m2 = m2 + other.m2 + d * d * n * nb / big_n;
  count = total;
}

void Moments::subtract(const Moments& other) {
  if (count == other.count) {
    *this = Moments{};
    return;
  }
  const double n = static_cast<double>(count);
  const double nb = static_cast<double>(other.count);
  const std::uint64_t rest = count - other.count;
  const double big_n = static_cast<double>(rest);
  const double new_mean = (mean * n - other.mean * nb) / big_n;
  const double d = other.mean - new_mean;
  m2 = m2 - other.m2 - d * d * big_n * nb / n;
  mean = new_mean;
  count = rest;
}

std::optional<double> Moments::volatility() const {
  if (count == 0) return std::nullopt;
  double variance = m2 / static_cast<double>(count);
  // A NaN variance stays NaN (it is not clamped to 0.0).
  if (variance < 0.0) variance = 0.0;
  return std::sqrt(variance);
}

}  // namespace vorn
