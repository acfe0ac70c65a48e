#include "engine/indicators/volume/cumulative_volume_delta.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

using oracle::argument;
using oracle::error_of;
using oracle::same_error;

CumulativeVolumeDelta make_cvd(std::size_t capacity, std::vector<std::size_t> lengths) {
  return oracle::with_windows(CumulativeVolumeDelta::try_new(capacity, WarmupPolicy::FirstValue),
                             lengths);
}

TEST(CumulativeVolumeDelta, SumsTheLastTradesOfEachWindow) {
  auto cvd = make_cvd(3, {2, 3});
  cvd.update_inner(AggressorSide::Sell, 1.0);
  cvd.update_inner(AggressorSide::Sell, 2.0);
  cvd.update_inner(AggressorSide::Buy, 4.0);
  EXPECT_EQ(cvd.sum(0), 2.0);
  EXPECT_EQ(cvd.sum(1), 1.0);
  EXPECT_EQ(cvd.trades_held(), 3u);
}

// Random trades: each window equals the signed sum of the last n trades of
// the whole history (exact for integer quantities).
TEST(CumulativeVolumeDelta, MatchesTradeHistory) {
  for (bool integers : {true, false}) {
    std::mt19937_64 rng(integers ? 21 : 22);
    const std::size_t capacity = 40;
    const auto lengths = oracle::random_periods(rng, capacity);
    auto cvd = make_cvd(capacity, lengths);
    std::vector<double> history;
    for (int step = 0; step < 2000; ++step) {
      const bool sell = rng() % 2 == 0;
      const double quantity = std::abs(oracle::random_value(rng, integers));
      cvd.update_inner(sell ? AggressorSide::Sell : AggressorSide::Buy, quantity);
      history.push_back(sell ? -quantity : quantity);
      ASSERT_EQ(cvd.trades_held(), std::min(history.size(), capacity));
      for (std::size_t i = 0; i < lengths.size(); ++i) {
        double expected = 0.0;
        double scale = 1.0;
        for (std::size_t k = history.size() - std::min(history.size(), lengths[i]);
             k < history.size(); ++k) {
          expected += history[k];
          scale += std::abs(history[k]);
        }
        if (integers) {
          ASSERT_EQ(cvd.sum(i), expected);
        } else {
          ASSERT_NEAR(cvd.sum(i), expected, 1e-9 * scale);
        }
      }
    }
  }
}

TEST(CumulativeVolumeDelta, WindowChecksInOrder) {
  auto cvd = make_cvd(5, {});
  const auto refuses = [&](std::size_t length, InvalidArgumentError error) {
    return same_error(error_of(cvd.add_window(length)), argument(std::move(error)));
  };
  EXPECT_TRUE(refuses(6, argument_error::WindowPeriodExceedsCapacity{6, 5}));
  EXPECT_TRUE(refuses(0, argument_error::WindowPeriodZero{}));
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(cvd.add_window(5).has_value());
  EXPECT_TRUE(refuses(0, argument_error::WindowLimitReached{16}));
  EXPECT_TRUE(refuses(6, argument_error::WindowLimitReached{16}));

  auto fed = make_cvd(5, {1});
  fed.update_inner(AggressorSide::Buy, 1.0);
  EXPECT_TRUE(same_error(error_of(fed.add_window(2)),
                         argument(argument_error::WindowAddedAfterData{})));
  EXPECT_EQ(fed.window_count(), 1u);

  EXPECT_TRUE(same_error(
      error_of(CumulativeVolumeDelta::try_new(std::numeric_limits<std::size_t>::max() / 16,
                                              WarmupPolicy::FirstValue)),
      oracle::construction_failed_for(IndicatorKind::Cvd)));
}

}  // namespace
}  // namespace vorn
