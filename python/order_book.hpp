// The Python class OrderBookEvent: an immutable snapshot or delta built by
// its two static constructors, and the argument converter with which the
// runtime classes take one.
#pragma once

#include "python/arguments.hpp"
#include "python/order_book_event.hpp"

namespace vorn::py {

// The class, made on first use (borrowed; throws PythonError).
PyObject* order_book_event_type();

// An argument that must be an OrderBookEvent: its value, valid while the
// object lives (no borrow: the value never changes).
const OrderBookEvent& order_book_event_arg(Arg arg);

}  // namespace vorn::py
