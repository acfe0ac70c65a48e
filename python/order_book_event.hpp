// OrderBookEvent's value: one order-book snapshot or delta for one interned
// symbol, with its levels parsed once from text into storage of its own and
// never changed afterwards. `event()` hands the core an Event whose level
// lists view that storage, so one value serves any number of applications.
// Pure C++ (no Python); the Python class is in order_book.cpp.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/event.hpp"
#include "python/parsers.hpp"

namespace vorn::py {

class OrderBookEvent {
public:
  // The texts of one snapshot level and of one delta change, as Python gave
  // them.
  struct TextLevel {
    std::string price;
    std::string size;
  };
  struct TextChange {
    std::string side;
    std::string price;
    std::string size;
  };

  struct Snapshot {
    std::vector<Level> bids;
    std::vector<Level> asks;
    std::uint64_t update_id = 0;
  };
  struct Delta {
    std::vector<LevelUpdate> updates;
    std::uint64_t update_id = 0;
  };

  // Interns the symbol, then parses the bids and then the asks, each level
  // price before size; the first failure wins (a new name stays interned).
  static Parsed<OrderBookEvent> snapshot(std::string_view symbol, std::int64_t timestamp,
                                         std::uint64_t update_id, std::span<const TextLevel> bids,
                                         std::span<const TextLevel> asks);
  // Parses each change (side, price, size) in order, then interns the symbol:
  // a delta with a bad change interns nothing.
  static Parsed<OrderBookEvent> delta(std::string_view symbol, std::int64_t timestamp,
                                      std::uint64_t update_id, std::span<const TextChange> changes);

  // The core event, viewing this object's levels: valid while it lives.
  Event event() const;

  Symbol symbol() const { return symbol_; }
  std::int64_t timestamp() const { return timestamp_; }
  const std::variant<Snapshot, Delta>& payload() const { return payload_; }

private:
  OrderBookEvent(std::variant<Snapshot, Delta> payload, std::int64_t timestamp, Symbol symbol)
      : payload_(std::move(payload)), timestamp_(timestamp), symbol_(symbol) {}

  std::variant<Snapshot, Delta> payload_;
  std::int64_t timestamp_ = 0;
  Symbol symbol_;
};

}  // namespace vorn::py
