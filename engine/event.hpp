// Event: one market event (price, volume, trade, order-book delta, order-book
// snapshot or time) with its timestamp and symbol, its finiteness check and
// its conversion into an order-book update.
//
// Events are built per call and never allocate: the level lists of the two
// book variants are borrowed views over storage the caller owns for the
// duration of the call (see order_book/book_update.hpp).
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>

#include "engine/errors.hpp"
#include "engine/order_book/book_update.hpp"
#include "engine/symbols.hpp"
#include "engine/types.hpp"

namespace vorn {

struct Event {
  // Timestamps are milliseconds since the Unix epoch.
  struct Price {
    double price = 0.0;
    std::int64_t timestamp = 0;
    Symbol symbol;
  };
  struct Volume {
    double volume = 0.0;
    std::int64_t timestamp = 0;
    Symbol symbol;
  };
  struct Trade {
    double price = 0.0;
    double volume = 0.0;  // the traded quantity
    std::int64_t timestamp = 0;
    Symbol symbol;
    std::optional<AggressorSide> side;  // absent: unknown aggressor
  };
  struct OrderBookDelta {
    std::span<const LevelUpdate> updates;
    std::uint64_t update_id = 0;
    std::int64_t timestamp = 0;
    Symbol symbol;
  };
  struct OrderBookSnapshot {
    std::span<const Level> bids;
    std::span<const Level> asks;
    std::uint64_t update_id = 0;
    std::int64_t timestamp = 0;
    Symbol symbol;
  };
  // Belongs to the global symbol.
  struct Time {
    std::int64_t timestamp = 0;
  };

  // Alternatives in EventKind order.
  using Variant = std::variant<Price, Volume, Trade, OrderBookDelta, OrderBookSnapshot, Time>;
  Variant value;

  template <class T>
    requires(std::is_constructible_v<Variant, T &&> && !std::is_same_v<std::remove_cvref_t<T>, Event>)
  Event(T&& alternative) : value(std::forward<T>(alternative)) {}

  EventKind kind() const { return static_cast<EventKind>(value.index()); }
  std::int64_t timestamp() const {
    return std::visit([](const auto& event) { return event.timestamp; }, value);
  }
  // The event's symbol; the global symbol for a time event.
  Symbol symbol() const {
    return std::visit(
        []<class T>(const T& event) {
          if constexpr (std::is_same_v<T, Time>) {
            return Symbol::global();
          } else {
            return event.symbol;
          }
        },
        value);
  }

  // Fails with NonFiniteEventValue when a price, volume or trade number is
  // infinite or NaN (a trade's price is checked before its quantity). Book
  // and time events always pass.
  Status validate_finite_values() const {
    if (has_finite_values()) [[likely]] return {};
    return non_finite_value();
  }
  // True when validate_finite_values passes.
  bool has_finite_values() const {
    if (const auto* price = std::get_if<Price>(&value)) return std::isfinite(price->price);
    if (const auto* volume = std::get_if<Volume>(&value)) return std::isfinite(volume->volume);
    if (const auto* trade = std::get_if<Trade>(&value)) {
      return std::isfinite(trade->price) && std::isfinite(trade->volume);
    }
    return true;
  }

  // The book update of a delta or snapshot event, viewing the same level
  // lists; none for the other kinds. Timestamp and symbol stay with the event.
  std::optional<OrderBookUpdate> into_order_book_update() const;

private:
  // The error of an event whose values are not all finite.
  Status non_finite_value() const;
};

static_assert(std::variant_size_v<Event::Variant> == kEventKindCount);
static_assert(std::is_same_v<std::variant_alternative_t<static_cast<int>(EventKind::OrderBookDelta), Event::Variant>,
                             Event::OrderBookDelta>);
static_assert(std::is_same_v<std::variant_alternative_t<static_cast<int>(EventKind::Time), Event::Variant>,
                             Event::Time>);

}  // namespace vorn
