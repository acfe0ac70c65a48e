// Tests of the two small derivations: the volume-price trend and the copied
// event field.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/features/derivation/event_field.hpp"
#include "engine/features/derivation/vpt.hpp"
#include "tests/engine/features/derivation/derivation_test_support.hpp"

namespace vorn {
namespace {

using namespace derivation_test;

constexpr Symbol kS{1};

struct Step {
  Event event;
  std::optional<double> written;  // none: nothing written
};

void run(FeatureDerivation derivation, const std::vector<Step>& steps) {
  Cells cells(2);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const auto before = cells.cells();
    cells.apply(derivation, steps[i].event, 0, 2);
    const std::string where = "step " + std::to_string(i);
    expect_cells(cells.cells(), steps[i].written ? std::vector<double>{*steps[i].written, kNaN} : before, where);
    EXPECT_EQ(cells.flags, std::vector<std::uint8_t>(2, steps[i].written ? 1 : 0)) << where;
  }
}

TEST(VptFeature, RunningSumSkipsAZeroPreviousPrice) {
  const double after_second = (11.0 - 10.0) * 3.0 / 10.0;
  const double after_third = after_second + (0.0 - 11.0) * 1.0 / 11.0;
  run(VptFeature{std::nullopt, 0.0, kS},
      {
          {trade(kS, 1, 10.0, 2.0), 0.0},
          {trade(kS, 2, 11.0, 3.0, std::nullopt), after_second},  // the side does not matter
          {trade(Symbol{2}, 3, 50.0, 3.0), std::nullopt},
          {price(kS, 4, 50.0), std::nullopt},
          {trade(kS, 5, 0.0, 1.0), after_third},
          {trade(kS, 6, 5.0, 2.0), after_third},  // previous price 0: nothing added
          {trade(kS, 7, 6.0, 1.0), after_third + (6.0 - 5.0) * 1.0 / 5.0},
      });
}

TEST(EventFieldFeature, CopiesTheFieldOfAnyRoutedEvent) {
  run(EventFieldFeature{ValueField::TradeVolume},
      {
          {trade(kS, 1, 10.0, 2.5), 2.5},
          {price(kS, 2, 7.0), std::nullopt},
          {volume(kS, 3, 7.0), std::nullopt},
          {trade(Symbol{2}, 4, 10.0, 4.0), 4.0},
      });
  run(EventFieldFeature{ValueField::Price}, {{price(kS, 1, 7.0), 7.0}, {trade(kS, 2, 8.0, 1.0), std::nullopt}});
  run(EventFieldFeature{ValueField::Volume}, {{volume(kS, 1, 3.0), 3.0}, {time_event(2), std::nullopt}});
  run(EventFieldFeature{ValueField::TradePrice}, {{trade(kS, 1, 9.0, 1.0), 9.0}, {price(kS, 2, 8.0), std::nullopt}});
}

}  // namespace
}  // namespace vorn
