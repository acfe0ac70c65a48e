// EventRouter: which derivations an event reaches. Built once from one route
// code per derivation; per symbol it keeps a list of derivation indices for
// each event kind and one for the order-book features, plus one global list,
// all as ranges into a single flat subscriber list, so that dispatch is two
// table lookups and a slice.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "engine/errors.hpp"
#include "engine/symbols.hpp"
#include "engine/types.hpp"

namespace vorn {

// The route code of a derivation: 0 to 5 the events of that EventKind of the
// derivation's symbol, then the three codes below.
enum class EventRoute : std::uint8_t {
  Price = 0,
  Volume = 1,
  Trade = 2,
  OrderBookDelta = 3,
  OrderBookSnapshot = 4,
  Time = 5,
  AnyEventOfSymbol = 6,  // every event of the derivation's symbol
  OrderBook = 7,         // the symbol's book features, evaluated after a book change
  AnyEvent = 8,          // every event of every symbol (global derivations)
};

constexpr EventRoute route_of(EventKind kind) { return static_cast<EventRoute>(kind); }

// A window into the router's subscriber list.
struct SubscriberRange {
  std::uint16_t start = 0;
  std::uint16_t len = 0;

  // Subscribers start .. start + len; a range ending past the list is a
  // broken invariant.
  std::span<const std::uint16_t> as_slice(std::span<const std::uint16_t> subscribers) const;
  friend bool operator==(const SubscriberRange&, const SubscriberRange&) = default;
};

// Position of the order-book list in a record, after the six kinds.
inline constexpr std::size_t kOrderBookPosition = 6;

// The lists of one symbol: positions 0 to 5 the event kinds, 6 the book features.
struct RouteRecord {
  std::array<SubscriberRange, 7> ranges{};
};

struct SymbolSlot {
  std::uint8_t present = 0;
  std::uint16_t index = 0;
};

class EventRouter {
public:
  // One (symbol, route) per derivation, in derivation order. Fails with
  // LimitExceeded for more than 65535 derivations, symbol records or
  // subscribers per list, or a list starting past 65535.
  static Result<EventRouter> from_routes(std::span<const std::pair<Symbol, EventRoute>> routes);

  // The record of a symbol; none when it has no non-global route.
  const RouteRecord* record(Symbol symbol) const;
  SubscriberRange global() const { return global_; }
  std::span<const std::uint16_t> subscribers() const { return subscribers_; }

  // The derivations an event of this symbol and kind reaches (those routed
  // to the kind and those routed to any event of the symbol, in increasing
  // order); empty for an unknown symbol. Global derivations are separate.
  std::span<const std::uint16_t> for_event(Symbol symbol, EventKind kind) const {
    return at(symbol, static_cast<std::size_t>(kind));
  }
  // The same list as a window into subscribers().
  SubscriberRange event_range(Symbol symbol, EventKind kind) const {
    return range_at(symbol, static_cast<std::size_t>(kind));
  }
  // The symbol's order-book feature derivations.
  std::span<const std::uint16_t> order_book_features(Symbol symbol) const {
    return at(symbol, kOrderBookPosition);
  }
  std::span<const std::uint16_t> global_subscribers() const { return global_.as_slice(subscribers_); }

  std::span<const SymbolSlot> symbol_table() const { return symbol_table_; }
  std::span<const RouteRecord> records() const { return records_; }

private:
  SubscriberRange range_at(Symbol symbol, std::size_t position) const {
    const RouteRecord* found = record(symbol);
    return found == nullptr ? SubscriberRange{} : found->ranges[position];
  }
  std::span<const std::uint16_t> at(Symbol symbol, std::size_t position) const {
    return range_at(symbol, position).as_slice(subscribers_);
  }

  std::vector<SymbolSlot> symbol_table_;
  std::vector<RouteRecord> records_;
  std::vector<std::uint16_t> subscribers_;
  SubscriberRange global_;
};

}  // namespace vorn
