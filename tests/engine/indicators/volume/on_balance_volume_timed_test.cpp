#include "engine/indicators/volume/on_balance_volume_timed.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

// Unlike the timed sum, an emptied window keeps the residue of its running sum.
TEST(OnBalanceVolumeTimed, EmptiedWindowKeepsItsResidue) {
  auto obv = oracle::with_windows(
      OnBalanceVolumeTimed::try_new(Duration::from_millis(1000), 4, WarmupPolicy::FirstValue), {3});
  obv.update(0, 10.0, 0.0);
  obv.update(1000, 11.0, 0.1);
  obv.update(2000, 12.0, 0.2);
  obv.observe(100'000);
  const double residue = ((0.0 + 0.1 + 0.2) - 0.0 - 0.1) - 0.2;
  EXPECT_NE(residue, 0.0);
  EXPECT_EQ(obv.sum(0), residue);
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
