#include "engine/indicators/timed_sum.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

using oracle::argument;
using oracle::fails_with;

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

RollingTimedSum<1, 16> make_sum(std::int64_t width_ms, std::size_t capacity,
                                std::vector<std::size_t> periods,
                                WarmupPolicy policy = WarmupPolicy::FirstValue) {
  return oracle::with_windows(
      RollingTimedSum<1, 16>::new_heap(Duration::from_millis(width_ms), capacity, policy), periods);
}

TEST(BucketArithmetic, EuclideanStartsAcrossTheWholeRange) {
  struct Case {
    std::int64_t t;
    std::int64_t width;
    __int128 start;  // hand-computed floor
  };
  const Case cases[] = {
      {0, 1000, 0},
      {999, 1000, 0},
      {-1, 1000, -1000},
      {-1000, 1000, -1000},
      {-1001, 1000, -2000},
      {kMin, 1, kMin},
      {kMax, 1, kMax},
      {kMin, 1000, -(__int128{922337203685477} * 10000 + 6000)},  // below INT64_MIN
      {kMax, 1000, 9223372036854775000LL},
      {-1, kMax, -__int128{kMax}},
      {kMin, kMax, -__int128{kMax} * 2},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(bucket_start(c.t, c.width) == c.start) << c.t << " / " << c.width;
    EXPECT_TRUE(oracle::oracle_bucket_start(c.t, c.width) == c.start) << c.t << " / " << c.width;
  }
}

// Random streams, 16 windows of two lanes: every sum equals the sum of the
// observations whose buckets the window covers (exact for integer values,
// else within 1e-9 of the summed magnitudes).
TEST(RollingTimedSum, MatchesBucketedHistory) {
  struct Case {
    oracle::TimedCase run;
    bool integers;
  };
  const Case cases[] = {
      {{1, 1000, -5000, 8, WarmupPolicy::FirstValue}, true},
      {{2, 1, -40, 12, WarmupPolicy::FullWindow}, true},
      {{3, 7, 0, 3, WarmupPolicy::FullWindow}, true},
      {{4, 1000, 123456, 20, WarmupPolicy::FirstValue}, true},
      {{5, 250, -1'000'000, 5, WarmupPolicy::FullWindow}, false},
      {{6, 1, kMin, 6, WarmupPolicy::FullWindow}, true},
      {{7, 1000, kMax - 1'000'000, 9, WarmupPolicy::FullWindow}, true},
  };
  for (const auto& c : cases) {
    std::vector<oracle::TimedCall> history;
    oracle::drive_timed(
        c.run, c.integers,
        [](Duration width, std::size_t capacity, WarmupPolicy policy) {
          return RollingTimedSum<2, 16>::new_heap(width, capacity, policy);
        },
        [&](auto& sum, const oracle::TimedCall& call) {
          sum.update({call.a, call.b}, call.t);
          history.push_back(call);
        },
        [&](const auto& sum, std::size_t i, std::int64_t duration, const oracle::TimedCall& now) {
          double a = 0.0;
          double b = 0.0;
          double scale = 1.0;
          // Newest first: once one observation's bucket is out, so are all older.
          for (auto h = history.rbegin(); h != history.rend(); ++h) {
            if (!oracle::oracle_covers(h->t, duration, now.t, c.run.width)) break;
            a += h->a;
            b += h->b;
            scale += std::abs(h->a) + std::abs(h->b);
          }
          const double tolerance = c.integers ? 0.0 : 1e-9 * scale;
          EXPECT_NEAR(sum.sums(i)[0], a, tolerance);
          EXPECT_NEAR(sum.sums(i)[1], b, tolerance);
          EXPECT_EQ(sum.duration(i), duration);
        });
  }
}

TEST(RollingTimedSum, EmptiedWindowReadsExactlyZero) {
  auto sum = make_sum(1000, 4, {3});
  sum.update({0.1}, 0);
  sum.update({0.2}, 1000);
  sum.update({0.3}, 2000);
  // Subtracting the buckets one by one would leave a rounding residue.
  EXPECT_NE((((0.1 + 0.2) + 0.3) - 0.1 - 0.2) - 0.3, 0.0);
  EXPECT_TRUE(sum.observe(1'000'000));
  EXPECT_EQ(sum.sums(0)[0], 0.0);
  EXPECT_FALSE(std::signbit(sum.sums(0)[0]));
}

