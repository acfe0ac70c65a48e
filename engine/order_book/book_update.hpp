// The payloads of order-book updates: snapshot levels, delta changes, and the
// OrderBookUpdate (a delta or a snapshot with its update id) that a book
// prepares and commits.
//
// Level lists are borrowed views: an update refers to levels that its caller
// owns for the duration of the call (the Python layer keeps parsed levels in
// its OrderBookEvent objects), so building and passing an update allocates
// nothing. Whatever must keep a delta beyond the call, such as a book's
// replay buffer, copies the levels into storage of its own.
#pragma once

#include <cstdint>
#include <span>
#include <variant>

#include "engine/decimal.hpp"
#include "engine/types.hpp"

namespace vorn {

// One snapshot level.
struct Level {
  Decimal price;
  Decimal size;
  friend bool operator==(const Level&, const Level&) = default;
};

// One delta change; a size of zero deletes the level.
struct LevelUpdate {
  Decimal price;
  Decimal size;
  Side side = Side::Bid;
  friend bool operator==(const LevelUpdate&, const LevelUpdate&) = default;
};

struct OrderBookDelta {
  std::span<const LevelUpdate> updates;
  std::uint64_t update_id = 0;
};

struct OrderBookSnapshot {
  std::span<const Level> bids;
  std::span<const Level> asks;
  std::uint64_t update_id = 0;
};

using OrderBookUpdate = std::variant<OrderBookDelta, OrderBookSnapshot>;

}  // namespace vorn
