#include "engine/event.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace vorn {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Decimal dec(std::string_view text) { return Decimal::parse(text).value(); }

TEST(EventView, UnpacksKindSymbolTimestampAndNumbers) {
  const Symbol btc = symbols::intern("btc").value();
  const LevelUpdate change{dec("1.5"), dec("2"), Side::Ask};
  struct Row {
    Event event;
    EventKind kind;
    Symbol symbol;
    std::int64_t timestamp;
    double price, volume;
    std::optional<AggressorSide> side;
  };
  const std::vector<Row> rows{
      {Event::Price{-3.5, 11, btc}, EventKind::Price, btc, 11, -3.5, 0.0, std::nullopt},
      {Event::Volume{kInf, -12, btc}, EventKind::Volume, btc, -12, 0.0, kInf, std::nullopt},
      {Event::Trade{101.25, 0.5, 13, btc, AggressorSide::Sell}, EventKind::Trade, btc, 13, 101.25, 0.5,
       AggressorSide::Sell},
      {Event::Trade{7.0, 8.0, 14, btc, std::nullopt}, EventKind::Trade, btc, 14, 7.0, 8.0, std::nullopt},
      {Event::OrderBookDelta{{&change, 1}, 9, 15, btc}, EventKind::OrderBookDelta, btc, 15, 0.0, 0.0, std::nullopt},
      {Event::OrderBookSnapshot{{}, {}, 9, 16, btc}, EventKind::OrderBookSnapshot, btc, 16, 0.0, 0.0, std::nullopt},
      {Event::Time{17}, EventKind::Time, Symbol::global(), 17, 0.0, 0.0, std::nullopt},
  };
  for (const Row& row : rows) {
    const EventView view = EventView::of(row.event);
    const std::string where{debug_name(row.kind)};
    EXPECT_EQ(view.kind, row.kind) << where;
    EXPECT_EQ(view.symbol, row.symbol) << where;
    EXPECT_EQ(view.timestamp, row.timestamp) << where;
    EXPECT_EQ(view.price, row.price) << where;
    EXPECT_EQ(view.volume, row.volume) << where;
    EXPECT_EQ(view.side, row.side) << where;
    EXPECT_EQ(view.is_trade(), row.kind == EventKind::Trade) << where;
    // The view agrees with the event's own accessors.
    EXPECT_EQ(view.symbol, row.event.symbol()) << where;
    EXPECT_EQ(view.timestamp, row.event.timestamp()) << where;
  }
}

TEST(Event, FinitenessCheckNamesTheFirstBadField) {
  const Symbol btc = symbols::intern("btc").value();
  // An empty text means the event passes.
  const std::vector<std::pair<Event, std::string>> rows{
      {Event::Price{kNaN, 1, btc}, "invalid argument: event price must be finite"},
      {Event::Price{-kInf, 1, btc}, "invalid argument: event price must be finite"},
      {Event::Price{-3.5, 1, btc}, ""},
      {Event::Volume{kInf, 1, btc}, "invalid argument: event volume must be finite"},
      {Event::Volume{0.0, 1, btc}, ""},
      {Event::Volume{-0.0, 1, btc}, ""},
      {Event::Trade{100.0, kInf, 1, btc, AggressorSide::Buy}, "invalid argument: event trade volume must be finite"},
      {Event::Trade{kNaN, kNaN, 1, btc, std::nullopt}, "invalid argument: event trade price must be finite"},
      {Event::Trade{-kInf, 2.0, 1, btc, AggressorSide::Sell}, "invalid argument: event trade price must be finite"},
      {Event::Trade{-1.0, -2.0, 1, btc, std::nullopt}, ""},
      {Event::Trade{std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(), 1, btc, {}}, ""},
      {Event::Time{5}, ""}, {Event::OrderBookDelta{{}, 7, 1, btc}, ""}, {Event::OrderBookSnapshot{{}, {}, 7, 1, btc}, ""},
  };
  for (const auto& [event, text] : rows) {
    const Status status = event.validate_finite_values();
    EXPECT_EQ(status ? "" : to_string(status.error()), text) << debug_name(event.kind());
  }
  // The reason is carried as the field, not only as text.
  const Status trade = Event(Event::Trade{1.0, kNaN, 1, btc, std::nullopt}).validate_finite_values();
  EXPECT_EQ(trade.error(),
            VornError(InvalidArgumentError(argument_error::NonFiniteEventValue{ValueField::TradeVolume})));
}

// Book events convert to views of the same levels (not copies); the others
// have no book update.
TEST(Event, ConversionToBookUpdateViewsTheSameLevels) {
  const Symbol eth = symbols::intern("eth").value();
  const std::vector<LevelUpdate> changes{{dec("10.50"), dec("0"), Side::Ask}, {dec("9"), dec("2"), Side::Bid}};
  const std::vector<Level> bids{{dec("9"), dec("1")}};
  const std::vector<Level> asks{{dec("11"), dec("3")}, {dec("12"), dec("4")}};
  const auto delta = Event(Event::OrderBookDelta{changes, 42, 1000, eth}).into_order_book_update();
  const auto* as_delta = delta ? std::get_if<OrderBookDelta>(&*delta) : nullptr;
  ASSERT_NE(as_delta, nullptr);
  EXPECT_EQ(as_delta->update_id, 42u);
  EXPECT_EQ(as_delta->updates.data(), changes.data());
  EXPECT_EQ(as_delta->updates.size(), 2u);
  const auto snapshot = Event(Event::OrderBookSnapshot{bids, asks, 7, 1000, eth}).into_order_book_update();
  const auto* as_snapshot = snapshot ? std::get_if<OrderBookSnapshot>(&*snapshot) : nullptr;
  ASSERT_NE(as_snapshot, nullptr);
  EXPECT_EQ(as_snapshot->update_id, 7u);
  EXPECT_EQ(as_snapshot->bids.data(), bids.data());
  EXPECT_EQ(as_snapshot->asks.data(), asks.data());
  EXPECT_EQ(as_snapshot->asks.size(), 2u);
  for (const Event& other : {Event(Event::Price{1.0, 1, eth}), Event(Event::Volume{1.0, 1, eth}),
                             Event(Event::Trade{1.0, 1.0, 1, eth, std::nullopt}), Event(Event::Time{1})}) {
    EXPECT_FALSE(other.into_order_book_update().has_value()) << debug_name(other.kind());
  }
}

}  // namespace
}  // namespace vorn
