#include "engine/indicators/counts/trade_count_timed.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

using oracle::argument;
using oracle::fails_with;

TEST(TradeCountTimed, ConstructionChecksInOrder) {
  const auto ms = [](std::uint64_t n) { return Duration::from_millis(n); };
  const Duration fraction{0, 1'500'000};  // 1.5 ms
  const Duration beyond{9'223'372'036'854'776, 0};  // 2^63 ms and a bit
  struct Case {
    Duration aggregation;
    Duration window;
    VornError error;
  };
  const Case cases[] = {
      {fraction, ms(3), argument(argument_error::DurationPrecision{ArgumentDurationField::TimedWindow})},
      {ms(1), Duration{2, 1}, argument(argument_error::DurationPrecision{ArgumentDurationField::TimedWindow})},
      {Duration{}, fraction, argument(argument_error::DurationPrecision{ArgumentDurationField::TimedWindow})},
      {Duration{}, ms(0), argument(argument_error::AggregationTooShort{})},
      {Duration{}, ms(1000), argument(argument_error::AggregationTooShort{})},
      {ms(1000), ms(500), argument(argument_error::WindowShorterThanAggregation{})},
      {ms(1000), ms(0), argument(argument_error::WindowShorterThanAggregation{})},
      {ms(1000), ms(2500), argument(argument_error::WindowNotMultipleOfAggregation{})},
      {beyond, beyond, argument(argument_error::DurationOutOfRange{ArgumentDurationField::Aggregation})},
      {ms(1), beyond, argument(argument_error::DurationOutOfRange{ArgumentDurationField::Window})},
      // 2^62 + 1 buckets of 32 bytes cannot be addressed.
      {ms(1), ms(std::uint64_t{1} << 62), oracle::construction_failed_for(IndicatorKind::TradeCountTimed)},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(fails_with(
        TradeCountTimed::new_heap(c.aggregation, c.window, WarmupPolicy::FirstValue), c.error));
  }
  auto counter = TradeCountTimed::new_heap(ms(1000), ms(3000), WarmupPolicy::FullWindow);
  ASSERT_TRUE(counter.has_value());
  EXPECT_EQ(counter->duration(), 3000);
}

// One trade per update: the count is the number of trades whose bucket the
// window covers, ready by the clock.
TEST(TradeCountTimed, CountsTradesInsideTheWindow) {
  struct Case {
    std::uint64_t seed;
    std::uint64_t aggregation_ms;
    std::uint64_t window_ms;
    WarmupPolicy policy;
  };
  const Case cases[] = {
      {11, 1000, 3000, WarmupPolicy::FirstValue},
      {12, 1000, 3000, WarmupPolicy::FullWindow},
      {13, 1, 1, WarmupPolicy::FullWindow},
      {14, 60'000, 600'000, WarmupPolicy::FullWindow},
  };
  for (const auto& c : cases) {
    std::mt19937_64 rng(c.seed);
    const auto width = static_cast<std::int64_t>(c.aggregation_ms);
    const auto duration = static_cast<std::int64_t>(c.window_ms);
    auto counter = TradeCountTimed::new_heap(Duration::from_millis(c.aggregation_ms),
                                             Duration::from_millis(c.window_ms), c.policy)
                       .value();
    std::vector<std::int64_t> trades;
    std::optional<std::int64_t> first;
    for (const auto& call : oracle::random_timed_calls(rng, 1200, -20 * width, width,
                                                       c.window_ms / c.aggregation_ms, true)) {
      if (call.feeds) {
        counter.update(1.0, call.t);
        trades.push_back(call.t);
        if (!first) first = call.t;
      } else {
        counter.observe(call.t);
      }
      double expected = 0.0;
      for (std::int64_t t : trades) expected += oracle::oracle_covers(t, duration, call.t, width);
      ASSERT_EQ(counter.count(), expected) << "seed " << c.seed;
      ASSERT_EQ(counter.ready(), oracle::oracle_ready(c.policy, first, call.t, duration));
    }
  }
}

}  // namespace
}  // namespace vorn