TEST(RollingTimedSum, HandlesTheEndsOfTheTimestampRange) {
  auto low = make_sum(1000, 4, {3}, WarmupPolicy::FullWindow);
  low.update({1.0}, kMin);        // bucket start INT64_MIN - 192
  low.update({2.0}, kMin + 808);  // the next bucket
  low.observe(kMin + 2807);
  EXPECT_EQ(low.sums(0)[0], 3.0);
  low.observe(kMin + 2808);  // the first bucket's window ends here
  EXPECT_EQ(low.sums(0)[0], 2.0);
  EXPECT_FALSE(low.ready(0));
  low.observe(kMax);  // elapsed time beyond INT64_MAX
  EXPECT_EQ(low.sums(0)[0], 0.0);
  EXPECT_TRUE(low.ready(0));

  // Width INT64_MAX: INT64_MIN lies in the bucket starting at -2 * INT64_MAX.
  auto wide = make_sum(kMax, 2, {1});
  wide.update({1.0}, kMin);
  wide.update({4.0}, -kMax);  // bucket -INT64_MAX: the first one leaves
  EXPECT_EQ(wide.sums(0)[0], 4.0);
  wide.observe(0);  // -INT64_MAX + INT64_MAX <= 0
  EXPECT_EQ(wide.sums(0)[0], 0.0);
  wide.update({8.0}, kMax);
  EXPECT_EQ(wide.sums(0)[0], 8.0);
}

TEST(RollingTimedSum, ConstructionChecksInOrder) {
  struct Case {
    Duration aggregation;
    std::size_t capacity;
    VornError error;
  };
  const Case cases[] = {
      {Duration{}, 0, argument(argument_error::RingBufferCapacityZero{})},
      {Duration{}, SIZE_MAX / 64, oracle::construction_failed_for(IndicatorKind::TradeVolumeTimed)},
      {Duration{}, 4, argument(argument_error::AggregationTooShort{})},
      {Duration{0, 999'999}, 4, argument(argument_error::AggregationTooShort{})},
      {Duration{0, 1'500'000}, 4, argument(argument_error::DurationPrecision{ArgumentDurationField::Aggregation})},
      {Duration{9'223'372'036'854'776, 0}, 4,
       argument(argument_error::DurationOutOfRange{ArgumentDurationField::Aggregation})},
      {Duration{std::numeric_limits<std::uint64_t>::max(), 0}, 4,
       argument(argument_error::DurationOutOfRange{ArgumentDurationField::Aggregation})},
  };
  for (const auto& c : cases) {
    const auto made = RollingTimedSum<1, 16>::new_heap(c.aggregation, c.capacity, WarmupPolicy::FirstValue);
    EXPECT_TRUE(fails_with(made, c.error));
  }
  const Duration widest{9'223'372'036'854'775, 807'000'000};  // 2^63 - 1 ms
  EXPECT_TRUE((RollingTimedSum<1, 16>::new_heap(widest, 2, WarmupPolicy::FirstValue).has_value()));
}

TEST(RollingTimedSum, WindowChecksInOrder) {
  auto sum = make_sum(1000, 5, {});
  EXPECT_TRUE(fails_with(sum.add_window(0), argument(argument_error::WindowPeriodZero{})));
  EXPECT_TRUE(fails_with(sum.add_window(5),
                         argument(argument_error::WindowPeriodMustBeLessThanCapacity{5, 5})));
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(sum.add_window(4).has_value());
  EXPECT_TRUE(fails_with(sum.add_window(0), argument(argument_error::WindowLimitReached{16})));

  auto fed = make_sum(1000, 5, {1});
  fed.update({1.0}, 0);
  EXPECT_TRUE(fails_with(fed.add_window(7),
                         argument(argument_error::WindowPeriodMustBeLessThanCapacity{7, 5})));
  EXPECT_TRUE(fails_with(fed.add_window(2), argument(argument_error::WindowAddedAfterData{})));

  // Width 2^62 ms: two buckets last 2^63 ms, one past the limit.
  auto wide = make_sum(std::int64_t{1} << 62, 4, {1});
  EXPECT_TRUE(fails_with(wide.add_window(2), argument(argument_error::WindowDurationOutOfRange{})));

  auto one = RollingTimedSum<1, 1>::new_heap(Duration::from_millis(1), 3, WarmupPolicy::FirstValue);
  ASSERT_TRUE(one->add_window(2).has_value());
  EXPECT_TRUE(fails_with(one->add_window(1), argument(argument_error::WindowLimitReached{1})));
}

}  // namespace
}  // namespace vorn
