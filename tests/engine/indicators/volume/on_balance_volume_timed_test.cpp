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
  auto sum = oracle::with_windows(RollingTimedSum<1, 16>::new_heap(Duration::from_millis(1000), 4,
                                                                  WarmupPolicy::FirstValue),
                                  {3});
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
    std::vector<Bucket> buckets;
    double price = 100.0;
    oracle::drive_timed(
        c, true, OnBalanceVolumeTimed::try_new,
        [&](auto& obv, const oracle::TimedCall& call) {
          price += static_cast<double>(static_cast<int>(call.a) % 3);  // up, down or level
          obv.update(call.t, price, std::abs(call.b));
          const __int128 start = oracle::oracle_bucket_start(call.t, c.width);
          if (buckets.empty() || buckets.back().start != start) buckets.push_back({start, 0, 0, 0});
          Bucket& b = buckets.back();
          b.last_price = price;
          b.volume += std::abs(call.b);
          const double before = buckets.size() < 2 ? price : buckets[buckets.size() - 2].last_price;
          b.direction = price > before ? 1.0 : price < before ? -1.0 : 0.0;
        },
        [&](const auto& obv, std::size_t i, std::int64_t duration, const oracle::TimedCall& now) {
          const __int128 now_start = oracle::oracle_bucket_start(now.t, c.width);
          double expected = 0.0;
          for (const Bucket& b : buckets) {
            if (b.start + duration > now_start) expected += b.direction * b.volume;
          }
          EXPECT_EQ(obv.sum(i), expected);
        });
  }
}

}  // namespace
}  // namespace vorn
