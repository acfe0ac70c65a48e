#include "engine/features/derivation/volatility.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tests/engine/features/derivation/derivation_test_support.hpp"

namespace vorn {
namespace {

using namespace derivation_test;

constexpr Symbol kS{1};

// Population standard deviation of the last n returns, recomputed from scratch.
double brute_volatility(const std::vector<double>& returns, std::size_t n) {
  const std::size_t count = std::min(n, returns.size());
  if (count == 0) return kNaN;
  double mean = 0.0;
  for (std::size_t i = returns.size() - count; i < returns.size(); ++i) mean += returns[i];
  mean /= static_cast<double>(count);
  double squares = 0.0;
  for (std::size_t i = returns.size() - count; i < returns.size(); ++i) {
    squares += (returns[i] - mean) * (returns[i] - mean);
  }
  return std::sqrt(squares / static_cast<double>(count));
}

TEST(VolatilityFeature, WindowsAgainstRecomputedReturns) {
  const std::vector<double> prices{100.0, 110.0, 99.0, 0.0, 5.0, 6.0, 6.6, 5.0, 5.5};
  const std::vector<std::uint64_t> windows{1, 2, 3};
  for (const WarmupPolicy policy : {WarmupPolicy::FirstValue, WarmupPolicy::FullWindow}) {
    FeatureDerivation derivation = built(volatility::build(kS, ValueField::Volume, windows, policy));
    Cells cells(4);
    std::vector<double> returns;
    std::optional<double> previous;
    for (std::size_t i = 0; i < prices.size(); ++i) {
      // A price event of the same symbol is not the volume field.
      cells.apply(derivation, price(kS, static_cast<std::int64_t>(i), 1.0), 0, 4);
      EXPECT_EQ(cells.flags, std::vector<std::uint8_t>(4, 0));
      cells.apply(derivation, volume(kS, static_cast<std::int64_t>(i), prices[i]), 0, 4);
      if (previous && *previous != 0.0) returns.push_back((prices[i] - *previous) / *previous);
      previous = prices[i];
      std::vector<double> expected;
      for (const std::uint64_t n : windows) {
        const bool warm = policy == WarmupPolicy::FirstValue || returns.size() >= n;
        expected.push_back(warm ? brute_volatility(returns, n) : kNaN);
      }
      expected.push_back(kNaN);
      const std::string where = std::string(json_word(policy)) + " price " + std::to_string(i);
      expect_cells(cells.cells(), expected, where, 1e-12);
      EXPECT_EQ(cells.flags, std::vector<std::uint8_t>(4, 1)) << where;
    }
  }
}

// The window checks are the indicator's; a ring that cannot be had is a
// construction failure naming the derivation's kind.
TEST(VolatilityFeature, BuilderChecks) {
  const auto huge = volatility::build(kS, ValueField::Price, {{std::uint64_t{1} << 62}}, WarmupPolicy::FirstValue);
  ASSERT_FALSE(huge.has_value());
  EXPECT_EQ(message(huge.error()),
            "invalid indicator definition at index 0: rolling volatility: indicator construction failed");
  EXPECT_TRUE(volatility::build(kS, ValueField::Price, std::vector<std::uint64_t>(16, 2), WarmupPolicy::FirstValue)
                  .has_value());
}

}  // namespace
}  // namespace vorn
