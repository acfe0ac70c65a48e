#include "engine/features/derivation/order_book_query.hpp"

#include "engine/panic.hpp"

namespace vorn {
namespace {

std::optional<double> value_of(const std::optional<Decimal>& value) {
  if (!value) return std::nullopt;
  return value->to_f64();
}
// An overflow gives no value.
std::optional<double> value_of(const DecimalAnswer& answer) {
  return answer ? value_of(*answer) : std::nullopt;
}
std::optional<double> value_of(const DecimalResult<Decimal>& answer) {
  return answer ? std::optional<double>(answer->to_f64()) : std::nullopt;
}

// The n-th level of a side, best first (n from 1).
std::optional<Level> nth_level(const OrderBook& book, Side side, std::uint64_t n) {
  if (n == 0) return std::nullopt;
  TopLevels top = book.top_n(side, n);
  std::optional<Level> level;
  for (std::uint64_t i = 0; i < n; ++i) {
    level = top.next();
    if (!level) return std::nullopt;
  }
  return level;
}

std::optional<Decimal> price_of(const std::optional<Level>& level) {
  return level ? std::optional<Decimal>(level->price) : std::nullopt;
}
std::optional<Decimal> size_of(const std::optional<Level>& level) {
  return level ? std::optional<Decimal>(level->size) : std::nullopt;
}

}  // namespace

OrderBookQueryKind query_kind_of(FeatureKeyTag tag) {
  if (!is_order_book_tag(tag)) unreachable("only order-book keys have a book query");
  return static_cast<OrderBookQueryKind>(static_cast<std::uint8_t>(tag) - 1);
}

std::optional<double> OrderBookQueryFeature::query(const OrderBook& book, std::uint64_t level_count) const {
  using K = OrderBookQueryKind;
  switch (kind) {
    case K::LevelSize: return value_of(book.level(side, first));
    case K::NthPrice: return value_of(price_of(nth_level(book, side, n_levels)));
    case K::NthSize: return value_of(size_of(nth_level(book, side, n_levels)));
    case K::DepthUntilPrice: return value_of(book.depth_until_price(side, first));
    case K::DepthUntilSizePriceFrom:
    case K::DepthUntilSizePriceTo:
    case K::DepthUntilSizeTotalSize: {
      const auto depth = book.depth_until_total_size(side, first);
      if (!depth || !*depth) return std::nullopt;
      const DepthUntilSize& found = **depth;
      if (kind == K::DepthUntilSizePriceFrom) return found.price_from.to_f64();
      if (kind == K::DepthUntilSizePriceTo) return found.price_to.to_f64();
      return found.total_size.to_f64();
    }
    case K::VolumeBetweenPrices: {
      const auto volume = book.volume_between_prices(side, first, second);
      if (!volume || !*volume) return std::nullopt;
      return (*volume)->to_f64();
    }
    case K::BestBidPrice: return value_of(price_of(book.best_bid()));
    case K::BestBidSize: return value_of(size_of(book.best_bid()));
    case K::BestAskPrice: return value_of(price_of(book.best_ask()));
    case K::BestAskSize: return value_of(size_of(book.best_ask()));
    case K::MidPrice: return value_of(book.mid_price());
    case K::Spread: return value_of(book.spread());
    case K::SpreadBps: return value_of(book.spread_bps());
    case K::WeightedMidPrice: return value_of(book.weighted_mid_price());
    case K::Microprice: return value_of(book.microprice());
    case K::Imbalance: return value_of(book.imbalance(level_count));
  }
  unreachable("order-book query kind out of range");
}

void OrderBookQueryFeature::evaluate(const OrderBook& book, std::size_t out_start, std::size_t n_outputs,
                                     OutputSink& sink) const {
  if (kind == OrderBookQueryKind::Imbalance) {
    write_outputs(sink, out_start, n_outputs, level_count_len,
                  [&](std::size_t k) { return query(book, level_counts[k]).value_or(kNoValue); });
    return;
  }
  const double value = query(book, 0).value_or(kNoValue);
  write_outputs(sink, out_start, n_outputs, n_outputs, [value](std::size_t) { return value; });
}

namespace order_book_query {

Result<OrderBookQueryFeature> build(Symbol symbol, OrderBookQueryKind kind, Side side, const Decimal& first,
                                    const Decimal& second, std::uint64_t n_levels,
                                    std::span<const std::uint64_t> level_counts) {
  OrderBookQueryFeature feature{kind, side, first, second, n_levels, {}, 0, symbol};
  for (const std::uint64_t count : level_counts) {
    if (feature.level_count_len == kMaxWindows) {
      return argument_failure(argument_error::WindowLimitReached{kMaxWindows});
    }
    feature.level_counts[feature.level_count_len++] = count;
  }
  return feature;
}

}  // namespace order_book_query
}  // namespace vorn
