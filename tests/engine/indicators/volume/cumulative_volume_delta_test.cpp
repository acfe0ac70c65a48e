#include "engine/indicators/volume/cumulative_volume_delta.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

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
}

// Random trades: each window equals the signed sum of the last n trades of
// the whole history (exact for integer quantities, else within 1e-9 of the
// summed magnitudes).
TEST(CumulativeVolumeDelta, MatchesTradeHistory) {
  for (bool integers : {true, false}) {
    std::mt19937_64 rng(integers ? 21 : 22);
    const std::size_t capacity = 40;
    const auto lengths = oracle::random_windows(rng, capacity);
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
        ASSERT_NEAR(cvd.sum(i), expected, integers ? 0.0 : 1e-9 * scale);
      }
    }
  }
}

}  // namespace
}  // namespace vorn
