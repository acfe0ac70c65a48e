#include "python/order_book_event.hpp"

namespace vorn::py {
namespace {

// The levels of one book side, at exactly their count.
Parsed<std::vector<Level>> parse_levels(std::span<const OrderBookEvent::TextLevel> texts) {
  std::vector<Level> levels;
  levels.reserve(texts.size());
  for (const OrderBookEvent::TextLevel& text : texts) {
    Parsed<Decimal> price = order_book::decimal(text.price);
    if (!price) return std::unexpected(std::move(price.error()));
    Parsed<Decimal> size = order_book::decimal(text.size);
    if (!size) return std::unexpected(std::move(size.error()));
    levels.push_back(Level{*price, *size});
  }
  return levels;
}

Parsed<Symbol> intern(std::string_view symbol) {
  Result<Symbol> interned = intern_symbol(symbol);
  if (!interned) return std::unexpected(to_string(interned.error()));
  return *interned;
}

}  // namespace

Parsed<OrderBookEvent> OrderBookEvent::snapshot(std::string_view symbol, std::int64_t timestamp,
                                                std::uint64_t update_id,
                                                std::span<const TextLevel> bids,
                                                std::span<const TextLevel> asks) {
  Parsed<Symbol> interned = intern(symbol);
  if (!interned) return std::unexpected(std::move(interned.error()));
  Parsed<std::vector<Level>> bid_levels = parse_levels(bids);
  if (!bid_levels) return std::unexpected(std::move(bid_levels.error()));
  Parsed<std::vector<Level>> ask_levels = parse_levels(asks);
  if (!ask_levels) return std::unexpected(std::move(ask_levels.error()));
  return OrderBookEvent(Snapshot{std::move(*bid_levels), std::move(*ask_levels), update_id}, timestamp,
                        *interned);
}

Parsed<OrderBookEvent> OrderBookEvent::delta(std::string_view symbol, std::int64_t timestamp,
                                             std::uint64_t update_id,
                                             std::span<const TextChange> changes) {
  std::vector<LevelUpdate> updates;
  updates.reserve(changes.size());
  for (const TextChange& change : changes) {
    Parsed<Side> side = order_book::side(change.side);
    if (!side) return std::unexpected(std::move(side.error()));
    Parsed<Decimal> price = order_book::decimal(change.price);
    if (!price) return std::unexpected(std::move(price.error()));
    Parsed<Decimal> size = order_book::decimal(change.size);
    if (!size) return std::unexpected(std::move(size.error()));
    updates.push_back(LevelUpdate{*price, *size, *side});
  }
  Parsed<Symbol> interned = intern(symbol);
  if (!interned) return std::unexpected(std::move(interned.error()));
  return OrderBookEvent(Delta{std::move(updates), update_id}, timestamp, *interned);
}

Event OrderBookEvent::event() const {
  if (const auto* snapshot = std::get_if<Snapshot>(&payload_)) {
    return Event(Event::OrderBookSnapshot{snapshot->bids, snapshot->asks, snapshot->update_id,
                                          timestamp_, symbol_});
  }
  const Delta& delta = std::get<Delta>(payload_);
  return Event(Event::OrderBookDelta{delta.updates, delta.update_id, timestamp_, symbol_});
}

}  // namespace vorn::py
