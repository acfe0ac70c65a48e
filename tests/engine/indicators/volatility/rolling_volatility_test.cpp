#include "engine/indicators/volatility/rolling_volatility.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

// Random prices with zeros and sign changes: each window's moments equal the
// two-pass moments of the last min(n, held) returns of the whole history; no
// return follows a zero price, a negative one is used as it is.
TEST(RollingVolatility, MatchesReturnHistory) {
  std::mt19937_64 rng(71);
  const std::size_t capacity = 25;
  const auto lengths = oracle::random_windows(rng, capacity);
  auto v = oracle::with_windows(RollingVolatility::try_new(capacity, WarmupPolicy::FullWindow), lengths);
  std::vector<double> returns;
  std::optional<double> previous;
  double walk = 100.0;
  for (int step = 0; step < 3000; ++step) {
    walk = std::clamp(walk + oracle::random_value(rng, false), 50.0, 150.0);
    const auto kind = rng() % 100;
    const double price = kind < 3 ? 0.0 : kind < 5 ? -walk : walk;
    v.update(price);
    if (previous && *previous != 0.0) returns.push_back((price - *previous) / *previous);
    previous = price;
    ASSERT_EQ(v.returns_held(), std::min(returns.size(), capacity));
    for (std::size_t i = 0; i < lengths.size(); ++i) {
      const std::size_t taken = std::min(returns.size(), lengths[i]);
      oracle::expect_moments(v.moments(i), std::span(returns).last(taken), 1e-9);
    }
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace vorn
