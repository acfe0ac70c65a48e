#include "python/order_book.hpp"

#include <cstdint>
#include <string_view>
#include <vector>

#include "python/classes.hpp"

namespace vorn::py {
namespace {

constexpr const char* kDoc =
    "Immutable, validated snapshot or delta with exact decimal price/size values.\n"
    "Construction owns payload allocation; both Python runtimes reuse core dispatch.";

constinit Signature kSnapshot{
    "snapshot", Receiver::Static,
    {param("symbol"), param("timestamp"), param("update_id"), param("bids"), param("asks")},
    "Builds a snapshot from (price, size) pairs of exact decimal strings."};

constinit Signature kDelta{
    "delta", Receiver::Static,
    {param("symbol"), param("timestamp"), param("update_id"), param("changes")},
    "Builds a delta from (side, price, size) triples; zero sizes delete levels."};

// A sequence of (price, size) sequences of str.
std::vector<OrderBookEvent::TextLevel> text_levels(Arg arg) {
  return sequence(arg, [](Arg pair) {
    const Fixed<2> items = fixed_sequence<2>(pair);
    return OrderBookEvent::TextLevel{owned_text(items[0]), owned_text(items[1])};
  });
}

// A sequence of (side, price, size) sequences of str.
std::vector<OrderBookEvent::TextChange> text_changes(Arg arg) {
  return sequence(arg, [](Arg triple) {
    const Fixed<3> items = fixed_sequence<3>(triple);
    return OrderBookEvent::TextChange{owned_text(items[0]), owned_text(items[1]), owned_text(items[2])};
  });
}

PyObject* snapshot(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, timestamp, update_id, bids, asks] = kSnapshot.bind<5>(args, nargs, kwnames);
    const std::string_view name = text(symbol);
    const auto time = integer<std::int64_t>(timestamp);
    const auto id = integer<std::uint64_t>(update_id);
    const auto bid_texts = text_levels(bids);
    const auto ask_texts = text_levels(asks);
    return new_instance(order_book_event_type(),
                        or_raise(OrderBookEvent::snapshot(name, time, id, bid_texts, ask_texts)));
  });
}

PyObject* delta(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, timestamp, update_id, changes] = kDelta.bind<4>(args, nargs, kwnames);
    const std::string_view name = text(symbol);
    const auto time = integer<std::int64_t>(timestamp);
    const auto id = integer<std::uint64_t>(update_id);
    const auto change_texts = text_changes(changes);
    return new_instance(order_book_event_type(),
                        or_raise(OrderBookEvent::delta(name, time, id, change_texts)));
  });
}

}  // namespace

PyObject* order_book_event_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    static PyMethodDef methods[] = {method_def(kSnapshot, snapshot), method_def(kDelta, delta), {}};
    type = new_type<OrderBookEvent>("OrderBookEvent", kDoc, {{Py_tp_methods, methods}});
  }
  return type;
}

const OrderBookEvent& order_book_event_arg(Arg arg) {
  return value_of<OrderBookEvent>(instance_arg(arg, order_book_event_type()));
}

}  // namespace vorn::py
