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


// Real samples, several to a bucket, none leaving the window, where the order
// of the steps shows in the last bit: a sample in the current bucket makes
// that bucket's mean its running sum (in arrival order) over its count, and
// the window sum trades the old mean for the new one, (sum - old) + new.
TEST(SimpleMovingAverageTimed, AnUpdateInsideABucketKeepsItsOrderBitForBit) {
  std::mt19937_64 rng(54);
  auto sma = oracle::with_windows(
      SimpleMovingAverageTimed::try_new(Duration::from_millis(1000), 64, WarmupPolicy::FirstValue), {60});
  std::int64_t t = 0, bucket = -1;
  double window_sum = 0.0, bucket_sum = 0.0, mean = 0.0, in_bucket = 0.0;
  std::size_t buckets = 0;
  for (int step = 0; step < 300; ++step) {
    t += std::uniform_int_distribution<std::int64_t>(0, 150)(rng);  // 45 s at most: every bucket stays
    const double x = oracle::random_value(rng, false);
    sma.update(x, t);
    if (t / 1000 != bucket) {
      bucket = t / 1000;
      bucket_sum = x;
      in_bucket = 1.0;
      mean = x;
      window_sum = window_sum + x;
      ++buckets;
    } else {
      bucket_sum = bucket_sum + x;
      in_bucket += 1.0;
      const double new_mean = bucket_sum / in_bucket;
      window_sum = (window_sum - mean) + new_mean;
      mean = new_mean;
    }
    ASSERT_EQ(sma.bucket_count(0), buckets) << "step " << step;
    ASSERT_EQ(sma.average(0), window_sum / static_cast<double>(buckets)) << "step " << step;
  }
}
}  // namespace
}  // namespace vorn
