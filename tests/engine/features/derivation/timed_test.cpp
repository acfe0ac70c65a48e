#include "engine/features/derivation/timed.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "engine/features/derivation/trade_count.hpp"
#include "tests/engine/features/derivation/derivation_test_support.hpp"

namespace vorn {
namespace {

using namespace derivation_test;

constexpr Symbol kS{1};
constexpr Symbol kOther{2};
constexpr Duration kSecond{1, 0};
constexpr auto kFirst = WarmupPolicy::FirstValue;
constexpr auto kFull = WarmupPolicy::FullWindow;

// One event and the cells it leaves; none when it writes nothing.
struct Step {
  Event event;
  std::optional<std::vector<double>> cells;
};

void run(FeatureDerivation derivation, const std::vector<Step>& steps, const std::string& name) {
  const std::size_t n = steps.front().cells->size();
  Cells cells(n);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const auto before = cells.cells();
    cells.apply(derivation, steps[i].event, 0, n);
    const std::string where = name + " step " + std::to_string(i);
    expect_cells(cells.cells(), steps[i].cells.value_or(before), where, 1e-12);
    EXPECT_EQ(cells.flags, std::vector<std::uint8_t>(n, steps[i].cells ? 1 : 0)) << where;
  }
}

// Width 1 s; windows of 3 and 1 buckets; a third output past the windows.
TEST(TimedFeatures, TradeVolumeAgesOnItsOwnSymbolsEventsOnly) {
  const std::vector<std::uint64_t> periods{3, 1};
  run(built(trade_volume::build_timed(kS, kSecond, periods, 3, kFull)),
      {
          {trade(kS, 0, 10.0, 1.0), {{kNaN, kNaN, kNaN}}},
          {trade(kS, 1500, 10.0, 2.0), {{kNaN, 2.0, kNaN}}},  // the 1-bucket window is full at 1000
          {trade(kS, 2999, 10.0, 3.0), {{kNaN, 3.0, kNaN}}},
          {time_event(3000), std::nullopt},                 // the global symbol's
          {trade(kOther, 3000, 10.0, 9.0), std::nullopt},
          {price(kS, 3000, 5.0), {{5.0, 0.0, kNaN}}},        // bucket 0 leaves; full from 3000
          {snapshot_event(kS, 3000), std::nullopt},         // a timestamp already observed
          {price(kS, 3500, 5.0), {{5.0, 0.0, kNaN}}},
      },
      "trade volume");
}

TEST(TimedFeatures, VwapIsNaNWithoutQuantity) {
  run(built(vwap::build_timed(kS, kSecond, {{2}}, 2, kFirst)),
      {
          {trade(kS, 0, 10.0, 0.0), {{kNaN}}},
          {trade(kS, 10, 12.0, 2.0), {{12.0}}},
          {trade(kS, 1200, 15.0, 1.0), {{(24.0 + 15.0) / 3.0}}},
          {price(kS, 2000, 1.0), {{15.0}}},
          {price(kS, 3000, 1.0), {{kNaN}}},  // the window is empty
      },
      "vwap");
}

TEST(TimedFeatures, SmaAveragesBucketMeans) {
  const std::vector<Step> first_value{
      {price(kS, 100, 1.0), {{1.0}}},
      {price(kS, 200, 3.0), {{2.0}}},
      {trade(kS, 500, 7.0, 1.0), {{2.0}}},  // not the field: the clock moves
      {price(kS, 1100, 10.0), {{6.0}}},     // bucket means 2 and 10
      {volume(kS, 2000, 1.0), {{10.0}}},
      {volume(kS, 5000, 1.0), {{kNaN}}},    // no bucket left
      {price(kS, 5100, 4.0), {{4.0}}},
  };
  run(built(sma::build_timed(kS, ValueField::Price, kSecond, {{2}}, 2, kFirst)), first_value, "sma first value");
  // Full window: ready once 2000 ms have passed since the first sample at 100.
  std::vector<Step> full_window = first_value;
  for (std::size_t i = 0; i < 5; ++i) full_window[i].cells = {{kNaN}};
  run(built(sma::build_timed(kS, ValueField::Price, kSecond, {{2}}, 2, kFull)), full_window, "sma full window");
}

TEST(TimedFeatures, ObvFollowsTheBucketDirection) {
  run(built(obv::build_timed(kS, kSecond, {{3}}, 3, kFirst)),
      {
          {trade(kS, 0, 10.0, 1.0), {{0.0}}},
          {trade(kS, 1000, 11.0, 5.0), {{5.0}}},
          {trade(kS, 1500, 9.0, 2.0), {{-7.0}}},
          {price(kS, 1500, 1.0), std::nullopt},
          {volume(kS, 1600, 1.0), {{-7.0}}},
      },
      "obv");
}

TEST(TimedFeatures, TradeCount) {
  run(TradeCountTimedFeature{built(TradeCountTimed::new_heap(kSecond, Duration{2, 0}, kFull)), kS},
      {
          {trade(kS, 0, 1.0, 1.0), {{kNaN, kNaN}}},
          {trade(kS, 500, 1.0, 1.0), {{kNaN, kNaN}}},
          {trade(kS, 1500, 1.0, 1.0), {{kNaN, kNaN}}},
          {price(kS, 2000, 1.0), {{1.0, kNaN}}},  // bucket 0 leaves; ready from 2000
          {trade(kS, 2500, 1.0, 1.0), {{2.0, kNaN}}},
      },
      "trade count");
}

TEST(TimedFeatures, VolatilityOfReturnsInsideTheWindow) {
  run(built(volatility::build_timed(kS, ValueField::TradePrice, kSecond, {{2}}, kFirst)),
      {
          {trade(kS, 0, 100.0, 1.0), {{kNaN}}},  // no return yet
          {trade(kS, 100, 110.0, 1.0), {{0.0}}},
          {trade(kS, 1100, 99.0, 1.0), {{0.1}}},  // returns 0.1 and -0.1
          {price(kS, 2000, 1.0), {{0.0}}},        // the bucket at 0 leaves
          {price(kS, 3000, 1.0), {{kNaN}}},
      },
      "volatility");
}

// A derivation of the global symbol takes time events as its own.
TEST(TimedFeatures, GlobalSymbolSeesTimeEvents) {
  run(built(sma::build_timed(Symbol::global(), ValueField::Price, kSecond, {{1}}, 1, kFirst)),
      {
          {time_event(0), {{kNaN}}},
          {time_event(0), std::nullopt},
          {price(Symbol::global(), 10, 5.0), {{5.0}}},
          {time_event(1000), {{kNaN}}},
          {price(kS, 1100, 7.0), std::nullopt},
      },
      "global sma");
}

// Every builder names its kind when the largest period leaves no room for the
// ring's extra bucket; the other checks are the indicators', in order.
TEST(TimedFeatures, BuilderChecks) {
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  const std::vector<std::uint64_t> none;
  const auto outcome = [](const auto& result) { return result ? std::string("ok") : message(result.error()); };
  const auto sma_with = [&](Duration aggregation, std::vector<std::uint64_t> periods, std::uint64_t largest) {
    return outcome(sma::build_timed(kS, ValueField::Price, aggregation, periods, largest, kFirst));
  };
  const std::pair<std::string, std::string> cases[] = {
      {sma_with(kSecond, {}, kMax), "invalid argument: timed SMA timed period is too large"},
      {outcome(volatility::build_timed(kS, ValueField::Price, kSecond, {{kMax}}, kFirst)),
       "invalid argument: timed rolling volatility timed period is too large"},
      {outcome(obv::build_timed(kS, kSecond, none, kMax, kFirst)), "invalid argument: timed OBV timed period is too large"},
      {outcome(trade_volume::build_timed(kS, kSecond, none, kMax, kFirst)),
       "invalid argument: timed trade volume timed period is too large"},
      {outcome(vwap::build_timed(kS, kSecond, none, kMax, kFirst)), "invalid argument: timed VWAP timed period is too large"},
      {sma_with(Duration{0, 1'500'000}, {1}, 1),
       "invalid argument: aggregation duration must use whole-millisecond precision"},
      {sma_with(kSecond, {2, 5}, 4), "invalid argument: window period 5 must be less than ring buffer capacity 5"},
      {outcome(trade_volume::build_timed(kS, kSecond, {{std::uint64_t{1} << 62}}, std::uint64_t{1} << 62, kFirst)),
       "invalid indicator definition at index 0: timed trade volume: indicator construction failed"},
      {sma_with(kSecond, std::vector<std::uint64_t>(16, 1), 1), "ok"},
      {outcome(vwap::build_timed(kS, Duration{0, 1'000'000}, {{3}}, 3, kFirst)), "ok"},
  };
  for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
  // Without windows: no outputs.
  FeatureDerivation empty = built(obv::build_timed(kS, kSecond, none, 0, kFirst));
  Cells cells(1);
  cells.apply(empty, trade(kS, 0, 1.0, 1.0), 0, 1);
  expect_cells(cells.cells(), {kNaN}, "no windows");
}

}  // namespace
}  // namespace vorn
