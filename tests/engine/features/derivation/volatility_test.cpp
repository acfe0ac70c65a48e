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

TEST(VolatilityFeature, TwoReturnsOfTenPercent) {
  FeatureDerivation derivation = built(volatility::build(kS, ValueField::Price, {{2}}, WarmupPolicy::FullWindow));
  Cells cells(1);
  cells.apply(derivation, price(kS, 1, 100.0), 0, 1);
  cells.apply(derivation, price(kS, 2, 110.0), 0, 1);
  expect_cells(cells.cells(), {kNaN}, "one return");
  cells.apply(derivation, price(kS, 3, 99.0), 0, 1);
  expect_cells(cells.cells(), {0.1}, "returns 0.1 and -0.1", 1e-15);
}

TEST(VolatilityFeature, BuilderChecks) {
  struct Case {
    std::vector<std::uint64_t> windows;
    const char* message;
  };
  const std::vector<Case> cases{
      {std::vector<std::uint64_t>(17, 2), "invalid argument: maximum number of windows (16) reached"},
      {{5, 0}, "invalid argument: window period must be greater than 0"},
      {{std::uint64_t{1} << 62},
       "invalid indicator definition at index 0: rolling volatility: indicator construction failed"},
  };
  for (const auto& c : cases) {
    const auto result = volatility::build(kS, ValueField::Price, c.windows, WarmupPolicy::FirstValue);
    ASSERT_FALSE(result.has_value()) << c.message;
    EXPECT_EQ(message(result.error()), c.message);
  }
  EXPECT_TRUE(volatility::build(kS, ValueField::Price, std::vector<std::uint64_t>(16, 2), WarmupPolicy::FirstValue)
                  .has_value());
}

}  // namespace
}  // namespace vorn
