#include "engine/indicators/averages/simple_moving_average.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

// Random samples: each window's average equals the mean of the last
// min(n, held) samples of the history (exact for integer samples, whose sums
// are exact and divided once).
TEST(SimpleMovingAverage, MatchesSampleHistory) {
  for (bool integers : {true, false}) {
    std::mt19937_64 rng(integers ? 41 : 42);
    const std::size_t capacity = 33;
    const auto lengths = oracle::random_windows(rng, capacity);
    auto sma = oracle::with_windows(SimpleMovingAverage::try_new(capacity, WarmupPolicy::FullWindow), lengths);
    std::vector<double> history;
    for (int step = 0; step < 2000; ++step) {
      history.push_back(oracle::random_value(rng, integers));
      sma.update(history.back());
      ASSERT_EQ(sma.samples_held(), std::min(history.size(), capacity));
      for (std::size_t i = 0; i < lengths.size(); ++i) {
        const oracle::Sum expected = oracle::last_sum(history, lengths[i], integers);
        const auto taken = static_cast<double>(std::min(history.size(), lengths[i]));
        ASSERT_NEAR(sma.average(i), expected.sum / taken, expected.tolerance);
        ASSERT_NEAR(sma.sum(i), expected.sum, expected.tolerance);
      }
    }
  }
}


// Real samples, where the order of the steps shows in the last bit: each
// window's running sum takes the new sample, then gives back the one leaving,
// (sum + x) - leaving, and its average divides that sum once.
TEST(SimpleMovingAverage, RunningSumsKeepTheirOrderBitForBit) {
  std::mt19937_64 rng(43);
  const std::size_t capacity = 7;
  const std::vector<std::size_t> lengths{3, capacity, 1};
  auto sma = oracle::with_windows(SimpleMovingAverage::try_new(capacity, WarmupPolicy::FirstValue), lengths);
  std::vector<double> history, sums(lengths.size(), 0.0);
  for (int step = 0; step < 500; ++step) {
    const double x = oracle::random_value(rng, false);
    history.push_back(x);
    sma.update(x);
    for (std::size_t i = 0; i < lengths.size(); ++i) {
      const std::size_t n = lengths[i];
      const double leaving = history.size() > n ? history[history.size() - 1 - n] : 0.0;
      sums[i] = (sums[i] + x) - leaving;
      ASSERT_EQ(sma.sum(i), sums[i]) << "step " << step << ", window " << n;
      ASSERT_EQ(sma.average(i), sums[i] / static_cast<double>(std::min(n, history.size()))) << "step " << step;
    }
  }
}
}  // namespace
}  // namespace vorn
