#include "engine/features/feature_id.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace vorn {
namespace {

using namespace feature_key;

Decimal dec(std::string_view text) { return Decimal::parse(text).value(); }
Symbol sym(std::string_view name) { return symbols::intern(name).value(); }
Duration ms(std::uint64_t millis) { return Duration::from_millis(millis); }

constexpr auto kTrades = FeatureSource::event(EventKind::Trade);
constexpr auto kTradePrice = FeatureSource::field(ValueField::TradePrice);
constexpr auto kFirst = WarmupPolicy::FirstValue;
constexpr auto kFull = WarmupPolicy::FullWindow;

struct IdCase {
  FeatureKey key;
  std::string expected;
};

// One key of every kind, with ids written out by hand from the rendering
// rules (symbol "BTCUSDT" is stored lower-cased, 7 bytes).
TEST(FeatureId, CanonicalIdOfEveryKind) {
  const Symbol btc = sym("BTCUSDT");
  const Symbol g = Symbol::global();
  const std::vector<IdCase> cases{
      {Context{g, "regime"}, "context:symbol=10:__global__:source=context:name=6:regime"},
      {OrderBookLevelSize{btc, Side::Bid, dec("100.50")},
       "order_book_level_size:symbol=7:btcusdt:source=order_book:side=bid:price=100.5"},
      {OrderBookNthPrice{btc, Side::Ask, 3},
       "order_book_nth_price:symbol=7:btcusdt:source=order_book:side=ask:n_levels=3"},
      {OrderBookNthSize{btc, Side::Bid, 1},
       "order_book_nth_size:symbol=7:btcusdt:source=order_book:side=bid:n_levels=1"},
      {OrderBookDepthUntilPrice{btc, Side::Ask, dec("0.0001")},
       "order_book_depth_until_price:symbol=7:btcusdt:source=order_book:side=ask:price=0.0001"},
      {OrderBookDepthUntilSizePriceFrom{btc, Side::Bid, dec("2.500")},
       "order_book_depth_until_size_price_from:symbol=7:btcusdt:source=order_book:side=bid:size=2.5"},
      {OrderBookDepthUntilSizePriceTo{btc, Side::Ask, dec("3.0")},
       "order_book_depth_until_size_price_to:symbol=7:btcusdt:source=order_book:side=ask:size=3"},
      {OrderBookDepthUntilSizeTotalSize{btc, Side::Bid, dec("10")},
       "order_book_depth_until_size_total_size:symbol=7:btcusdt:source=order_book:side=bid:size=10"},
      {OrderBookVolumeBetweenPrices{btc, Side::Bid, dec("99.50"), dec("100.0")},
       "order_book_volume_between_prices:symbol=7:btcusdt:source=order_book:side=bid:from_price=99.5:"
       "to_price=100"},
      {OrderBookBestBidPrice{btc}, "order_book_best_bid_price:symbol=7:btcusdt:source=order_book"},
      {OrderBookBestBidSize{btc}, "order_book_best_bid_size:symbol=7:btcusdt:source=order_book"},
      {OrderBookBestAskPrice{btc}, "order_book_best_ask_price:symbol=7:btcusdt:source=order_book"},
      {OrderBookBestAskSize{btc}, "order_book_best_ask_size:symbol=7:btcusdt:source=order_book"},
      {OrderBookMidPrice{btc}, "order_book_mid_price:symbol=7:btcusdt:source=order_book"},
      {OrderBookSpread{btc}, "order_book_spread:symbol=7:btcusdt:source=order_book"},
      {OrderBookSpreadBps{btc}, "order_book_spread_bps:symbol=7:btcusdt:source=order_book"},
      {OrderBookWeightedMidPrice{btc}, "order_book_weighted_mid_price:symbol=7:btcusdt:source=order_book"},
      {OrderBookMicroprice{btc}, "order_book_microprice:symbol=7:btcusdt:source=order_book"},
      {OrderBookImbalance{btc, 5}, "order_book_imbalance:symbol=7:btcusdt:source=order_book:n_levels=5"},
      {Field{btc, ValueField::TradeVolume}, "field:symbol=7:btcusdt:source=field.trade_volume"},
      {Cvd{btc, kTrades, 100, kFull}, "cvd:symbol=7:btcusdt:source=event.trade:window=100:warmup=full_window"},
      {Return{btc, FeatureSource::field(ValueField::Price), 1, ReturnKind::Simple},
       "simple_return:symbol=7:btcusdt:source=field.price:lag=1"},
      {Volatility{btc, FeatureSource::field(ValueField::Volume), 20, kFirst},
       "volatility:symbol=7:btcusdt:source=field.volume:window=20:warmup=first_value"},
      {SmaTimed{btc, kTradePrice, ms(1000), ms(60000), kFirst},
       "sma_timed:symbol=7:btcusdt:source=field.trade_price:aggregation_ns=1000000000:"
       "window_ns=60000000000:warmup=first_value"},
      {VolatilityTimed{btc, kTradePrice, ms(1), ms(90000), kFull},
       "volatility_timed:symbol=7:btcusdt:source=field.trade_price:aggregation_ns=1000000:"
       "window_ns=90000000000:warmup=full_window"},
      {ObvTimed{btc, kTrades, ms(500), ms(1500), kFirst},
       "obv_timed:symbol=7:btcusdt:source=event.trade:aggregation_ns=500000000:window_ns=1500000000:"
       "warmup=first_value"},
      {Vpt{btc, kTrades}, "vpt:symbol=7:btcusdt:source=event.trade"},
      {TradeCountTimed{btc, kTrades, ms(1000), ms(3000), kFull},
       "trade_count_timed:symbol=7:btcusdt:source=event.trade:aggregation_ns=1000000000:"
       "window_ns=3000000000:warmup=full_window"},
      {TradeVolumeTimed{btc, kTrades, ms(60000), ms(3600000), kFirst},
       "trade_volume_timed:symbol=7:btcusdt:source=event.trade:aggregation_ns=60000000000:"
       "window_ns=3600000000000:warmup=first_value"},
      {VwapTimed{btc, kTrades, ms(1000), ms(1000), kFull},
       "vwap_timed:symbol=7:btcusdt:source=event.trade:aggregation_ns=1000000000:window_ns=1000000000:"
       "warmup=full_window"},
      {DayOfWeek{g, FeatureSource::any_event()}, "day_of_week:symbol=10:__global__:source=any_event"},
      {TimeSinceFirstEventOfDay{g, FeatureSource::event(EventKind::Time), -3600000},
       "time_since_first_event_of_day:symbol=10:__global__:source=event.time:utc_offset_ms=-3600000"},
  };
  std::set<FeatureKeyTag> covered;
  for (const auto& c : cases) {
    covered.insert(c.key.tag());
    EXPECT_EQ(FeatureId::from_feature_key(c.key).text, c.expected);
    const FeatureDefinition definition = FeatureDefinition::with_default_id(c.key);
    EXPECT_EQ(definition.id.text, c.expected);
    EXPECT_EQ(definition.key, c.key);
  }
  EXPECT_EQ(covered.size(), static_cast<std::size_t>(kFeatureKeyTagCount));
}

TEST(FeatureId, EdgeCases) {
  const Symbol btc = sym("BTCUSDT");
  const Symbol euro = sym("\xE2\x82\xAC" "X");  // "€X", stored "€x": 4 bytes, 2 characters
  const std::vector<IdCase> cases{
      // Scale does not show; any zero is "0".
      {OrderBookLevelSize{btc, Side::Ask, dec("100.5")},
       "order_book_level_size:symbol=7:btcusdt:source=order_book:side=ask:price=100.5"},
      {OrderBookLevelSize{btc, Side::Ask, dec("0.000")},
       "order_book_level_size:symbol=7:btcusdt:source=order_book:side=ask:price=0"},
      {OrderBookLevelSize{btc, Side::Ask, dec("-0.0")},
       "order_book_level_size:symbol=7:btcusdt:source=order_book:side=ask:price=0"},
      // A name holding the separator stays unambiguous through its length.
      {Context{btc, "a:b"}, "context:symbol=7:btcusdt:source=context:name=3:a:b"},
      {Context{btc, "\xC3\xA9t\xC3\xA9"}, "context:symbol=7:btcusdt:source=context:name=5:\xC3\xA9t\xC3\xA9"},
      {Vpt{euro, kTrades}, "vpt:symbol=4:\xE2\x82\xAC" "x:source=event.trade"},
      // The return kind changes only the name.
      {Return{btc, kTradePrice, 1, ReturnKind::Log}, "log_return:symbol=7:btcusdt:source=field.trade_price:lag=1"},
      {Return{btc, kTradePrice, std::numeric_limits<std::uint64_t>::max(), ReturnKind::Simple},
       "simple_return:symbol=7:btcusdt:source=field.trade_price:lag=18446744073709551615"},
      // Durations in nanoseconds, exact beyond 64 bits; fractions of a
      // millisecond and out-of-range values render as they are.
      {SmaTimed{btc, kTradePrice, Duration{0, 1'500'000}, Duration{std::numeric_limits<std::uint64_t>::max(), 999'999'999},
                kFirst},
       "sma_timed:symbol=7:btcusdt:source=field.trade_price:aggregation_ns=1500000:"
       "window_ns=18446744073709551615999999999:warmup=first_value"},
      {TimeSinceFirstEventOfDay{btc, FeatureSource::any_event(), 0},
       "time_since_first_event_of_day:symbol=7:btcusdt:source=any_event:utc_offset_ms=0"},
      {TimeSinceFirstEventOfDay{btc, FeatureSource::field(ValueField::Price), 50400000},
       "time_since_first_event_of_day:symbol=7:btcusdt:source=field.price:utc_offset_ms=50400000"},
      {DayOfWeek{btc, FeatureSource::event(EventKind::OrderBookSnapshot)},
       "day_of_week:symbol=7:btcusdt:source=event.order_book_snapshot"},
      {Cvd{btc, FeatureSource::event(EventKind::OrderBookDelta), 0, kFirst},
       "cvd:symbol=7:btcusdt:source=event.order_book_delta:window=0:warmup=first_value"},
      {Field{btc, ValueField::Price}, "field:symbol=7:btcusdt:source=field.price"},
      {Vpt{btc, FeatureSource::event(EventKind::Price)}, "vpt:symbol=7:btcusdt:source=event.price"},
      {Vpt{btc, FeatureSource::event(EventKind::Volume)}, "vpt:symbol=7:btcusdt:source=event.volume"},
  };
  for (const auto& c : cases) EXPECT_EQ(FeatureId::from_feature_key(c.key).text, c.expected);
}

TEST(FeatureId, ReservedNamespace) {
  struct Case {
    std::string_view id;
    bool reserved;
  };
  const std::vector<Case> cases{
      {"__reserved", false}, {"__reserved_", true}, {"__reserved_x", true}, {"__reserved_12", true},
      {"__RESERVED_x", false}, {"_reserved_x", false}, {"x__reserved_", false}, {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(features::is_reserved_feature_id(c.id), c.reserved) << c.id;
}

}  // namespace
}  // namespace vorn
