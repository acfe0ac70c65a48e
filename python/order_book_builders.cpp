// The order-book builders of FeatureExtractorSpec: configure_order_book, the
// nine scalar book features, the imbalance depths and the eight exact book
// queries, whose decimals travel as text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "python/spec_builders.hpp"

namespace vorn::py {
namespace {

using namespace feature_key;

constexpr std::string_view kExactDoc = "Adds an exact book query; side is bid or ask and prices/sizes are strings.";

constinit Signature kConfigure{"configure_order_book", Receiver::Instance,
                               {param("symbol"), keyword("update_policy"), keyword("buffer_size")},
                               "Configures a fresh book; parameters are preserved in the saved artifact."};

constinit Signature kMidPrice{"order_book_mid_price", Receiver::Instance, {param("symbol")},
    "Adds the order_book_mid_price scalar output for a configured book."};
constinit Signature kSpread{"order_book_spread", Receiver::Instance, {param("symbol")},
    "Adds the order_book_spread scalar output for a configured book."};
constinit Signature kSpreadBps{"order_book_spread_bps", Receiver::Instance, {param("symbol")},
    "Adds the order_book_spread_bps scalar output for a configured book."};
constinit Signature kWeightedMidPrice{"order_book_weighted_mid_price", Receiver::Instance, {param("symbol")},
    "Adds the order_book_weighted_mid_price scalar output for a configured book."};
constinit Signature kMicroprice{"order_book_microprice", Receiver::Instance, {param("symbol")},
    "Adds the order_book_microprice scalar output for a configured book."};
constinit Signature kBestBidPrice{"order_book_best_bid_price", Receiver::Instance, {param("symbol")},
    "Adds the order_book_best_bid_price scalar output for a configured book."};
constinit Signature kBestBidSize{"order_book_best_bid_size", Receiver::Instance, {param("symbol")},
    "Adds the order_book_best_bid_size scalar output for a configured book."};
constinit Signature kBestAskPrice{"order_book_best_ask_price", Receiver::Instance, {param("symbol")},
    "Adds the order_book_best_ask_price scalar output for a configured book."};
constinit Signature kBestAskSize{"order_book_best_ask_size", Receiver::Instance, {param("symbol")},
    "Adds the order_book_best_ask_size scalar output for a configured book."};

constinit Signature kImbalance{"order_book_imbalance", Receiver::Instance, {param("symbol"), param("n_levels")},
                               "Adds grouped imbalance depths in the supplied order."};
constinit Signature kLevelSize{"order_book_level_size", Receiver::Instance,
                               {param("symbol"), param("side"), param("price")}, kExactDoc};
constinit Signature kDepthUntilPrice{"order_book_depth_until_price", Receiver::Instance,
                                     {param("symbol"), param("side"), param("price")}, kExactDoc};
constinit Signature kNthPrice{"order_book_nth_price", Receiver::Instance,
                              {param("symbol"), param("side"), param("n_levels")}, kExactDoc};
constinit Signature kNthSize{"order_book_nth_size", Receiver::Instance,
                             {param("symbol"), param("side"), param("n_levels")}, kExactDoc};
constinit Signature kDepthUntilSizePriceFrom{"order_book_depth_until_size_price_from", Receiver::Instance,
                                             {param("symbol"), param("side"), param("size")}, kExactDoc};
constinit Signature kDepthUntilSizePriceTo{"order_book_depth_until_size_price_to", Receiver::Instance,
                                           {param("symbol"), param("side"), param("size")}, kExactDoc};
constinit Signature kDepthUntilSizeTotalSize{"order_book_depth_until_size_total_size", Receiver::Instance,
                                             {param("symbol"), param("side"), param("size")}, kExactDoc};
constinit Signature kVolumeBetweenPrices{"order_book_volume_between_prices", Receiver::Instance,
                                         {param("symbol"), param("side"), param("from_price"), param("to_price")},
                                         kExactDoc};

Decimal decimal_of(std::string_view text) { return or_raise(order_book::decimal(text)); }
Side side_of(std::string_view text) { return or_raise(order_book::side(text)); }

PyObject* configure_order_book(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, update_policy, buffer_size] = kConfigure.bind<3>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::string_view policy_word = text(update_policy);
    const auto buffered = integer<std::size_t>(buffer_size);
    UpdatePolicy policy = UpdatePolicy::Monotonic;
    if (policy_word == "contiguous") {
      policy = UpdatePolicy::Contiguous;
    } else if (policy_word != "monotonic") {
      fail(PyExc_ValueError, "update_policy must be monotonic or contiguous");
    }
    const Symbol id = interned(name);
    or_raise(spec->configure_order_book(OrderBookConfig{id, policy, buffered, std::nullopt}));
    return Py_NewRef(self);
  });
}

