#include "engine/indicators/timed_sum.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

using oracle::argument;
using oracle::error_of;
using oracle::same_error;
using oracle::construction_failed_for;
using oracle::TimedCall;

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
    __int128 start;
  };
  // Hand-computed floors.
  const Case cases[] = {
      {0, 1000, 0},
      {999, 1000, 0},
      {1000, 1000, 1000},
      {-1, 1000, -1000},
      {-1000, 1000, -1000},
      {-1001, 1000, -2000},
      {kMin, 1, kMin},
      {kMax, 1, kMax},
      {kMin, 1000, -(__int128{922337203685477} * 10000 + 6000)},  // below INT64_MIN
      {kMax, 1000, 9223372036854775000LL},
      {-1, kMax, -__int128{kMax}},
      {kMin, kMax, -__int128{kMax} * 2},
      {kMax, kMax, kMax},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(bucket_start(c.t, c.width) == c.start) << c.t << " / " << c.width;
    EXPECT_TRUE(oracle::oracle_bucket_start(c.t, c.width) == c.start) << c.t << " / " << c.width;
  }
  // A window end beyond INT64_MAX never arrives.
  EXPECT_FALSE(has_left(bucket_start(kMax, 1000), 3000, bucket_start(kMax, 1000)));
  EXPECT_TRUE(has_left(-__int128{kMax}, kMax, 0));
}

// Random streams, 16 windows of two lanes, both policies: every sum equals
// the sum of the history's buckets that the window covers, and readiness
// follows the clock.
TEST(RollingTimedSum, MatchesBucketedHistory) {
  struct Case {
    std::uint64_t seed;
    std::int64_t width;
    std::int64_t start;
    std::size_t max_period;
    bool integers;  // exact sums; otherwise a relative tolerance of 1e-9
  };
  const Case cases[] = {
      {1, 1000, -5000, 8, true},   {2, 1, -40, 12, true},        {3, 7, 0, 3, true},
      {4, 1000, 123456, 20, true}, {5, 250, -1'000'000, 5, false}, {6, 1, kMin, 6, true},
      {7, 1000, kMax - 1'000'000, 9, true},
  };
  for (const auto& c : cases) {
    for (WarmupPolicy policy : {WarmupPolicy::FirstValue, WarmupPolicy::FullWindow}) {
      std::mt19937_64 rng(c.seed);
      const auto periods = oracle::random_periods(rng, c.max_period);
      auto sum = RollingTimedSum<2, 16>::new_heap(Duration::from_millis(c.width), c.max_period + 1,
                                                  policy)
                     .value();
      for (std::size_t period : periods) ASSERT_TRUE(sum.add_window(period).has_value());
      std::vector<TimedCall> history;
      std::int64_t previous = 0;
      bool any_call = false;
      for (const TimedCall& call : oracle::random_timed_calls(rng, 1500, c.start, c.width,
                                                                c.max_period, c.integers)) {
        if (call.feeds) {
          sum.update({call.a, call.b}, call.t);
          history.push_back(call);
        } else {
          EXPECT_EQ(sum.observe(call.t), !any_call || call.t != previous);
        }
        any_call = true;
        previous = call.t;
        for (std::size_t i = 0; i < periods.size(); ++i) {
          const std::int64_t duration = static_cast<std::int64_t>(periods[i]) * c.width;
          ASSERT_EQ(sum.duration(i), duration);
          double a = 0.0;
          double b = 0.0;
          double scale = 1.0;
          // Newest first: once one observation's bucket is out, so are all older.
          for (auto h = history.rbegin(); h != history.rend(); ++h) {
            if (!oracle::oracle_covers(h->t, duration, call.t, c.width)) break;
            a += h->a;
            b += h->b;
            scale += std::abs(h->a) + std::abs(h->b);
          }
          if (c.integers) {
            ASSERT_EQ(sum.sums(i)[0], a) << "seed " << c.seed << " window " << i;
            ASSERT_EQ(sum.sums(i)[1], b) << "seed " << c.seed << " window " << i;
          } else {
            ASSERT_NEAR(sum.sums(i)[0], a, 1e-9 * scale);
            ASSERT_NEAR(sum.sums(i)[1], b, 1e-9 * scale);
          }
          ASSERT_EQ(sum.ready(i), oracle::oracle_ready(policy, !history.empty(),
                                                       history.empty() ? 0 : history[0].t,
                                                       call.t, duration));
        }
      }
    }
  }
}

