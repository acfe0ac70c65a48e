#include "engine/indicators/averages/simple_moving_average.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

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
}

// Random samples: each window's average equals the mean of the last
// min(n, held) samples of the history (exact for integer samples, whose sums
// are exact and divided once; else within 1e-9 of the summed magnitudes).
TEST(SimpleMovingAverage, MatchesSampleHistory) {
  for (bool integers : {true, false}) {
    std::mt19937_64 rng(integers ? 41 : 42);
    const std::size_t capacity = 33;
    const auto lengths = oracle::random_windows(rng, capacity);
    auto sma = make_sma(capacity, lengths);
    std::vector<double> history;
    for (int step = 0; step < 2000; ++step) {
      history.push_back(oracle::random_value(rng, integers));
      sma.update(history.back());
      ASSERT_EQ(sma.samples_held(), std::min(history.size(), capacity));
      for (std::size_t i = 0; i < lengths.size(); ++i) {
        const std::size_t taken = std::min(history.size(), lengths[i]);
        double sum = 0.0;
        double scale = 1.0;
        for (std::size_t k = history.size() - taken; k < history.size(); ++k) {
          sum += history[k];
          scale += std::abs(history[k]);
        }
        const double tolerance = integers ? 0.0 : 1e-9 * scale;
        ASSERT_NEAR(sma.average(i), sum / static_cast<double>(taken), tolerance);
        ASSERT_NEAR(sma.sum(i), sum, tolerance);
      }
    }
  }
}

}  // namespace
}  // namespace vorn
