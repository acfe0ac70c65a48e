#include "engine/features/derivation/clock.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "tests/engine/features/derivation/derivation_test_support.hpp"

namespace vorn {
namespace {

using namespace derivation_test;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kHour = 3'600'000;
constexpr std::int64_t kDay = 24 * kHour;

TEST(DayOfWeekFeature, UtcDaysFromTheEpochThursday) {
  struct Case {
    std::int64_t timestamp;
    int day;  // 0 Sunday
  };
  const std::vector<Case> cases{
      {0, 4},          {-1, 3},       {kDay - 1, 4}, {kDay, 5},         {-kDay, 3},
      {-kDay - 1, 2},  {2 * kDay, 6}, {3 * kDay, 0}, {1'700'000'000'000, 2},  // a Tuesday
      {kMax, 0},       {kMin, 0},
  };
  FeatureDerivation derivation = DayOfWeekFeature{};
  Cells cells(3);
  for (const auto& c : cases) {
    EXPECT_EQ(day_of_week(c.timestamp), c.day) << c.timestamp;
    // Any routed event, of any kind or symbol.
    cells.apply(derivation, trade(Symbol{3}, c.timestamp, 1.0, 1.0), 1, 2);
    expect_cells(cells.cells(), {kUntouched, static_cast<double>(c.day), kNaN}, std::to_string(c.timestamp));
    EXPECT_EQ(cells.flags, (std::vector<std::uint8_t>{0, 1, 1}));
  }
}

TEST(TimeSinceFirstEventOfDayFeature, RestartsAtTheLocalDayBoundary) {
  struct Step {
    Event event;
    double since;
  };
  struct Case {
    std::int64_t offset;
    std::vector<Step> steps;
  };
  const Symbol s{3};
  const std::vector<Case> cases{
      // +60 minutes: the local day starts at 23:00 UTC.
      {kHour,
       {{price(s, 22 * kHour, 1.0), 0.0},
        {time_event(23 * kHour - 1), static_cast<double>(kHour - 1)},
        {trade(Symbol{4}, 23 * kHour, 1.0, 1.0), 0.0},
        {price(s, 23 * kHour + kHour / 2, 1.0), static_cast<double>(kHour / 2)},
        {price(s, kDay + 23 * kHour - 1, 1.0), static_cast<double>(kDay - 1)},
        {price(s, kDay + 23 * kHour, 1.0), 0.0}}},
      // UTC, across the epoch.
      {0,
       {{price(s, -5000, 1.0), 0.0},
        {price(s, -1, 1.0), 4999.0},
        {price(s, 0, 1.0), 0.0},
        {price(s, 10, 1.0), 10.0}}},
      // -14 hours: the local day starts at 14:00 UTC; the first event of a
      // day need not be at its start.
      {-14 * kHour,
       {{price(s, 0, 1.0), 0.0},
        {price(s, 14 * kHour - 1, 1.0), static_cast<double>(14 * kHour - 1)},
        {price(s, 14 * kHour, 1.0), 0.0},
        {price(s, 14 * kHour + 7, 1.0), 7.0}}},
      // Local times beyond the 64-bit range stay exact.
      {14 * kHour, {{price(s, kMax - 10, 1.0), 0.0}, {price(s, kMax, 1.0), 10.0}}},
      {-14 * kHour, {{price(s, kMin, 1.0), 0.0}, {price(s, kMin + 5, 1.0), 5.0}}},
  };
  for (const auto& c : cases) {
    FeatureDerivation derivation = TimeSinceFirstEventOfDayFeature{c.offset, std::nullopt, 0};
    Cells cells(2);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      cells.apply(derivation, c.steps[i].event, 0, 2);
      const std::string where = "offset " + std::to_string(c.offset) + " step " + std::to_string(i);
      expect_cells(cells.cells(), {c.steps[i].since, kNaN}, where);
      EXPECT_EQ(cells.flags, (std::vector<std::uint8_t>{1, 1})) << where;
    }
  }
}

}  // namespace
}  // namespace vorn