TEST(RollingTimedSum, BucketLeavesWhenItsWindowEnds) {
  auto sum = make_sum(1000, 4, {3});
  sum.update({1.0}, 0);
  sum.update({2.0}, 1500);
  sum.update({4.0}, 2999);
  EXPECT_EQ(sum.sums(0)[0], 7.0);
  EXPECT_TRUE(sum.observe(3000));  // 0 + 3000 <= 3000: the first bucket leaves
  EXPECT_EQ(sum.sums(0)[0], 6.0);
  EXPECT_TRUE(sum.observe(3999));
  EXPECT_EQ(sum.sums(0)[0], 6.0);
  EXPECT_TRUE(sum.observe(4000));
  EXPECT_EQ(sum.sums(0)[0], 4.0);
  EXPECT_TRUE(sum.observe(5000));
  EXPECT_EQ(sum.sums(0)[0], 0.0);
}

TEST(RollingTimedSum, RepeatedTimestampsShareOneBucket) {
  auto sum = make_sum(1000, 3, {1, 2});
  sum.update({1.0}, 500);
  EXPECT_FALSE(sum.observe(500));
  sum.update({2.0}, 500);
  EXPECT_FALSE(sum.observe(500));
  EXPECT_EQ(sum.sums(0)[0], 3.0);
  EXPECT_TRUE(sum.observe(1000));  // the one bucket leaves the 1-bucket window whole
  EXPECT_EQ(sum.sums(0)[0], 0.0);
  EXPECT_EQ(sum.sums(1)[0], 3.0);
  EXPECT_FALSE(sum.observe(1000));
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

TEST(RollingTimedSum, FullWindowReadinessIsSticky) {
  auto sum = make_sum(1000, 4, {3, 1}, WarmupPolicy::FullWindow);
  EXPECT_TRUE(sum.observe(-5));  // before the first update nothing is ready
  EXPECT_FALSE(sum.ready(0));
  sum.update({1.0}, 0);
  EXPECT_FALSE(sum.ready(0));
  EXPECT_FALSE(sum.ready(1));
  sum.observe(999);
  EXPECT_FALSE(sum.ready(1));
  sum.observe(1000);
  EXPECT_TRUE(sum.ready(1));
  sum.observe(2999);
  EXPECT_FALSE(sum.ready(0));
  sum.observe(3000);
  EXPECT_TRUE(sum.ready(0));
  sum.observe(1'000'000'000);
  EXPECT_TRUE(sum.ready(0));
  EXPECT_EQ(sum.sums(0)[0], 0.0);

  auto first = make_sum(1000, 4, {3}, WarmupPolicy::FirstValue);
  first.observe(0);
  EXPECT_FALSE(first.ready(0));
  first.update({1.0}, 0);
  EXPECT_TRUE(first.ready(0));
}

TEST(RollingTimedSum, HandlesTheEndsOfTheTimestampRange) {
  auto low = make_sum(1000, 4, {3}, WarmupPolicy::FullWindow);
  low.update({1.0}, kMin);        // bucket start INT64_MIN - 192
  low.update({2.0}, kMin + 808);  // the next bucket
  EXPECT_EQ(low.sums(0)[0], 3.0);
  low.observe(kMin + 2807);
  EXPECT_EQ(low.sums(0)[0], 3.0);
  EXPECT_FALSE(low.ready(0));
  low.observe(kMin + 2808);  // the first bucket's window ends here
  EXPECT_EQ(low.sums(0)[0], 2.0);
  EXPECT_FALSE(low.ready(0));
  low.observe(kMin + 3000);
  EXPECT_TRUE(low.ready(0));
  low.observe(kMax);  // elapsed time beyond INT64_MAX
  EXPECT_EQ(low.sums(0)[0], 0.0);
  EXPECT_TRUE(low.ready(0));

  auto high = make_sum(1000, 4, {3}, WarmupPolicy::FullWindow);
  high.update({5.0}, kMax - 10);
  high.update({1.0}, kMax);
  EXPECT_FALSE(high.observe(kMax));
  EXPECT_EQ(high.sums(0)[0], 6.0);  // the window's end lies beyond INT64_MAX
  EXPECT_FALSE(high.ready(0));

  // The widest bucket: width INT64_MAX, starts down to -2 * INT64_MAX.
  auto wide = RollingTimedSum<1, 16>::new_heap(Duration::from_millis(kMax), 2,
                                               WarmupPolicy::FirstValue)
                  .value();
  ASSERT_TRUE(wide.add_window(1).has_value());
  wide.update({1.0}, kMin);  // the bucket starting at -2 * INT64_MAX
  wide.update({2.0}, kMin);
  EXPECT_EQ(wide.sums(0)[0], 3.0);
  wide.update({4.0}, -kMax);  // bucket -INT64_MAX: the first one leaves
  EXPECT_EQ(wide.sums(0)[0], 4.0);
  wide.update({16.0}, -1);
  EXPECT_EQ(wide.sums(0)[0], 20.0);
  wide.observe(0);  // bucket 0: -INT64_MAX + INT64_MAX <= 0
  EXPECT_EQ(wide.sums(0)[0], 0.0);
  wide.update({8.0}, kMax);
  EXPECT_EQ(wide.sums(0)[0], 8.0);
}

TEST(RollingTimedSum, ConstructionChecksInOrder) {
  const Duration ms = Duration::from_millis(1);
  const Duration zero{};
  const std::size_t huge = std::numeric_limits<std::size_t>::max() / 64;
  struct Case {
    Duration aggregation;
    std::size_t capacity;
    VornError error;
  };
  const Case cases[] = {
      {zero, 0, argument(argument_error::RingBufferCapacityZero{})},
      {zero, huge, construction_failed_for(IndicatorKind::TradeVolumeTimed)},
      {zero, 4, argument(argument_error::AggregationTooShort{})},
      {Duration{0, 999'999}, 4, argument(argument_error::AggregationTooShort{})},
      {Duration{0, 1'500'000}, 4,
       argument(argument_error::DurationPrecision{ArgumentDurationField::Aggregation})},
      {Duration{9'223'372'036'854'776, 0}, 4,
       argument(argument_error::DurationOutOfRange{ArgumentDurationField::Aggregation})},
      {Duration{std::numeric_limits<std::uint64_t>::max(), 999'000'000}, 4,
       argument(argument_error::DurationOutOfRange{ArgumentDurationField::Aggregation})},
  };
  for (const auto& c : cases) {
    auto sum = RollingTimedSum<1, 16>::new_heap(c.aggregation, c.capacity, WarmupPolicy::FirstValue);
    ASSERT_FALSE(sum.has_value());
    EXPECT_TRUE(same_error(error_of(sum), c.error));
  }
  auto vwap = RollingTimedSum<2, 16>::new_heap(ms, huge, WarmupPolicy::FirstValue);
  EXPECT_TRUE(same_error(error_of(vwap), construction_failed_for(IndicatorKind::VwapTimed)));
  // The widest width that fits: 2^63 - 1 ms.
  const Duration widest{9'223'372'036'854'775, 807'000'000};
  EXPECT_TRUE((RollingTimedSum<1, 16>::new_heap(widest, 2, WarmupPolicy::FirstValue).has_value()));
}

TEST(RollingTimedSum, WindowChecksInOrder) {
  auto sum = make_sum(1000, 5, {});
  const auto refuses = [&](std::size_t period, InvalidArgumentError error) {
    return same_error(error_of(sum.add_window(period)), argument(std::move(error)));
  };
  EXPECT_TRUE(refuses(0, argument_error::WindowPeriodZero{}));
  EXPECT_TRUE(refuses(5, argument_error::WindowPeriodMustBeLessThanCapacity{5, 5}));
  EXPECT_TRUE(refuses(9, argument_error::WindowPeriodMustBeLessThanCapacity{9, 5}));
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(sum.add_window(4).has_value());
  EXPECT_TRUE(refuses(0, argument_error::WindowLimitReached{16}));
  EXPECT_EQ(sum.window_count(), 16u);

  auto fed = make_sum(1000, 5, {1});
  fed.update({1.0}, 0);
  EXPECT_TRUE(same_error(error_of(fed.add_window(0)), argument(argument_error::WindowPeriodZero{})));
  EXPECT_TRUE(same_error(error_of(fed.add_window(7)), argument(argument_error::WindowPeriodMustBeLessThanCapacity{7, 5})));
  EXPECT_TRUE(same_error(error_of(fed.add_window(2)), argument(argument_error::WindowAddedAfterData{})));
  EXPECT_EQ(fed.window_count(), 1u);

  // Width 2^62 ms: two buckets last 2^63 ms, one past the limit.
  auto wide = RollingTimedSum<1, 16>::new_heap(Duration::from_millis(std::int64_t{1} << 62), 4,
                                               WarmupPolicy::FirstValue)
                  .value();
  EXPECT_TRUE(same_error(error_of(wide.add_window(2)), argument(argument_error::WindowDurationOutOfRange{})));
  ASSERT_TRUE(wide.add_window(1).has_value());
  EXPECT_EQ(wide.duration(0), std::int64_t{1} << 62);

  auto one = RollingTimedSum<1, 1>::new_heap(Duration::from_millis(1), 3, WarmupPolicy::FirstValue)
                 .value();
  ASSERT_TRUE(one.add_window(2).has_value());
  EXPECT_TRUE(same_error(error_of(one.add_window(1)), argument(argument_error::WindowLimitReached{1})));
}

}  // namespace
}  // namespace vorn
