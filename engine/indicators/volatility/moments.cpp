#include "engine/indicators/volatility/moments.hpp"

namespace vorn {

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

}  // namespace vorn
