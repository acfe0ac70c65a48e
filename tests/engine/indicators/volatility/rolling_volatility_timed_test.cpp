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
    std::vector<Return> returns;
    std::optional<double> previous;
    double walk = 100.0;
    oracle::drive_timed(
        c, false, RollingVolatilityTimed::try_new,
        [&](auto& v, const oracle::TimedCall& call) {
          walk = std::clamp(walk + call.a, 50.0, 150.0);
          const double price = call.b > 9.0 ? 0.0 : walk;
          v.update(price, call.t);
          if (previous && *previous != 0.0) returns.push_back({call.t, (price - *previous) / *previous});
          previous = price;
        },
        [&](const auto& v, std::size_t i, std::int64_t duration, const oracle::TimedCall& now) {
          std::vector<double> inside;
          std::vector<__int128> starts;
          for (const Return& r : returns) {
            if (!oracle::oracle_covers(r.t, duration, now.t, c.width)) continue;
            inside.push_back(r.r);
            const __int128 start = oracle::oracle_bucket_start(r.t, c.width);
            if (starts.empty() || starts.back() != start) starts.push_back(start);
          }
          const Moments& m = v.moments(i);
          EXPECT_EQ(m.count, inside.size());
          EXPECT_EQ(v.bucket_count(i), starts.size());
          if (inside.empty()) return;
          double mean = 0.0;
          for (double r : inside) mean += r;
          mean /= static_cast<double>(inside.size());
          double variance = 0.0;
          for (double r : inside) variance += (r - mean) * (r - mean);
          variance /= static_cast<double>(inside.size());
          EXPECT_NEAR(m.mean, mean, 1e-9);
          EXPECT_NEAR(m.m2 / static_cast<double>(m.count), variance, 1e-9);
        });
  }
}

}  // namespace
}  // namespace vorn
