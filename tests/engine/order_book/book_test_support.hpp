// Test helpers for order books: decimals from text, updates that own their
// level lists, and one-call prepare-then-commit.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/decimal.hpp"
#include "engine/order_book/book.hpp"

namespace vorn::book_test {

inline Decimal dec(std::string_view text) { return Decimal::parse(text).value(); }

// An update with its own storage; view() borrows it.
struct OwnedUpdate {
  bool is_snapshot = false;
  std::uint64_t update_id = 0;
  std::vector<LevelUpdate> changes;
  std::vector<Level> bids;
  std::vector<Level> asks;

  OrderBookUpdate view() const {
    if (is_snapshot) return OrderBookSnapshot{bids, asks, update_id};
    return OrderBookDelta{changes, update_id};
  }
};

inline OwnedUpdate delta(std::uint64_t id, std::vector<LevelUpdate> changes) {
  return OwnedUpdate{false, id, std::move(changes), {}, {}};
}
inline OwnedUpdate snapshot(std::uint64_t id, std::vector<Level> bids, std::vector<Level> asks) {
  return OwnedUpdate{true, id, {}, std::move(bids), std::move(asks)};
}

inline std::expected<UpdateOutcome, OrderBookUpdateError> apply(OrderBook& book,
                                                                const OwnedUpdate& update,
                                                                std::int64_t timestamp) {
  const OrderBookUpdate view = update.view();
  return book.commit_update(book.prepare_update(view), view, timestamp);
}

// Every level of a side, best first.
inline std::vector<Level> all_levels(const OrderBook& book, Side side) {
  std::vector<Level> levels;
  TopLevels top = book.top_n(side, UINT64_MAX);
  while (auto level = top.next()) levels.push_back(*level);
  return levels;
}

// Answers as text: the normalised value, "none" for no value, the decimal
// library's text for an overflow.
inline std::string text(const DecimalAnswer& answer) {
  if (!answer) return std::string(fault_text(answer.error()));
  if (!*answer) return "none";
  return (*answer)->to_normalized_string();
}
inline std::string text(const DecimalResult<Decimal>& answer) {
  if (!answer) return std::string(fault_text(answer.error()));
  return answer->to_normalized_string();
}
inline std::string text(const std::optional<Decimal>& answer) {
  return answer ? answer->to_normalized_string() : "none";
}
inline std::string text(const DecimalResult<std::optional<DepthUntilSize>>& answer) {
  if (!answer) return std::string(fault_text(answer.error()));
  if (!*answer) return "none";
  return (*answer)->price_from.to_normalized_string() + " " + (*answer)->price_to.to_normalized_string() +
         " " + (*answer)->total_size.to_normalized_string();
}
inline std::string text(const DecimalResult<Result<Decimal>>& answer) {
  if (!answer) return std::string(fault_text(answer.error()));
  if (!*answer) {
    const auto* range = (*answer).error().get_if<vorn_error::InvalidPriceRange>();
    if (range == nullptr) return "other error";
    return "range " + range->from_price.to_string() + " " + range->to_price.to_string();
  }
  return (**answer).to_normalized_string();
}
inline std::string text(const std::optional<Level>& level) {
  return level ? level->price.to_normalized_string() + " " + level->size.to_normalized_string() : "none";
}

}  // namespace vorn::book_test
