#include "engine/indicators/volatility/rolling_volatility_timed.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

// Random prices with zeros: each window's moments equal the two-pass moments
// of the returns whose buckets it covers (count and bucket count exact; mean
// and variance within 1e-9); the first price starts the clock.
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
          EXPECT_EQ(v.bucket_count(i), starts.size());
          oracle::expect_moments(v.moments(i), inside, 1e-9);
        });
  }
}

}  // namespace
}  // namespace vorn
