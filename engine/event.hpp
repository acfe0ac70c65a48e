// Event: one market event (price, volume, trade, order-book delta, order-book
// snapshot or time) with its timestamp and symbol, its finiteness check and
// its conversion into an order-book update; EventView, the parts of an event
// that the feature path reads, taken out of the variant once per event.
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

// Kind, symbol (the global symbol for a time event) and timestamp of an
// event, with the numbers of a price, volume or trade event, read by every
// derivation an event reaches without a look into the variant each time.
struct EventView {
  EventKind kind = EventKind::Time;
  Symbol symbol;
  std::int64_t timestamp = 0;
  double price = 0.0;   // a price event's price or a trade's price
  double volume = 0.0;  // a volume event's volume or a trade's quantity
  std::optional<AggressorSide> side;  // a trade's aggressor side

  static EventView of(const Event& event) {
    EventView view;
    view.kind = event.kind();
    switch (view.kind) {
      case EventKind::Price: {
        const auto& price = *std::get_if<Event::Price>(&event.value);
        view.symbol = price.symbol;
        view.timestamp = price.timestamp;
        view.price = price.price;
        break;
      }
      case EventKind::Volume: {
        const auto& volume = *std::get_if<Event::Volume>(&event.value);
        view.symbol = volume.symbol;
        view.timestamp = volume.timestamp;
        view.volume = volume.volume;
        break;
      }
      case EventKind::Trade: {
        const auto& trade = *std::get_if<Event::Trade>(&event.value);
        view.symbol = trade.symbol;
        view.timestamp = trade.timestamp;
        view.price = trade.price;
        view.volume = trade.volume;
        view.side = trade.side;
        break;
      }
      case EventKind::OrderBookDelta: {
        const auto& delta = *std::get_if<Event::OrderBookDelta>(&event.value);
        view.symbol = delta.symbol;
        view.timestamp = delta.timestamp;
        break;
      }
      case EventKind::OrderBookSnapshot: {
        const auto& snapshot = *std::get_if<Event::OrderBookSnapshot>(&event.value);
        view.symbol = snapshot.symbol;
        view.timestamp = snapshot.timestamp;
        break;
      }
      case EventKind::Time:
        view.symbol = Symbol::global();
        view.timestamp = std::get_if<Event::Time>(&event.value)->timestamp;
        break;
    }
    return view;
  }

  bool is_trade() const { return kind == EventKind::Trade; }
};

static_assert(std::variant_size_v<Event::Variant> == kEventKindCount);
static_assert(std::is_same_v<std::variant_alternative_t<static_cast<int>(EventKind::OrderBookDelta), Event::Variant>,
                             Event::OrderBookDelta>);
static_assert(std::is_same_v<std::variant_alternative_t<static_cast<int>(EventKind::Time), Event::Variant>,
                             Event::Time>);

}  // namespace vorn
