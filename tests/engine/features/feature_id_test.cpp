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

// "name:symbol=7:btcusdt:source=..." for symbol "BTCUSDT" (stored lower-cased, 7 bytes).
std::string btc_id(std::string_view name, std::string_view rest) {
  return std::string(name) + ":symbol=7:btcusdt:source=" + std::string(rest);
}

// One key of every kind, with ids written out by hand from the rendering rules.
TEST(FeatureId, CanonicalIdOfEveryKind) {
  const Symbol btc = sym("BTCUSDT");
  const Symbol g = Symbol::global();
  const std::vector<IdCase> cases{
      {Context{g, "regime"}, "context:symbol=10:__global__:source=context:name=6:regime"},
      {OrderBookLevelSize{btc, Side::Bid, dec("100.50")},
       btc_id("order_book_level_size", "order_book:side=bid:price=100.5")},
      {OrderBookNthPrice{btc, Side::Ask, 3}, btc_id("order_book_nth_price", "order_book:side=ask:n_levels=3")},
      {OrderBookNthSize{btc, Side::Bid, 1}, btc_id("order_book_nth_size", "order_book:side=bid:n_levels=1")},
      {OrderBookDepthUntilPrice{btc, Side::Ask, dec("0.0001")},
       btc_id("order_book_depth_until_price", "order_book:side=ask:price=0.0001")},
      {OrderBookDepthUntilSizePriceFrom{btc, Side::Bid, dec("2.500")},
       btc_id("order_book_depth_until_size_price_from", "order_book:side=bid:size=2.5")},
      {OrderBookDepthUntilSizePriceTo{btc, Side::Ask, dec("3.0")},
       btc_id("order_book_depth_until_size_price_to", "order_book:side=ask:size=3")},
      {OrderBookDepthUntilSizeTotalSize{btc, Side::Bid, dec("10")},
       btc_id("order_book_depth_until_size_total_size", "order_book:side=bid:size=10")},
      {OrderBookVolumeBetweenPrices{btc, Side::Bid, dec("99.50"), dec("100.0")},
       btc_id("order_book_volume_between_prices", "order_book:side=bid:from_price=99.5:to_price=100")},
      {OrderBookBestBidPrice{btc}, btc_id("order_book_best_bid_price", "order_book")},
      {OrderBookBestBidSize{btc}, btc_id("order_book_best_bid_size", "order_book")},
      {OrderBookBestAskPrice{btc}, btc_id("order_book_best_ask_price", "order_book")},
      {OrderBookBestAskSize{btc}, btc_id("order_book_best_ask_size", "order_book")},
      {OrderBookMidPrice{btc}, btc_id("order_book_mid_price", "order_book")},
      {OrderBookSpread{btc}, btc_id("order_book_spread", "order_book")},
      {OrderBookSpreadBps{btc}, btc_id("order_book_spread_bps", "order_book")},
      {OrderBookWeightedMidPrice{btc}, btc_id("order_book_weighted_mid_price", "order_book")},
      {OrderBookMicroprice{btc}, btc_id("order_book_microprice", "order_book")},
      {OrderBookImbalance{btc, 5}, btc_id("order_book_imbalance", "order_book:n_levels=5")},
      {Field{btc, ValueField::TradeVolume}, btc_id("field", "field.trade_volume")},
      {Cvd{btc, kTrades, 100, kFull}, btc_id("cvd", "event.trade:window=100:warmup=full_window")},
      {Return{btc, FeatureSource::field(ValueField::Price), 1, ReturnKind::Simple},
       btc_id("simple_return", "field.price:lag=1")},
      {Volatility{btc, FeatureSource::field(ValueField::Volume), 20, kFirst},
       btc_id("volatility", "field.volume:window=20:warmup=first_value")},
      {SmaTimed{btc, kTradePrice, ms(1000), ms(60000), kFirst},
       btc_id("sma_timed", "field.trade_price:aggregation_ns=1000000000:window_ns=60000000000:warmup=first_value")},
      {VolatilityTimed{btc, kTradePrice, ms(1), ms(90000), kFull},
       btc_id("volatility_timed", "field.trade_price:aggregation_ns=1000000:window_ns=90000000000:warmup=full_window")},
      {ObvTimed{btc, kTrades, ms(500), ms(1500), kFirst},
       btc_id("obv_timed", "event.trade:aggregation_ns=500000000:window_ns=1500000000:warmup=first_value")},
      {Vpt{btc, kTrades}, btc_id("vpt", "event.trade")},
      {TradeCountTimed{btc, kTrades, ms(1000), ms(3000), kFull},
       btc_id("trade_count_timed", "event.trade:aggregation_ns=1000000000:window_ns=3000000000:warmup=full_window")},
      {TradeVolumeTimed{btc, kTrades, ms(60000), ms(3600000), kFirst},
       btc_id("trade_volume_timed",
              "event.trade:aggregation_ns=60000000000:window_ns=3600000000000:warmup=first_value")},
      {VwapTimed{btc, kTrades, ms(1000), ms(1000), kFull},
       btc_id("vwap_timed", "event.trade:aggregation_ns=1000000000:window_ns=1000000000:warmup=full_window")},
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
  const std::string zero_price = btc_id("order_book_level_size", "order_book:side=ask:price=0");
  const std::vector<IdCase> cases{
      // Scale does not show; any zero is "0".
      {OrderBookLevelSize{btc, Side::Ask, dec("0.000")}, zero_price},
      {OrderBookLevelSize{btc, Side::Ask, dec("-0.0")}, zero_price},
      // A name holding the separator stays unambiguous through its length in bytes.
      {Context{btc, "a:b"}, btc_id("context", "context:name=3:a:b")},
      {Context{btc, "\xC3\xA9t\xC3\xA9"}, btc_id("context", "context:name=5:\xC3\xA9t\xC3\xA9")},
      {Vpt{euro, kTrades}, "vpt:symbol=4:\xE2\x82\xAC" "x:source=event.trade"},
      // The return kind changes only the name.
      {Return{btc, kTradePrice, 1, ReturnKind::Log}, btc_id("log_return", "field.trade_price:lag=1")},
      {Return{btc, kTradePrice, std::numeric_limits<std::uint64_t>::max(), ReturnKind::Simple},
       btc_id("simple_return", "field.trade_price:lag=18446744073709551615")},
      // Durations in nanoseconds, exact beyond 64 bits; fractions of a
      // millisecond and out-of-range values render as they are.
      {SmaTimed{btc, kTradePrice, Duration{0, 1'500'000},
                Duration{std::numeric_limits<std::uint64_t>::max(), 999'999'999}, kFirst},
       btc_id("sma_timed",
              "field.trade_price:aggregation_ns=1500000:window_ns=18446744073709551615999999999:warmup=first_value")},
      {TimeSinceFirstEventOfDay{btc, FeatureSource::field(ValueField::Price), 50400000},
       btc_id("time_since_first_event_of_day", "field.price:utc_offset_ms=50400000")},
      {DayOfWeek{btc, FeatureSource::event(EventKind::OrderBookSnapshot)},
       btc_id("day_of_week", "event.order_book_snapshot")},
      {Cvd{btc, FeatureSource::event(EventKind::OrderBookDelta), 0, kFirst},
       btc_id("cvd", "event.order_book_delta:window=0:warmup=first_value")},
      {Vpt{btc, FeatureSource::event(EventKind::Price)}, btc_id("vpt", "event.price")},
      {Vpt{btc, FeatureSource::event(EventKind::Volume)}, btc_id("vpt", "event.volume")},
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
