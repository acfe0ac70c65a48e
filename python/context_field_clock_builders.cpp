// The one-feature builders of FeatureExtractorSpec: named context values,
// copied event fields (both with an optional explicit id) and the two clock
// features of the global symbol.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "python/spec_builders.hpp"

namespace vorn::py {
namespace {

using namespace feature_key;

constinit Signature kContext{"context", Receiver::Instance, {param("symbol"), param("name"), keyword("id", "None")},
                             "Register a named, precomputed value. Use \"__global__\" for shared context."};
constinit Signature kField{"field", Receiver::Instance,
                           {param("symbol"), keyword("source", "\"price\""), keyword("id", "None")},
                           "Copy the latest matching scalar event field."};
constinit Signature kDayOfWeek{
    "day_of_week", Receiver::Instance, {},
    "Day-of-week clock feature (`0 = Sunday ..= 6 = Saturday`). Refreshes\n"
    "at or beyond the maximum accepted timestamp, retaining its value on older rows."};
constinit Signature kTimeSinceFirstEventOfDay{
    "time_since_first_event_of_day", Receiver::Instance, {param("tz", "\"UTC\"")},
    "Milliseconds since the first observed event after a local day boundary."};

PyObject* context(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, name, id] = kContext.bind<3>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view symbol_name = text(symbol);
    const std::string_view value_name = text(name);
    const std::optional<std::string_view> explicit_id = optional_text(id);
    const Symbol on = interned(symbol_name);
    return added(self, *spec, definition(Context{on, std::string(value_name)}, explicit_id));
  });
}

PyObject* field(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, source, id] = kField.bind<3>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view symbol_name = text(symbol);
    const std::string_view field_name = text_or(source, "price");
    const std::optional<std::string_view> explicit_id = optional_text(id);
    const Symbol on = interned(symbol_name);
    const ValueField read = or_raise(parse_value_source(field_name));
    return added(self, *spec, definition(Field{on, read}, explicit_id));
  });
}

PyObject* day_of_week(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kDayOfWeek.bind<0>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    return added(self, *spec,
                 FeatureDefinition::with_default_id(DayOfWeek{Symbol::global(), FeatureSource::any_event()}));
  });
}

PyObject* time_since_first_event_of_day(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
  return guarded([&] {
    const auto [tz] = kTimeSinceFirstEventOfDay.bind<1>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::int64_t offset = or_raise(parse_tz_offset(text_or(tz, "UTC")));
    return added(self, *spec,
                 FeatureDefinition::with_default_id(
                     TimeSinceFirstEventOfDay{Symbol::global(), FeatureSource::any_event(), offset}));
  });
}

}  // namespace

std::span<const PyMethodDef> context_and_field_methods() {
  static const PyMethodDef methods[] = {method_def(kContext, context), method_def(kField, field)};
  return methods;
}

std::span<const PyMethodDef> clock_methods() {
  static const PyMethodDef methods[] = {method_def(kDayOfWeek, day_of_week),
                                        method_def(kTimeSinceFirstEventOfDay, time_since_first_event_of_day)};
  return methods;
}

}  // namespace vorn::py
