// The Python methods that FeatureExtractor and ModelInputPipeline share, as
// templates over a class description C: `C::Core` (the driver's core type)
// and a Signature for each method whose docstring is the class's own
// (C::kSymbol, C::kFeatureNames, C::kNFeatures, C::kActiveFeatureCount,
// C::kValues, C::kUpdate, C::kTransform; the last two made by
// update_signature and transform_signature). Both classes use the same
// kUpdateContext, kUpdateOrderBook and kTransformOrderBook. Each class lists
// the methods in its own method table: method_def(C::kUpdate, update<C>).
//
// Methods that change the object borrow it exclusively before converting
// their arguments; reads borrow it shared.
#pragma once

#include <cstdint>
#include <vector>

#include "python/arguments.hpp"
#include "python/classes.hpp"
#include "python/numpy_arrays.hpp"
#include "python/order_book.hpp"
#include "python/runtime.hpp"

namespace vorn::py::runtime_methods {

inline constinit Signature kUpdateContext{
    "update_context", Receiver::Instance, {param("updates")},
    "Replace context values atomically without advancing market-event state."};
inline constinit Signature kUpdateOrderBook{
    "update_order_book", Receiver::Instance, {param("event")},
    "Applies a validated snapshot/delta, preserving core synchronization semantics."};
inline constinit Signature kTransformOrderBook{
    "transform_order_book", Receiver::Instance, {param("events"), keyword("context_updates", "None")},
    "Prevalidates symbols/timestamps, then replays book events sequentially.\n"
    "A state-dependent error reports row N; prior rows remain applied and later\n"
    "rows are skipped. The rejected row retains core resynchronization effects."};

constexpr Signature update_signature(std::string_view doc) {
  return Signature{"update", Receiver::Instance,
                   {param("kind"), param("symbol"), param("timestamp"), keyword("price", "None"),
                    keyword("volume", "None"), keyword("side", "None"), keyword("bid", "None"), keyword("ask", "None")},
                   doc};
}

constexpr Signature transform_signature(std::string_view doc) {
  return Signature{"transform", Receiver::Instance,
                   {param("kind"), param("symbol"), param("timestamp"), keyword("price", "None"),
                    keyword("volume", "None"), keyword("side", "None"), keyword("bid", "None"), keyword("ask", "None"),
                    keyword("context_updates", "None")},
                   doc};
}

template <class C>
using Driver = RuntimeDriver<typename C::Core>;

template <class C>
PyObject* update_context(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [updates] = kUpdateContext.bind<1>(args, nargs, kwnames);
    Exclusive<Driver<C>> driver = borrow_mut<Driver<C>>(self);
    driver->update_context(dict(updates));
    return Py_NewRef(Py_None);
  });
}

template <class C>
PyObject* update_order_book(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [event] = kUpdateOrderBook.bind<1>(args, nargs, kwnames);
    Exclusive<Driver<C>> driver = borrow_mut<Driver<C>>(self);
    driver->update_order_book(order_book_event_arg(event));
    return Py_NewRef(Py_None);
  });
}

template <class C>
PyObject* transform_order_book(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [events, context_updates] = kTransformOrderBook.bind<2>(args, nargs, kwnames);
    Exclusive<Driver<C>> driver = borrow_mut<Driver<C>>(self);
    // Held until the call ends: the core events view the objects' levels.
    const std::vector<Ref> held = sequence(events, [](Arg item) {
      order_book_event_arg(item);
      return Ref::borrow(item.value);
    });
    return driver->transform_order_book(held, optional_dict(context_updates));
  });
}

template <class C>
PyObject* symbol(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [name] = C::kSymbol.template bind<1>(args, nargs, kwnames);
    Exclusive<Driver<C>> driver = borrow_mut<Driver<C>>(self);
    return PyLong_FromSize_t(driver->symbol(text(name)));
  });
}

template <class C>
PyObject* feature_names(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    C::kFeatureNames.template bind<0>(args, nargs, kwnames);
    return borrow<Driver<C>>(self)->names();
  });
}

template <class C>
PyObject* n_features(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    C::kNFeatures.template bind<0>(args, nargs, kwnames);
    return PyLong_FromSize_t(borrow<Driver<C>>(self)->width());
  });
}

template <class C>
PyObject* active_feature_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    C::kActiveFeatureCount.template bind<0>(args, nargs, kwnames);
    return PyLong_FromSize_t(borrow<Driver<C>>(self)->active_count());
  });
}

template <class C>
PyObject* values(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    C::kValues.template bind<0>(args, nargs, kwnames);
    return borrow<Driver<C>>(self)->values();
  });
}

template <class C>
PyObject* update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [kind, symbol, timestamp, price, volume, side, bid, ask] = C::kUpdate.template bind<8>(args, nargs, kwnames);
    Exclusive<Driver<C>> driver = borrow_mut<Driver<C>>(self);
    const ScalarEvent scalars{integer<std::uint8_t>(kind),   integer<std::int64_t>(symbol),
                              integer<std::int64_t>(timestamp), optional_real(price),
                              optional_real(volume),           optional_integer<std::uint8_t>(side)};
    optional_real(bid);  // checked, never used
    optional_real(ask);
    driver->update(scalars);
    return Py_NewRef(Py_None);
  });
}

template <class C>
PyObject* transform(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [kind, symbol, timestamp, price, volume, side, bid, ask, context_updates] =
        C::kTransform.template bind<9>(args, nargs, kwnames);
    Exclusive<Driver<C>> driver = borrow_mut<Driver<C>>(self);
    const EventColumns columns{column<std::uint8_t>(kind),          column<std::int64_t>(symbol),
                               column<std::int64_t>(timestamp),     optional_column<double>(price),
                               optional_column<double>(volume),     optional_column<std::uint8_t>(side),
                               optional_column<double>(bid),        optional_column<double>(ask)};
    return driver->transform(columns, optional_dict(context_updates));
  });
}

// The output_dtype property.
template <class C>
PyObject* get_output_dtype(PyObject* self, void*) {
  return guarded([&] { return new_str(borrow<Driver<C>>(self)->output_dtype()); });
}

template <class C>
int set_output_dtype(PyObject* self, PyObject* value, void*) {
  return guarded(
      [&] {
        const Arg assigned = assigned_value(value);
        Exclusive<Driver<C>> driver = borrow_mut<Driver<C>>(self);
        driver->set_output_dtype(text(assigned));
        return 0;
      },
      -1);
}

}  // namespace vorn::py::runtime_methods