// The nine features that take a symbol alone.
template <class Key, Signature& kSignature>
PyObject* book_top(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol] = kSignature.template bind<1>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const Symbol id = interned(text(symbol));
    return added(self, *spec, FeatureDefinition::with_default_id(Key{id}));
  });
}

PyObject* imbalance(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, n_levels] = kImbalance.bind<2>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::vector<std::uint64_t> depths = sequence(n_levels, integer<std::uint64_t>);
    if (depths.empty() || depths.size() > 16 || std::ranges::find(depths, 0u) != depths.end()) {
      fail(PyExc_ValueError, "imbalance requires one to sixteen positive depths");
    }
    const Symbol id = interned(name);
    return added(self, *spec, definitions_of(depths, [&](std::uint64_t depth) {
                   return OrderBookImbalance{id, depth};
                 }));
  });
}

// Level size and depth until price: a side and a price.
template <class Key, Signature& kSignature>
PyObject* book_price(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, side, price] = kSignature.template bind<3>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::string_view side_word = text(side);
    const Decimal at = decimal_of(text(price));
    const Symbol id = interned(name);
    return added(self, *spec, FeatureDefinition::with_default_id(Key{id, side_of(side_word), at}));
  });
}

// Nth price and nth size: a side and a level count.
template <class Key, Signature& kSignature>
PyObject* book_level(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, side, n_levels] = kSignature.template bind<3>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::string_view side_word = text(side);
    const auto level = integer<std::uint64_t>(n_levels);
    if (level == 0) fail(PyExc_ValueError, "n_levels must be positive");
    const Symbol id = interned(name);
    return added(self, *spec, FeatureDefinition::with_default_id(Key{id, side_of(side_word), level}));
  });
}

// The three depth-until-size kinds: a side and a target size above zero.
template <class Key, Signature& kSignature>
PyObject* book_size(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, side, size] = kSignature.template bind<3>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::string_view side_word = text(side);
    const Decimal target = decimal_of(text(size));
    if (target.is_zero()) fail(PyExc_ValueError, "target size must be positive");
    const Symbol id = interned(name);
    return added(self, *spec, FeatureDefinition::with_default_id(Key{id, side_of(side_word), target}));
  });
}

PyObject* volume_between_prices(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, side, from_price, to_price] = kVolumeBetweenPrices.bind<4>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::string_view side_word = text(side);
    const std::string_view from_text = text(from_price);
    const std::string_view to_text = text(to_price);
    const Decimal from = decimal_of(from_text);
    const Decimal to = decimal_of(to_text);
    if (!(from < to)) fail(PyExc_ValueError, "from_price must be less than to_price");
    const Symbol id = interned(name);
    return added(self, *spec,
                 FeatureDefinition::with_default_id(OrderBookVolumeBetweenPrices{id, side_of(side_word), from, to}));
  });
}

}  // namespace

std::span<const PyMethodDef> order_book_methods() {
  static const PyMethodDef methods[] = {
      method_def(kConfigure, configure_order_book),
      method_def(kMidPrice, book_top<OrderBookMidPrice, kMidPrice>),
      method_def(kSpread, book_top<OrderBookSpread, kSpread>),
      method_def(kSpreadBps, book_top<OrderBookSpreadBps, kSpreadBps>),
      method_def(kWeightedMidPrice, book_top<OrderBookWeightedMidPrice, kWeightedMidPrice>),
      method_def(kMicroprice, book_top<OrderBookMicroprice, kMicroprice>),
      method_def(kBestBidPrice, book_top<OrderBookBestBidPrice, kBestBidPrice>),
      method_def(kBestBidSize, book_top<OrderBookBestBidSize, kBestBidSize>),
      method_def(kBestAskPrice, book_top<OrderBookBestAskPrice, kBestAskPrice>),
      method_def(kBestAskSize, book_top<OrderBookBestAskSize, kBestAskSize>),
      method_def(kImbalance, imbalance),
      method_def(kLevelSize, book_price<OrderBookLevelSize, kLevelSize>),
      method_def(kNthPrice, book_level<OrderBookNthPrice, kNthPrice>),
      method_def(kNthSize, book_level<OrderBookNthSize, kNthSize>),
      method_def(kDepthUntilPrice, book_price<OrderBookDepthUntilPrice, kDepthUntilPrice>),
      method_def(kDepthUntilSizePriceFrom, book_size<OrderBookDepthUntilSizePriceFrom, kDepthUntilSizePriceFrom>),
      method_def(kDepthUntilSizePriceTo, book_size<OrderBookDepthUntilSizePriceTo, kDepthUntilSizePriceTo>),
      method_def(kDepthUntilSizeTotalSize, book_size<OrderBookDepthUntilSizeTotalSize, kDepthUntilSizeTotalSize>),
      method_def(kVolumeBetweenPrices, volume_between_prices),
  };
  return methods;
}

}  // namespace vorn::py
