#include "engine/features/derivation/cvd.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/panic.hpp"
#include "tests/engine/features/derivation/derivation_test_support.hpp"

namespace vorn {
namespace {

using namespace derivation_test;

constexpr Symbol kS{1};
constexpr Symbol kOther{2};

// Windows 2 and 3 in cells 1 and 2; cell 3 is an output past the windows;
// cells 0 and 4 lie outside the group.
struct Step {
  Event event;
  std::vector<double> first_value;  // cells after the event
  std::vector<double> full_window;
};

TEST(CvdFeature, SignedSumsUnderBothPolicies) {
  const double u = kUntouched;
  const std::vector<Step> steps{
      {trade(kS, 1, 10.0, 1.0, AggressorSide::Sell), {u, -1.0, -1.0, kNaN, u}, {u, kNaN, kNaN, kNaN, u}},
      // Not a trade of the group, or no known side: nothing changes.
      {trade(kOther, 2, 10.0, 7.0, AggressorSide::Buy), {u, -1.0, -1.0, kNaN, u}, {u, kNaN, kNaN, kNaN, u}},
      {trade(kS, 3, 10.0, 9.0, std::nullopt), {u, -1.0, -1.0, kNaN, u}, {u, kNaN, kNaN, kNaN, u}},
      {price(kS, 4, 10.0), {u, -1.0, -1.0, kNaN, u}, {u, kNaN, kNaN, kNaN, u}},
      {trade(kS, 5, 10.0, 2.0, AggressorSide::Sell), {u, -3.0, -3.0, kNaN, u}, {u, -3.0, kNaN, kNaN, u}},
      {trade(kS, 6, 10.0, 4.0, AggressorSide::Buy), {u, 2.0, 1.0, kNaN, u}, {u, 2.0, 1.0, kNaN, u}},
      {trade(kS, 7, 10.0, 0.5, AggressorSide::Buy), {u, 4.5, 2.5, kNaN, u}, {u, 4.5, 2.5, kNaN, u}},
  };
  const std::vector<std::uint64_t> windows{2, 3};
  for (const WarmupPolicy policy : {WarmupPolicy::FirstValue, WarmupPolicy::FullWindow}) {
    FeatureDerivation derivation = built(cvd::build(kS, windows, policy));
    Cells cells(5);
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const auto before = cells.cells();
      cells.apply(derivation, steps[i].event, 1, 3);
      const bool writes = i == 0 || i >= 4;
      const std::vector<double>& expected =
          policy == WarmupPolicy::FirstValue ? steps[i].first_value : steps[i].full_window;
      const std::string where = "policy " + std::string(json_word(policy)) + " step " + std::to_string(i);
      expect_cells(cells.cells(), writes ? expected : before, where);
      EXPECT_EQ(cells.flags, writes ? (std::vector<std::uint8_t>{0, 1, 1, 1, 0}) : std::vector<std::uint8_t>(5, 0))
          << where;
    }
  }
}

// The windows are checked by the indicator, in order; a ring that cannot be had
// is a construction failure naming the kind, no windows a broken invariant.
TEST(CvdFeature, BuilderChecks) {
  const std::pair<std::vector<std::uint64_t>, const char*> cases[] = {
      {{3, 0}, "invalid argument: window period must be greater than 0"},
      {{std::uint64_t{1} << 62}, "invalid indicator definition at index 0: CVD: indicator construction failed"},
  };
  for (const auto& [windows, text] : cases) {
    const auto result = cvd::build(kS, windows, WarmupPolicy::FirstValue);
    ASSERT_FALSE(result.has_value()) << text;
    EXPECT_EQ(message(result.error()), text);
  }
  EXPECT_EQ(built(cvd::build(kS, std::vector<std::uint64_t>(16, 4), WarmupPolicy::FirstValue)).cvd.window_count(), 16u);
  EXPECT_THROW((void)cvd::build(kS, {}, WarmupPolicy::FirstValue), Panic);
}

}  // namespace
}  // namespace vorn
