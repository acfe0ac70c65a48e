#include "engine/indicators/averages/simple_moving_average.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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

SimpleMovingAverage make_sma(std::size_t capacity, std::vector<std::size_t> lengths) {
  return oracle::with_windows(SimpleMovingAverage::try_new(capacity, WarmupPolicy::FullWindow),
                             lengths);
}

TEST(SimpleMovingAverage, DividesBySamplesHeldUntilTheWindowFills) {
  auto sma = make_sma(3, {3});
  sma.update(1.0);
  sma.update(2.0);
  EXPECT_EQ(sma.average(0), 1.5);
  EXPECT_EQ(sma.samples_held(), 2u);
  sma.update(3.0);
  sma.update(4.0);
  EXPECT_EQ(sma.average(0), 3.0);
  EXPECT_EQ(sma.samples_held(), 3u);
}

// Random samples: each window's average equals the mean of the last
// min(n, held) samples of the history (exact for integer samples, whose sums
// are exact and divided once).
TEST(SimpleMovingAverage, MatchesSampleHistory) {
  for (bool integers : {true, false}) {
    std::mt19937_64 rng(integers ? 41 : 42);
    const std::size_t capacity = 33;
    const auto lengths = oracle::random_periods(rng, capacity);
    auto sma = make_sma(capacity, lengths);
    std::vector<double> history;
    for (int step = 0; step < 2000; ++step) {
      const double x = oracle::random_value(rng, integers);
      sma.update(x);
      history.push_back(x);
      for (std::size_t i = 0; i < lengths.size(); ++i) {
        const std::size_t taken = std::min(history.size(), lengths[i]);
        double sum = 0.0;
        double scale = 1.0;
        for (std::size_t k = history.size() - taken; k < history.size(); ++k) {
          sum += history[k];
          scale += std::abs(history[k]);
        }
        const double expected = sum / static_cast<double>(taken);
        if (integers) {
          ASSERT_EQ(sma.average(i), expected) << "step " << step << " window " << i;
          ASSERT_EQ(sma.sum(i), sum);
        } else {
          ASSERT_NEAR(sma.average(i), expected, 1e-9 * scale);
        }
      }
    }
  }
}

TEST(SimpleMovingAverage, WindowChecksInOrder) {
  auto sma = make_sma(4, {});
  const auto refuses = [&](std::size_t length, InvalidArgumentError error) {
    return same_error(error_of(sma.add_window(length)), argument(std::move(error)));
  };
  EXPECT_TRUE(refuses(0, argument_error::WindowPeriodZero{}));
  EXPECT_TRUE(refuses(5, argument_error::WindowPeriodExceedsCapacity{5, 4}));
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(sma.add_window(4).has_value());
  EXPECT_TRUE(refuses(0, argument_error::WindowLimitReached{16}));

  auto fed = make_sma(4, {2});
  fed.update(1.0);
  EXPECT_TRUE(same_error(error_of(fed.add_window(2)),
                         argument(argument_error::WindowAddedAfterData{})));
  EXPECT_TRUE(same_error(
      error_of(SimpleMovingAverage::try_new(std::numeric_limits<std::size_t>::max() / 16,
                                            WarmupPolicy::FirstValue)),
      oracle::construction_failed_for(IndicatorKind::Sma)));
}

}  // namespace
}  // namespace vorn
