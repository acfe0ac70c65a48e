#include "engine/features/derivation/returns.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tests/engine/features/derivation/derivation_test_support.hpp"

namespace vorn {
namespace {

using namespace derivation_test;

constexpr Symbol kS{1};
constexpr Symbol kOther{2};

// Simple returns over lags 1 and 2 of the price field, in cells 0 and 1;
// cell 2 is past the lags.
TEST(ReturnsFeature, SimpleReturnsOverLags) {
  FeatureDerivation derivation = built(returns::build(kS, ValueField::Price, ReturnKind::Simple, {{1, 2}}));
  Cells cells(3);
  struct Step {
    Event event;
    bool writes;
    std::vector<double> expected;
  };
  const std::vector<Step> steps{
      {price(kS, 1, 100.0), true, {kNaN, kNaN, kNaN}},
      {price(kS, 2, 110.0), true, {(110.0 - 100.0) / 100.0, kNaN, kNaN}},
      // Another symbol's prices, twice, and other fields change nothing.
      {price(kOther, 3, 1.0), false, {}},
      {price(kOther, 4, 2.0), false, {}},
      {trade(kS, 5, 1.0, 1.0), false, {}},
      {volume(kS, 6, 1.0), false, {}},
      {price(kS, 7, 99.0), true, {(99.0 - 110.0) / 110.0, (99.0 - 100.0) / 100.0, kNaN}},
      {price(kS, 8, 0.0), true, {(0.0 - 99.0) / 99.0, (0.0 - 110.0) / 110.0, kNaN}},
      // The lagged value 0 gives no simple return.
      {price(kS, 9, 5.0), true, {kNaN, (5.0 - 99.0) / 99.0, kNaN}},
      {price(kS, 10, -5.0), true, {(-5.0 - 5.0) / 5.0, kNaN, kNaN}},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const auto before = cells.cells();
    cells.apply(derivation, steps[i].event, 0, 3);
    const std::string where = "step " + std::to_string(i);
    expect_cells(cells.cells(), steps[i].writes ? steps[i].expected : before, where);
    EXPECT_EQ(cells.flags, std::vector<std::uint8_t>(3, steps[i].writes ? 1 : 0)) << where;
  }
}

TEST(ReturnsFeature, LogReturnsNeedPositiveValues) {
  FeatureDerivation derivation = built(returns::build(kS, ValueField::TradePrice, ReturnKind::Log, {{1}}));
  Cells cells(1);
  struct Step {
    double value;
    double expected;
  };
  const std::vector<Step> steps{
      {4.0, kNaN}, {8.0, std::log(8.0) - std::log(4.0)}, {0.0, kNaN}, {5.0, kNaN},
      {-2.0, kNaN}, {3.0, kNaN},  {6.0, std::log(6.0) - std::log(3.0)},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    cells.apply(derivation, trade(kS, static_cast<std::int64_t>(i), steps[i].value, 1.0), 0, 1);
    expect_cells(cells.cells(), {steps[i].expected}, "step " + std::to_string(i));
  }
}

TEST(ReturnsFeature, BuilderChecks) {
  struct Case {
    std::vector<std::uint64_t> lags;
    const char* message;
  };
  const std::vector<Case> cases{
      {std::vector<std::uint64_t>(17, 1), "invalid argument: maximum number of windows (16) reached"},
      {{2, 0}, "invalid argument: window period must be greater than 0"},
      {{std::uint64_t{1} << 62}, "invalid indicator definition at index 0: log return: indicator construction failed"},
  };
  for (const auto& c : cases) {
    const auto result = returns::build(kS, ValueField::Price, ReturnKind::Log, c.lags);
    ASSERT_FALSE(result.has_value()) << c.message;
    EXPECT_EQ(message(result.error()), c.message);
  }
  EXPECT_TRUE(returns::build(kS, ValueField::Price, ReturnKind::Simple, std::vector<std::uint64_t>(16, 3)).has_value());
  // Without lags: no outputs, every requested cell NaN.
  FeatureDerivation empty = built(returns::build(kS, ValueField::Price, ReturnKind::Simple, {}));
  Cells cells(2);
  cells.apply(empty, price(kS, 1, 1.0), 0, 2);
  expect_cells(cells.cells(), {kNaN, kNaN}, "no lags");
}

}  // namespace
}  // namespace vorn
