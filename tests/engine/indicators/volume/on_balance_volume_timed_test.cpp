#include "engine/indicators/volume/on_balance_volume_timed.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "engine/indicators/timed_sum.hpp"
#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

OnBalanceVolumeTimed make_obv(std::int64_t width, std::size_t capacity,
                              std::vector<std::size_t> periods,
                              WarmupPolicy policy = WarmupPolicy::FirstValue) {
  return oracle::with_windows(
      OnBalanceVolumeTimed::try_new(Duration::from_millis(width), capacity, policy), periods);
}

TEST(OnBalanceVolumeTimed, DirectionFollowsTheBucketsLastPrice) {
  auto obv = make_obv(1000, 3, {2});
  obv.update(0, 10.0, 3.0);  // the first bucket has direction 0
  EXPECT_EQ(obv.sum(0), 0.0);
  obv.update(1000, 11.0, 5.0);
  EXPECT_EQ(obv.sum(0), 5.0);
  obv.update(1500, 9.0, 2.0);  // same bucket, now below the bucket before it
  EXPECT_EQ(obv.sum(0), -7.0);
  obv.update(2000, 9.0, 4.0);  // equal price: direction 0
  EXPECT_EQ(obv.sum(0), -7.0);
  obv.observe(3000);  // the bucket at 1000 leaves
  EXPECT_EQ(obv.sum(0), 0.0);
  // The bucket at 2000 has left every window, yet the next one compares with it.
  obv.update(5000, 8.0, 1.0);
  EXPECT_EQ(obv.sum(0), -1.0);
}

TEST(OnBalanceVolumeTimed, EmptiedWindowKeepsItsResidueWhileTimedSumReadsZero) {
  auto obv = make_obv(1000, 4, {3});
  auto sum = RollingTimedSum<1, 16>::new_heap(Duration::from_millis(1000), 4,
                                              WarmupPolicy::FirstValue)
                 .value();
  ASSERT_TRUE(sum.add_window(3).has_value());
  const double prices[] = {10.0, 11.0, 12.0};
  const double volumes[] = {0.0, 0.1, 0.2};
  for (int i = 0; i < 3; ++i) {
    obv.update(i * 1000, prices[i], volumes[i]);
    sum.update({volumes[i]}, i * 1000);
  }
  obv.observe(100'000);
  sum.observe(100'000);
  const double residue = ((0.0 + 0.1 + 0.2) - 0.0 - 0.1) - 0.2;
  EXPECT_NE(residue, 0.0);
  EXPECT_EQ(obv.sum(0), residue);
  EXPECT_EQ(sum.sums(0)[0], 0.0);
}

// Random trades with integer prices and volumes: each window equals the sum
// of direction × volume over the covered buckets of the bucketed history.
TEST(OnBalanceVolumeTimed, MatchesBucketedHistory) {
  const oracle::TimedCase cases[] = {
      {31, 1000, -7000, 6, WarmupPolicy::FirstValue},
      {32, 1, 0, 15, WarmupPolicy::FullWindow},
      {33, 500, std::numeric_limits<std::int64_t>::min(), 4, WarmupPolicy::FullWindow},
  };
  struct Bucket {
    __int128 start;
    double last_price;
    double volume;
    double direction;
  };
  for (const auto& c : cases) {
    std::mt19937_64 rng(c.seed);
    const auto periods = oracle::random_periods(rng, c.max_period);
    auto obv = make_obv(c.width, c.max_period + 1, periods, c.policy);
    std::vector<Bucket> buckets;
    std::vector<std::int64_t> trade_times;
    double price = 100.0;
    for (const auto& call : oracle::random_timed_calls(rng, 1500, c.start, c.width, c.max_period,
                                                       true)) {
      if (call.feeds) {
        price += static_cast<double>(static_cast<int>(call.a) % 3);  // up, down or level
        const double volume = std::abs(call.b);
        obv.update(call.t, price, volume);
        trade_times.push_back(call.t);
        const __int128 start = oracle::oracle_bucket_start(call.t, c.width);
        if (buckets.empty() || buckets.back().start != start) {
          buckets.push_back({start, price, 0.0, 0.0});
        }
        Bucket& b = buckets.back();
        b.last_price = price;
        b.volume += volume;
        b.direction = buckets.size() < 2 ? 0.0
                      : price > buckets[buckets.size() - 2].last_price ? 1.0
                      : price < buckets[buckets.size() - 2].last_price ? -1.0
                                                                      : 0.0;
      } else {
        obv.observe(call.t);
      }
      const __int128 now = oracle::oracle_bucket_start(call.t, c.width);
      for (std::size_t i = 0; i < periods.size(); ++i) {
        const std::int64_t duration = static_cast<std::int64_t>(periods[i]) * c.width;
        double expected = 0.0;
        for (const Bucket& b : buckets) {
          if (b.start + duration > now) expected += b.direction * b.volume;
        }
        ASSERT_EQ(obv.sum(i), expected) << "seed " << c.seed << " window " << i;
        ASSERT_EQ(obv.ready(i), oracle::oracle_ready(c.policy, !trade_times.empty(),
                                                     trade_times.empty() ? 0 : trade_times[0],
                                                     call.t, duration));
      }
    }
  }
}

TEST(OnBalanceVolumeTimed, ConstructionAndWindowChecks) {
  using oracle::argument;
  EXPECT_TRUE(oracle::same_error(
      oracle::error_of(OnBalanceVolumeTimed::try_new(Duration::from_millis(1),
                                                     std::numeric_limits<std::size_t>::max() / 64,
                                                     WarmupPolicy::FirstValue)),
      oracle::construction_failed_for(IndicatorKind::ObvTimed)));
  EXPECT_TRUE(oracle::same_error(
      oracle::error_of(OnBalanceVolumeTimed::try_new(Duration{0, 500'000}, 3,
                                                     WarmupPolicy::FirstValue)),
      argument(argument_error::AggregationTooShort{})));
  auto obv = make_obv(1000, 3, {});
  EXPECT_TRUE(oracle::same_error(oracle::error_of(obv.add_window(3)),
                                 argument(argument_error::WindowPeriodMustBeLessThanCapacity{3, 3})));
}

}  // namespace
}  // namespace vorn
