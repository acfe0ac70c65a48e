#include "engine/indicators/volatility/rolling_volatility_timed.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

RollingVolatilityTimed make_volatility(std::int64_t width, std::size_t capacity,
                                       std::vector<std::size_t> periods,
                                       WarmupPolicy policy = WarmupPolicy::FirstValue) {
  return oracle::with_windows(
      RollingVolatilityTimed::try_new(Duration::from_millis(width), capacity, policy), periods);
}

TEST(RollingVolatilityTimed, BucketLeavesAtItsWindowEnd) {
  auto v = make_volatility(1000, 3, {2});
  v.update(100.0, 0);    // starts the clock, no return
  v.update(110.0, 100);  // 0.1
  v.update(99.0, 1100);  // -0.1
  v.update(108.9, 1200); // about 0.1
  EXPECT_EQ(v.moments(0).count, 3u);
  EXPECT_EQ(v.bucket_count(0), 2u);
  EXPECT_TRUE(v.observe(2000));  // 0 + 2000 <= 2000: the first bucket leaves
  EXPECT_EQ(v.moments(0).count, 2u);
  EXPECT_EQ(v.bucket_count(0), 1u);
  EXPECT_NEAR(*v.moments(0).volatility(), 0.1, 1e-12);
  EXPECT_FALSE(v.observe(2000));
  EXPECT_TRUE(v.observe(3000));
  EXPECT_EQ(v.moments(0).count, 0u);
  EXPECT_EQ(v.moments(0).volatility(), std::nullopt);
}

TEST(RollingVolatilityTimed, FirstPriceStartsTheClock) {
  auto v = make_volatility(1000, 3, {2}, WarmupPolicy::FullWindow);
  v.update(0.0, 0);    // first price, zero: no return
  v.update(5.0, 500);  // after 0.0: no return
  EXPECT_EQ(v.moments(0).count, 0u);
  EXPECT_EQ(v.bucket_count(0), 0u);
  v.update(6.0, 1500);
  EXPECT_EQ(v.moments(0).count, 1u);
  EXPECT_EQ(v.moments(0).mean, 0.2);
  v.observe(1999);
  EXPECT_FALSE(v.ready(0));
  v.observe(2000);
  EXPECT_TRUE(v.ready(0));
  v.observe(1'000'000);
  EXPECT_TRUE(v.ready(0));
  EXPECT_EQ(v.moments(0).count, 0u);
}

// Random prices with zeros: each window's moments equal the two-pass moments
// of the returns whose buckets it covers (count and bucket count exact; mean
// and variance within 1e-9).
TEST(RollingVolatilityTimed, MatchesBucketedHistory) {
  const oracle::TimedCase cases[] = {
      {81, 1000, -4000, 6, WarmupPolicy::FirstValue},
      {82, 1, 17, 14, WarmupPolicy::FullWindow},
      {83, 2000, std::numeric_limits<std::int64_t>::min(), 3, WarmupPolicy::FullWindow},
  };
  struct Return {
    std::int64_t t;
    double r;
  };
  for (const auto& c : cases) {
    std::mt19937_64 rng(c.seed);
    const auto periods = oracle::random_periods(rng, c.max_period);
    auto v = make_volatility(c.width, c.max_period + 1, periods, c.policy);
    std::vector<Return> returns;
    std::optional<double> previous;
    std::optional<std::int64_t> first;
    double walk = 100.0;
    for (const auto& call : oracle::random_timed_calls(rng, 1500, c.start, c.width, c.max_period,
                                                       false)) {
      if (call.feeds) {
        walk = std::clamp(walk + call.a, 50.0, 150.0);
        const double price = call.b > 9.0 ? 0.0 : walk;
        v.update(price, call.t);
        if (!first) first = call.t;
        if (previous && *previous != 0.0) returns.push_back({call.t, (price - *previous) / *previous});
        previous = price;
      } else {
        v.observe(call.t);
      }
      for (std::size_t i = 0; i < periods.size(); ++i) {
        const std::int64_t duration = static_cast<std::int64_t>(periods[i]) * c.width;
        std::vector<double> inside;
        std::vector<__int128> starts;
        for (const Return& r : returns) {
          if (!oracle::oracle_covers(r.t, duration, call.t, c.width)) continue;
          inside.push_back(r.r);
          const __int128 start = oracle::oracle_bucket_start(r.t, c.width);
          if (starts.empty() || starts.back() != start) starts.push_back(start);
        }
        const Moments& m = v.moments(i);
        ASSERT_EQ(m.count, inside.size()) << "seed " << c.seed << " window " << i;
        ASSERT_EQ(v.bucket_count(i), starts.size());
        ASSERT_EQ(v.ready(i), oracle::oracle_ready(c.policy, first.has_value(), first.value_or(0),
                                                   call.t, duration));
        if (inside.empty()) continue;
        double mean = 0.0;
        for (double r : inside) mean += r;
        mean /= static_cast<double>(inside.size());
        double variance = 0.0;
        for (double r : inside) variance += (r - mean) * (r - mean);
        variance /= static_cast<double>(inside.size());
        ASSERT_NEAR(m.mean, mean, 1e-9);
        ASSERT_NEAR(m.m2 / static_cast<double>(m.count), variance, 1e-9);
      }
    }
  }
}

TEST(RollingVolatilityTimed, ConstructionAndWindowChecks) {
  using oracle::argument;
  EXPECT_TRUE(oracle::same_error(
      oracle::error_of(RollingVolatilityTimed::try_new(
          Duration::from_millis(1), std::numeric_limits<std::size_t>::max() / 64,
          WarmupPolicy::FirstValue)),
      oracle::construction_failed_for(IndicatorKind::VolatilityTimed)));
  EXPECT_TRUE(oracle::same_error(
      oracle::error_of(RollingVolatilityTimed::try_new(Duration::from_millis(1), 0,
                                                       WarmupPolicy::FirstValue)),
      argument(argument_error::RingBufferCapacityZero{})));
  auto v = make_volatility(1000, 3, {});
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(v.add_window(2).has_value());
  EXPECT_TRUE(oracle::same_error(oracle::error_of(v.add_window(0)),
                                 argument(argument_error::WindowLimitReached{16})));
}

}  // namespace
}  // namespace vorn
