#include "engine/indicators/averages/simple_moving_average_timed.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

TEST(SimpleMovingAverageTimed, EmptiedWindowAveragesExactlyZero) {
  auto sma = oracle::with_windows(
      SimpleMovingAverageTimed::try_new(Duration::from_millis(1000), 4, WarmupPolicy::FirstValue), {3});
  sma.update(0.1, 0);
  sma.update(0.2, 1000);
  sma.update(0.3, 2000);
  EXPECT_NE((((0.1 + 0.2) + 0.3) - 0.1 - 0.2) - 0.3, 0.0);  // the running sum's residue
  sma.observe(50'000);
  EXPECT_EQ(sma.average(0), 0.0);
  EXPECT_FALSE(std::signbit(sma.average(0)));
  sma.update(4.0, 50'001);  // a residue in the running sum may show, within rounding
  EXPECT_NEAR(sma.average(0), 4.0, 1e-15);
}

// Random samples: each window holds the buckets the window covers and its
// average equals the mean of their means (each bucket's samples summed in
// arrival order and divided by their count), within 1e-9 of the summed
// magnitudes; a window without buckets reads exactly 0.0.
TEST(SimpleMovingAverageTimed, MatchesBucketedHistory) {
  const oracle::TimedCase cases[] = {
      {51, 1000, -9000, 7, WarmupPolicy::FirstValue},
      {52, 1, 0, 16, WarmupPolicy::FullWindow},
      {53, 300, std::numeric_limits<std::int64_t>::max() - 500'000, 5, WarmupPolicy::FullWindow},
  };
  struct Bucket {
    __int128 start;
    double sum;
    double count;
  };
  for (const auto& c : cases) {
    std::vector<Bucket> buckets;
    oracle::drive_timed(
        c, false, SimpleMovingAverageTimed::try_new,
        [&](auto& sma, const oracle::TimedCall& call) {
          sma.update(call.a, call.t);
          const __int128 start = oracle::oracle_bucket_start(call.t, c.width);
          if (buckets.empty() || buckets.back().start != start) buckets.push_back({start, 0, 0});
          buckets.back().sum += call.a;
          buckets.back().count += 1.0;
        },
        [&](const auto& sma, std::size_t i, std::int64_t duration, const oracle::TimedCall& now) {
          double sum = 0.0;
          double scale = 1.0;
          std::size_t covered = 0;
          for (const Bucket& b : buckets) {
            if (b.start + duration <= now.t) continue;
            sum += b.sum / b.count;
            scale += std::abs(b.sum / b.count);
            ++covered;
          }
          EXPECT_EQ(sma.bucket_count(i), covered);
          const double expected = covered == 0 ? 0.0 : sum / static_cast<double>(covered);
          EXPECT_NEAR(sma.average(i), expected, covered == 0 ? 0.0 : 1e-9 * scale);
        });
  }
}

}  // namespace
}  // namespace vorn
