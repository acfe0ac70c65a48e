// The read-only queries of OrderBook. Every step is the decimal library's
// checked operator; an overflow is returned, never raised.
#include "engine/order_book/book.hpp"

namespace vorn {

namespace {

DecimalAnswer some(const DecimalResult<Decimal>& value) {
  if (!value) return std::unexpected(value.error());
  return *value;
}

// The sizes of the first n levels of a side, summed best first from zero.
DecimalResult<Decimal> top_size(const BookSide& side, std::uint64_t n) {
  Decimal total;
  LevelCursor cursor(side);
  for (std::uint64_t taken = 0; taken < n && cursor.advance(); ++taken) {
    const auto sum = total.checked_add(cursor.size());
    if (!sum) return sum;
    total = *sum;
  }
  return total;
}

// (bid price × bid weight + ask price × ask weight) / (bid size + ask size).
DecimalResult<Decimal> weighted_price(const Level& bid, const Decimal& bid_weight, const Level& ask,
                                      const Decimal& ask_weight) {
  const auto a = bid.price.checked_mul(bid_weight);
  if (!a) return a;
  const auto b = ask.price.checked_mul(ask_weight);
  if (!b) return b;
  const auto numerator = a->checked_add(*b);
  if (!numerator) return numerator;
  const auto denominator = bid.size.checked_add(ask.size);
  if (!denominator) return denominator;
  return numerator->checked_div(*denominator);
}

// An answer from the best bid and the best ask; no value unless both exist.
template <class Compute>
DecimalAnswer from_best_levels(const OrderBook& book, Compute compute) {
  const auto bid = book.best_bid();
  const auto ask = book.best_ask();
  if (!bid || !ask) return std::nullopt;
  return some(compute(*bid, *ask));
}

}  // namespace

DecimalAnswer OrderBook::mid_price() const {
  return from_best_levels(*this, [](const Level& bid, const Level& ask) {
    const auto sum = bid.price.checked_add(ask.price);
    if (!sum) return sum;
    return sum->checked_div(Decimal::from_int(2));
  });
}

DecimalAnswer OrderBook::spread() const {
  return from_best_levels(*this, [](const Level& bid, const Level& ask) {
    const auto difference = ask.price.checked_sub(bid.price);
    if (!difference) return difference;
    return DecimalResult<Decimal>(difference->abs());
  });
}

DecimalAnswer OrderBook::spread_bps() const {
  const auto width = spread();
  if (!width || !*width) return width;
  const auto mid = mid_price();
  if (!mid || !*mid) return mid;
  if ((*mid)->is_zero()) return std::nullopt;
  // Divided first, so an inexact quotient is rounded before it is scaled.
  const auto ratio = (*width)->checked_div(**mid);
  if (!ratio) return std::unexpected(ratio.error());
  return some(ratio->checked_mul(Decimal::from_int(10000)));
}

DecimalAnswer OrderBook::weighted_mid_price() const {
  return from_best_levels(*this, [](const Level& bid, const Level& ask) {
    return weighted_price(bid, bid.size, ask, ask.size);
  });
}

DecimalAnswer OrderBook::microprice() const {
  return from_best_levels(*this, [](const Level& bid, const Level& ask) {
    return weighted_price(bid, ask.size, ask, bid.size);
  });
}

DecimalAnswer OrderBook::imbalance(std::uint64_t n_levels) const {
  const auto bid_size = top_size(bids_, n_levels);
  if (!bid_size) return std::unexpected(bid_size.error());
  const auto ask_size = top_size(asks_, n_levels);
  if (!ask_size) return std::unexpected(ask_size.error());
  const auto total = bid_size->checked_add(*ask_size);
  if (!total) return std::unexpected(total.error());
  if (total->is_zero()) return std::nullopt;
  const auto difference = bid_size->checked_sub(*ask_size);
  if (!difference) return std::unexpected(difference.error());
  return some(difference->checked_div(*total));
}

std::optional<Decimal> OrderBook::level(Side side, const Decimal& price) const {
  return book_side(side).size_at(price);
}

DecimalResult<Decimal> OrderBook::depth_until_price(Side side, const Decimal& limit) const {
  const BookSide& walked = book_side(side);
  const bool bids = walked.side() == Side::Bid;
  Decimal total;
  for (LevelCursor cursor(walked); cursor.advance();) {
    const Decimal price = cursor.price();
    if (bids ? price < limit : price > limit) break;
    const auto sum = total.checked_add(cursor.size());
    if (!sum) return sum;
    total = *sum;
  }
  return total;
}

DecimalResult<std::optional<DepthUntilSize>> OrderBook::depth_until_total_size(
    Side side, const Decimal& target) const {
  if (!target.is_positive()) return std::nullopt;
  LevelCursor cursor(book_side(side));
  if (!cursor.advance()) return std::nullopt;
  const Decimal best_price = cursor.price();
  DepthUntilSize depth{best_price, best_price, cursor.size()};
  while (depth.total_size < target) {
    if (!cursor.advance()) return std::nullopt;
    depth.price_to = cursor.price();
    const auto sum = depth.total_size.checked_add(cursor.size());
    if (!sum) return std::unexpected(sum.error());
    depth.total_size = *sum;
  }
  return depth;
}

DecimalResult<Result<Decimal>> OrderBook::volume_between_prices(Side side,
                                                                const Decimal& from_price,
                                                                const Decimal& to_price) const {
  if (!(from_price < to_price)) {
    return Result<Decimal>(std::unexpected(VornError(vorn_error::InvalidPriceRange{from_price, to_price})));
  }
  const BookSide& walked = book_side(side);
  Decimal total;
  const auto add = [&](const Decimal& size) {
    const auto sum = total.checked_add(size);
    if (sum) total = *sum;
    return sum.has_value() ? std::optional<DecimalFault>() : sum.error();
  };
  if (const auto* sparse = walked.sparse()) {
    // Only the levels inside the range, best first.
    const auto inside = sparse->levels_between(from_price, to_price);
    for (auto at = inside.end; at != inside.begin;) {
      if (auto fault = add(sparse->step_back(at).size)) return std::unexpected(*fault);
    }
  } else {
    for (LevelCursor cursor(walked); cursor.advance();) {
      const Decimal price = cursor.price();
      if (price < from_price || !(price < to_price)) continue;
      if (auto fault = add(cursor.size())) return std::unexpected(*fault);
    }
  }
  return Result<Decimal>(total);
}

}  // namespace vorn
