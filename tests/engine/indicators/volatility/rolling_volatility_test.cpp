#include "engine/indicators/volatility/rolling_volatility.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

RollingVolatility make_volatility(std::size_t capacity, std::vector<std::size_t> lengths) {
  return oracle::with_windows(RollingVolatility::try_new(capacity, WarmupPolicy::FullWindow),
                             lengths);
}

TEST(RollingVolatility, ReturnsOfPrices) {
  auto v = make_volatility(2, {2, 1});
  v.update(100.0);
  EXPECT_EQ(v.returns_held(), 0u);
  EXPECT_EQ(v.moments(1).volatility(), std::nullopt);  // no return yet
  v.update(110.0);
  EXPECT_EQ(v.moments(1).volatility(), 0.0);  // one return
  v.update(99.0);
  EXPECT_EQ(v.moments(0).count, 2u);
  EXPECT_EQ(v.moments(0).mean, 0.0);  // returns 0.1 and -0.1
  EXPECT_NEAR(*v.moments(0).volatility(), 0.1, 1e-16);
  EXPECT_EQ(v.moments(1).count, 1u);
  EXPECT_EQ(v.moments(1).volatility(), 0.0);
}

TEST(RollingVolatility, NoReturnAfterAZeroPrice) {
  auto v = make_volatility(4, {4});
  v.update(-0.0);
  v.update(5.0);  // after -0.0: no return
  EXPECT_EQ(v.returns_held(), 0u);
  v.update(0.0);  // -1
  v.update(5.0);  // after 0.0: no return
  EXPECT_EQ(v.returns_held(), 1u);
  EXPECT_EQ(v.last_price(), 5.0);
  v.update(6.0);  // 0.2
  EXPECT_EQ(v.returns_held(), 2u);
  EXPECT_NEAR(v.moments(0).mean, (-1.0 + 0.2) / 2.0, 1e-15);
  v.update(-3.0);  // -1.5
  v.update(-6.0);  // a negative previous price is used as it is: 1
  EXPECT_EQ(v.returns_held(), 4u);
  EXPECT_NEAR(v.moments(0).mean, (-1.0 + 0.2 - 1.5 + 1.0) / 4.0, 1e-15);
}

// Random prices with zeros and sign changes: each window's moments equal the
// two-pass moments of the last min(n, held) returns of the whole history
// (count exact; mean and variance within 1e-9).
TEST(RollingVolatility, MatchesReturnHistory) {
  std::mt19937_64 rng(71);
  const std::size_t capacity = 25;
  const auto lengths = oracle::random_windows(rng, capacity);
  auto v = make_volatility(capacity, lengths);
  std::vector<double> returns;
  std::optional<double> previous;
  std::uniform_int_distribution<int> pick(0, 99);
  double walk = 100.0;
  for (int step = 0; step < 3000; ++step) {
    walk = std::clamp(walk + oracle::random_value(rng, false), 50.0, 150.0);
    const int kind = pick(rng);
    const double price = kind < 3 ? 0.0 : kind < 5 ? -walk : walk;
    v.update(price);
    if (previous && *previous != 0.0) returns.push_back((price - *previous) / *previous);
    previous = price;
    ASSERT_EQ(v.returns_held(), std::min(returns.size(), capacity));
    for (std::size_t i = 0; i < lengths.size(); ++i) {
      const std::size_t taken = std::min(returns.size(), lengths[i]);
      const Moments& m = v.moments(i);
      ASSERT_EQ(m.count, taken);
      if (taken == 0) continue;
      double mean = 0.0;
      for (std::size_t k = returns.size() - taken; k < returns.size(); ++k) mean += returns[k];
      mean /= static_cast<double>(taken);
      double variance = 0.0;
      for (std::size_t k = returns.size() - taken; k < returns.size(); ++k) {
        variance += (returns[k] - mean) * (returns[k] - mean);
      }
      variance /= static_cast<double>(taken);
      ASSERT_NEAR(m.mean, mean, 1e-9);
      ASSERT_NEAR(m.m2 / static_cast<double>(m.count), variance, 1e-9);
    }
  }
}

}  // namespace
}  // namespace vorn
