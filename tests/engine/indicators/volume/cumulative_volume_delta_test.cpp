#include "engine/indicators/volume/cumulative_volume_delta.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

// Random trades: each window equals the signed sum of the last n trades of
// the whole history (exact for integer quantities).
TEST(CumulativeVolumeDelta, MatchesTradeHistory) {
  for (bool integers : {true, false}) {
    std::mt19937_64 rng(integers ? 21 : 22);
    const std::size_t capacity = 40;
    const auto lengths = oracle::random_windows(rng, capacity);
    auto cvd = oracle::with_windows(CumulativeVolumeDelta::try_new(capacity, WarmupPolicy::FirstValue), lengths);
    std::vector<double> history;
    for (int step = 0; step < 2000; ++step) {
      const bool sell = rng() % 2 == 0;
      const double quantity = std::abs(oracle::random_value(rng, integers));
      cvd.update_inner(sell ? AggressorSide::Sell : AggressorSide::Buy, quantity);
      history.push_back(sell ? -quantity : quantity);
      ASSERT_EQ(cvd.trades_held(), std::min(history.size(), capacity));
      for (std::size_t i = 0; i < lengths.size(); ++i) {
        const oracle::Sum expected = oracle::last_sum(history, lengths[i], integers);
        ASSERT_NEAR(cvd.sum(i), expected.sum, expected.tolerance);
      }
    }
  }
}

}  // namespace
}  // namespace vorn
