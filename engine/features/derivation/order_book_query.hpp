// OrderBookQueryFeature: one order-book feature group of a symbol, evaluated
// against the symbol's book after each committed book change (never by event
// dispatch). A query without a value, or whose decimal arithmetic overflows,
// writes NaN.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/decimal.hpp"
#include "engine/errors.hpp"
#include "engine/event.hpp"
#include "engine/features/derivation/output_sink.hpp"
#include "engine/features/feature_key.hpp"
#include "engine/indicators/construction.hpp"
#include "engine/order_book/book.hpp"
#include "engine/symbols.hpp"
#include "engine/types.hpp"

namespace vorn {

// The book feature's key tag minus one.
enum class OrderBookQueryKind : std::uint8_t {
  LevelSize, NthPrice, NthSize, DepthUntilPrice, DepthUntilSizePriceFrom, DepthUntilSizePriceTo,
  DepthUntilSizeTotalSize, VolumeBetweenPrices, BestBidPrice, BestBidSize, BestAskPrice, BestAskSize,
  MidPrice, Spread, SpreadBps, WeightedMidPrice, Microprice, Imbalance,
};

// The query kind of a book key tag (1 to 18); other tags are a broken invariant.
OrderBookQueryKind query_kind_of(FeatureKeyTag tag);

struct OrderBookQueryFeature {
  OrderBookQueryKind kind = OrderBookQueryKind::BestBidPrice;
  Side side = Side::Bid;
  Decimal first;   // price (level size, depth until price, lower bound) or size
  Decimal second;  // upper price of volume between prices
  std::uint64_t n_levels = 0;  // nth price and nth size
  std::array<std::uint64_t, kMaxWindows> level_counts{};  // imbalance: one per output
  std::size_t level_count_len = 0;
  Symbol symbol;  // whose book is queried

  // Book features change only with the book.
  void update(const EventView&, std::size_t, std::size_t, OutputSink&) {}
  // Writes every output: imbalance output k over its own level count (NaN
  // beyond them), every other kind the one query.
  void evaluate(const OrderBook& book, std::size_t out_start, std::size_t n_outputs, OutputSink& sink) const;
  // The query's value as a float; none when the book has no answer or the
  // arithmetic overflows. `level_count` serves the imbalance only.
  std::optional<double> query(const OrderBook& book, std::uint64_t level_count) const;
};

namespace order_book_query {
// A 17th level count fails with WindowLimitReached.
Result<OrderBookQueryFeature> build(Symbol symbol, OrderBookQueryKind kind, Side side, const Decimal& first,
                                    const Decimal& second, std::uint64_t n_levels,
                                    std::span<const std::uint64_t> level_counts);
}  // namespace order_book_query

}  // namespace vorn
