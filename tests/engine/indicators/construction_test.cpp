// Construction failures shared by the indicators: storage that cannot be
// obtained, and the window checks of the count indicators.
#include "engine/indicators/construction.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string_view>
#include <utility>

#include "engine/indicators/averages/simple_moving_average.hpp"
#include "engine/indicators/averages/simple_moving_average_timed.hpp"
#include "engine/indicators/counts/trade_count_timed.hpp"
#include "engine/indicators/timed_sum.hpp"
#include "engine/indicators/volatility/rolling_volatility.hpp"
#include "engine/indicators/volatility/rolling_volatility_timed.hpp"
#include "engine/indicators/volume/cumulative_volume_delta.hpp"
#include "engine/indicators/volume/on_balance_volume_timed.hpp"
#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

using oracle::argument;
using oracle::construction_failed_for;
using oracle::fails_with;

// Storage beyond the address space: ConstructionFailed naming the kind.
TEST(IndicatorConstruction, StorageFailureIsReportedNotFatal) {
  const std::size_t huge = std::numeric_limits<std::size_t>::max() / 16;
  const Duration ms = Duration::from_millis(1);
  const auto policy = WarmupPolicy::FirstValue;
  EXPECT_TRUE(fails_with(CumulativeVolumeDelta::try_new(huge, policy), construction_failed_for(IndicatorKind::Cvd)));
  EXPECT_TRUE(fails_with(SimpleMovingAverage::try_new(huge, policy), construction_failed_for(IndicatorKind::Sma)));
  EXPECT_TRUE(fails_with(RollingVolatility::try_new(huge, policy), construction_failed_for(IndicatorKind::Volatility)));
  EXPECT_TRUE(fails_with(SimpleMovingAverageTimed::try_new(ms, huge, policy), construction_failed_for(IndicatorKind::SmaTimed)));
  EXPECT_TRUE(fails_with(OnBalanceVolumeTimed::try_new(ms, huge, policy), construction_failed_for(IndicatorKind::ObvTimed)));
  EXPECT_TRUE(fails_with(RollingVolatilityTimed::try_new(ms, huge, policy), construction_failed_for(IndicatorKind::VolatilityTimed)));
  EXPECT_TRUE(fails_with((RollingTimedSum<1, 16>::new_heap(ms, huge, policy)), construction_failed_for(IndicatorKind::TradeVolumeTimed)));
  EXPECT_TRUE(fails_with((RollingTimedSum<2, 16>::new_heap(ms, huge, policy)), construction_failed_for(IndicatorKind::VwapTimed)));
}

// Count windows over a ring of 4: 0, above the capacity, after the first
// sample; the 17th window fails before anything else.
template <class Make, class Feed>
void expect_count_window_checks(Make make, Feed feed) {
  auto indicator = make();
  EXPECT_TRUE(fails_with(indicator.add_window(0), argument(argument_error::WindowPeriodZero{})));
  EXPECT_TRUE(fails_with(indicator.add_window(5),
                         argument(argument_error::WindowPeriodExceedsCapacity{5, 4})));
  feed(indicator);
  feed(indicator);  // (a volatility needs two prices for a return)
  EXPECT_TRUE(fails_with(indicator.add_window(1), argument(argument_error::WindowAddedAfterData{})));
  EXPECT_EQ(indicator.window_count(), 0u);

  auto full = make();
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(full.add_window(4).has_value());
  EXPECT_TRUE(fails_with(full.add_window(0), argument(argument_error::WindowLimitReached{16})));
}

TEST(IndicatorConstruction, CountWindowChecksInOrder) {
  const auto policy = WarmupPolicy::FirstValue;
  expect_count_window_checks([&] { return CumulativeVolumeDelta::try_new(4, policy).value(); },
                             [](auto& cvd) { cvd.update_inner(AggressorSide::Buy, 1.0); });
  expect_count_window_checks([&] { return SimpleMovingAverage::try_new(4, policy).value(); },
                             [](auto& sma) { sma.update(1.0); });
  expect_count_window_checks([&] { return RollingVolatility::try_new(4, policy).value(); },
                             [](auto& volatility) { volatility.update(1.0); });
}

}  // namespace
}  // namespace vorn
