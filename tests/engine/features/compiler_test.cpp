#include "engine/features/compiler.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/engine/features/feature_test_support.hpp"

namespace vorn {
namespace {

using namespace feature_test;

std::string bad(int index, std::string_view kind, std::string_view reason) {
  return "invalid indicator definition at index " + std::to_string(index) + ": " + std::string(kind) + ": " +
         std::string(reason);
}

TEST(Compiler, MessagesOfTheChecksInOrder) {
  const Symbol s = sym("cmp");
  const auto cvd = [s](std::uint64_t window) { return Cvd{s, kTrades, window, FV}; };
  std::vector<FeatureKey> seventeen;
  for (std::uint64_t w = 1; w <= 17; ++w) seventeen.push_back(cvd(w));
  struct Case {
    std::vector<FeatureDefinition> definitions;
    std::string message;
  };
  const std::vector<Case> cases{
      {defs({Context{s, ""}}), bad(0, "context", "context name must not be empty")},
      {defs({OrderBookLevelSize{s, Side::Bid, dec("-0.5")}}),
       bad(0, "order book level size", "order-book query prices must be nonnegative")},
      {defs({OrderBookNthPrice{s, Side::Ask, 0}}), bad(0, "order book nth price", "order-book depth must be positive")},
      {defs({OrderBookImbalance{s, 0}}), bad(0, "order-book imbalance", "order-book depth must be positive")},
      {defs({OrderBookDepthUntilSizeTotalSize{s, Side::Ask, dec("0.00")}}),
       bad(0, "order book depth until size total size", "order-book target size must be positive")},
      {defs({OrderBookVolumeBetweenPrices{s, Side::Bid, dec("3"), dec("-1")}}),
       bad(0, "order book volume between prices", "order-book query prices must be nonnegative")},
      {defs({OrderBookVolumeBetweenPrices{s, Side::Bid, dec("2"), dec("2.0")}}),
       bad(0, "order book volume between prices", "order-book query requires from_price < to_price")},
      {defs({Cvd{s, kTradePrice, 0, FV}}), bad(0, "CVD", "requires Event(Trade) as its source")},
      {defs({cvd(0)}), bad(0, "CVD", "window must be at least 1")},
      {defs({Return{s, kTrades, 0, ReturnKind::Simple}}), bad(0, "simple return", "window must be at least 1")},
      {defs({Return{s, kPrice, UINT64_MAX, ReturnKind::Log}}), bad(0, "log return", "window is too large")},
      {defs({Return{s, kTrades, 1, ReturnKind::Log}}), bad(0, "log return", "requires a scalar event-field source")},
      {defs({Volatility{s, kAny, 0, FV}}), bad(0, "rolling volatility", "window must be at least 1")},
      {defs({SmaTimed{s, kTrades, ms(1), ms(1), FV}}), bad(0, "timed SMA", "requires a scalar event-field source")},
      {defs({SmaTimed{s, kPrice, Duration{0, 1'500'000}, ms(3), FV}}),
       bad(0, "timed SMA", "aggregation must use whole-millisecond precision, got 1.5ms")},
      {defs({TradeVolumeTimed{s, kTrades, Duration{UINT64_MAX / 1000, 0}, ms(1), FV}}),
       bad(0, "timed trade volume", "aggregation must fit signed 64-bit milliseconds, got 18446744073709551s")},
      {defs({feature_key::TradeCountTimed{s, kTrades, ms(0), ms(1), FV}}),
       bad(0, "timed trade count", "aggregation must be at least 1 millisecond")},
      {defs({VolatilityTimed{s, kPrice, ms(1), Duration{0, 1'500'000}, FV}}),
       bad(0, "timed rolling volatility", "window must use whole-millisecond precision, got 1.5ms")},
      {defs({VwapTimed{s, kTrades, ms(2000), ms(1000), FW}}),
       bad(0, "timed VWAP", "window must be at least aggregation 2000ms, got 1000ms")},
      {defs({SmaTimed{s, kPrice, ms(60'000), ms(90'000), FV}}),
       bad(0, "timed SMA", "window must be an exact multiple of aggregation 60000ms, got 90000ms")},
      {defs({ObvTimed{s, kAny, ms(1), ms(1), FV}}), bad(0, "timed OBV", "requires Event(Trade) as its source")},
      {defs({Vpt{s, kTradePrice}}), bad(0, "VPT", "requires Event(Trade) as its source")},
      {defs({TimeSinceFirstEventOfDay{s, kAny, 50'400'000}, TimeSinceFirstEventOfDay{s, kAny, -50'460'000}}),
       bad(1, "time since first event of day", "UTC offset must be within -14h..=+14h, got -50460000ms")},
      {defs({TimeSinceFirstEventOfDay{s, kAny, 30'000}}),
       bad(0, "time since first event of day", "UTC offset must use whole-minute precision, got 30000ms")},
      {{def(cvd(10)), def("other", cvd(10))}, bad(1, "CVD", "duplicates an earlier feature key")},
      // A feature added twice repeats its key and its default id: the key is reported.
      {defs({Vpt{s, kTrades}, cvd(10), cvd(10)}), bad(2, "CVD", "duplicates an earlier feature key")},
      {{def("x", cvd(10)), def("x", cvd(20))}, bad(1, "CVD", "duplicates an earlier feature ID")},
      {{def(Vpt{s, kTrades}), def(DayOfWeek{s, kAny}), def("__reserved_1", cvd(10))},
       "invalid argument: feature definition at index 2 uses the reserved namespace for feature IDs"},
      {defs(seventeen), bad(16, "CVD", "compatible feature group exceeds 16 outputs")},
      // A ring of 2^61 doubles cannot be had: reported at the group's first member.
      {defs({Vpt{s, kTrades}, cvd(1ull << 61), DayOfWeek{s, kAny}}), bad(1, "CVD", "indicator construction failed")},
      {defs({Return{s, kPrice, UINT64_MAX - 1, ReturnKind::Simple}}),
       bad(0, "simple return", "indicator construction failed")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text_of(compiler::compile(c.definitions, c.definitions.size())), c.message);
  }
  EXPECT_EQ(text_of(compiler::validate_key(TimeSinceFirstEventOfDay{s, kAny, -50'460'000})),
            bad(0, "time since first event of day", "UTC offset must be within -14h..=+14h, got -50460000ms"));
  EXPECT_EQ(text_of(compiler::compile(defs({cvd(1), cvd(2)}), 3)),
            "output storage has 3 cells, but compilation requires exactly 2");
}

TEST(Compiler, GroupsSharedStateAndLaysCellsOutGroupByGroup) {
  const Symbol s = sym("cmp");
  const auto sma = [s](std::uint64_t aggregation, std::uint64_t window) {
    return SmaTimed{s, kPrice, ms(aggregation), ms(window), FV};
  };
  struct Case {
    std::vector<FeatureKey> keys;
    std::vector<std::size_t> cells;  // input index of each cell
    std::vector<std::size_t> ranges;  // cells per derivation
  };
  const std::vector<Case> cases{
      {{Cvd{s, kTrades, 50, FV}, Cvd{s, kTrades, 10, FV}, Cvd{s, kTrades, 20, FV}}, {0, 1, 2}, {3}},
      {{Cvd{s, kTrades, 10, FV}, Cvd{s, kTrades, 20, FW}, Cvd{s, kTrades, 50, FV}}, {0, 2, 1}, {2, 1}},
      {{Cvd{s, kTrades, 10, FV}, Vpt{s, kTrades}, Cvd{s, kTrades, 20, FV}}, {0, 2, 1}, {2, 1}},
      {{sma(1000, 60'000), sma(1000, 120'000)}, {0, 1}, {2}},
      {{sma(1000, 60'000), sma(2000, 120'000)}, {0, 1}, {1, 1}},
      {{Context{s, "a"}, OrderBookImbalance{s, 1}, Context{s, "b"}, OrderBookImbalance{s, 10}}, {0, 1, 3, 2}, {2}},
      {{feature_key::TradeCountTimed{s, kTrades, ms(1000), ms(60'000), FV}, feature_key::TradeCountTimed{s, kTrades, ms(1000), ms(5000), FV}},
       {0, 1}, {1, 1}},
  };
  for (const Case& c : cases) {
    const auto definitions = defs(c.keys);
    auto compiled = compiler::compile(definitions, definitions.size());
    ASSERT_TRUE(compiled) << text_of(compiled);
    std::vector<std::size_t> ranges;
    for (const CellRange& range : compiled->ranges) ranges.push_back(range.len);
    EXPECT_EQ(ranges, c.ranges);
    for (std::size_t cell = 0; cell < c.cells.size(); ++cell) {
      EXPECT_EQ(compiled->ids[cell], definitions[c.cells[cell]].id);
      EXPECT_EQ(compiled->is_context[cell], c.keys[c.cells[cell]].tag() == FeatureKeyTag::Context);
    }
  }
}

}  // namespace
}  // namespace vorn
