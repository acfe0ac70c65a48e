#include "python/runtime.hpp"

#include <array>
#include <bitset>
#include <memory>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include <fmt/format.h>

#include "engine/features/pipeline/pipeline.hpp"
#include "engine/panic.hpp"
#include "engine/symbols.hpp"
#include "python/arguments.hpp"
#include "python/classes.hpp"

namespace vorn::py {
namespace {

// The scalar and column event codes (module constants KIND_*).
constexpr std::uint8_t kKindPrice = 0;
constexpr std::uint8_t kKindVolume = 1;
constexpr std::uint8_t kKindTrade = 2;
constexpr std::uint8_t kKindOrderBook = 3;
constexpr std::uint8_t kKindTime = 4;

constexpr std::string_view kNotContiguous = "The given array is not contiguous";

[[noreturn]] void fail_row(std::size_t row, std::string_view message) {
  fail(PyExc_ValueError, fmt::format("row {}: {}", row, message));
}

// ---- dicts ------------------------------------------------------------------

// As for_each_item, for a dict subclass, whose iteration order may differ
// from its storage order (an OrderedDict after move_to_end): the keys that
// iterating it gives, in that order, each with the value stored for it.
template <class F>
void for_each_iterated_item(PyObject* dict, F&& visit) {
  const Py_ssize_t size = PyDict_Size(dict);
  const Ref keys = Ref::checked(PySequence_List(dict));
  for (Py_ssize_t i = 0; i < PyList_Size(keys.get()); ++i) {
    const Ref key = Ref::borrow(PyList_GetItem(keys.get(), i));
    PyObject* stored = PyDict_GetItemWithError(dict, key.get());
    if (stored == nullptr && PyErr_Occurred() != nullptr) fail_with_current();
    if (stored == nullptr) panic("dictionary keys changed during iteration");
    const Ref value = Ref::borrow(stored);
    visit(key.get(), value.get());
    if (PyDict_Size(dict) != size) panic("dictionary changed size during iteration");
  }
}

// Calls `visit(key, value)` for each item in iteration order, holding both
// while it runs: code run by `visit` (a value's __float__) may change the
// dict, which then aborts the call, and nothing it frees is used afterwards.
template <class F>
void for_each_item(PyObject* dict, F&& visit) {
  if (!PyDict_CheckExact(dict)) {
    for_each_iterated_item(dict, visit);
    return;
  }
  const Py_ssize_t size = PyDict_Size(dict);
  Py_ssize_t remaining = size;
  Py_ssize_t position = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(dict, &position, &key, &value)) {
    if (remaining-- == 0) panic("dictionary keys changed during iteration");
    const Ref held_key = Ref::borrow(key);
    const Ref held_value = Ref::borrow(value);
    visit(held_key.get(), held_value.get());
    if (PyDict_Size(dict) != size) panic("dictionary changed size during iteration");
  }
}

// One context update with its id owned.
struct ContextValue {
  std::string id;
  std::optional<double> value;
};
using ContextValues = std::vector<ContextValue>;

// The items of a dict of context ids (str) and values (None, or anything
// with a float conversion), in iteration order; each key before its value.
ContextValues context_values(PyObject* dict) {
  ContextValues values;
  values.reserve(static_cast<std::size_t>(PyDict_Size(dict)));
  for_each_item(dict, [&](PyObject* key, PyObject* value) {
    std::string id = owned_text(Arg{key, {}});
    values.push_back(ContextValue{std::move(id), optional_real(Arg{value, {}})});
  });
  return values;
}

// The list as the core takes it, viewing the ids of `values`.
void view_updates(const ContextValues& values, std::vector<ContextUpdate>& updates) {
  updates.clear();
  for (const ContextValue& value : values) updates.push_back(ContextUpdate{value.id, value.value});
}

// ---- batch checks -----------------------------------------------------------

// The row a context_updates key names, below `rows`.
std::uint64_t context_row(PyObject* key, std::size_t rows) {
  if (PyBool_Check(key) || !PyLong_Check(key)) fail(PyExc_ValueError, "context row index must be an integer");
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(key, &overflow);
  if (value == -1 && overflow == 0 && PyErr_Occurred() != nullptr) fail_with_current();
  if (overflow < 0 || (overflow == 0 && value < 0)) fail(PyExc_ValueError, "context row index must be nonnegative");
  if (overflow == 0 && static_cast<std::uint64_t>(value) < rows) return static_cast<std::uint64_t>(value);
  // The key in decimal, as int prints it (whatever a subclass prints).
  const auto int_repr = reinterpret_cast<reprfunc>(PyType_GetSlot(&PyLong_Type, Py_tp_repr));
  const Ref text = Ref::checked(int_repr(key));
  fail(PyExc_ValueError, fmt::format("context row {} is outside this replay", owned_text(Arg{text.get(), {}})));
}

using ContextPlan = std::unordered_map<std::uint64_t, ContextValues>;

// Every row's context updates, converted and validated in dict order before
// any row is applied; a later entry for the same row replaces an earlier one.
ContextPlan context_plan(const FeatureExtractor& extractor, PyObject* updates, std::size_t rows) {
  ContextPlan plan;
  std::vector<ContextUpdate> list;
  for_each_item(updates, [&](PyObject* key, PyObject* value) {
    const std::uint64_t row = context_row(key, rows);
    if (!PyDict_Check(value)) fail_conversion(Arg{value, {}}, "PyDict");
    ContextValues values = context_values(value);
    view_updates(values, list);
    if (Status valid = extractor.validate_context(list); !valid) fail_row(row, to_string(valid.error()));
    plan.insert_or_assign(row, std::move(values));
  });
  return plan;
}

// An optional payload column: contiguous and of `rows` elements when given.
template <class T>
void check_payload(std::string_view name, const std::optional<Column<T>>& column, std::size_t rows) {
  if (!column) return;
  if (!column->contiguous) fail(PyExc_TypeError, kNotContiguous);
  if (column->size != rows) fail(PyExc_ValueError, fmt::format("the `{}` column must match the length of `kind`", name));
}

template <class T>
std::optional<T> element(const std::optional<Column<T>>& column, std::size_t row) {
  if (!column) return std::nullopt;
  return (*column)[row];
}

// The error texts of build_event, kept off its path.
[[gnu::cold]] std::unexpected<std::string> missing_column(std::string_view name) {
  return std::unexpected(fmt::format("event kind requires the `{}` column", name));
}

[[gnu::cold]] std::unexpected<std::string> invalid_side(std::uint8_t code) {
  return std::unexpected(
      fmt::format("invalid `side` {}; expected SIDE_AGGRESSOR_BUY (0) or SIDE_AGGRESSOR_SELL (1)", code));
}

[[gnu::cold]] std::unexpected<std::string> unknown_handle(std::int64_t handle, std::string_view class_name) {
  return std::unexpected(fmt::format("unknown symbol handle {}; call {}.symbol(name) first", handle, class_name));
}

[[gnu::cold]] std::unexpected<std::string> not_finite(const Event& event) {
  return std::unexpected(to_string(event.validate_finite_values().error()));
}

// The event of scalars that pass build_event's checks, for `symbol`.
Event checked_event(const ScalarEvent& scalars, Symbol symbol) {
  switch (scalars.kind) {
    case kKindPrice:
      return Event::Price{*scalars.price, scalars.timestamp, symbol};
    case kKindVolume:
      return Event::Volume{*scalars.volume, scalars.timestamp, symbol};
    case kKindTrade:
      return Event::Trade{*scalars.price, *scalars.volume, scalars.timestamp, symbol,
                          scalars.side ? std::optional(static_cast<AggressorSide>(*scalars.side)) : std::nullopt};
    case kKindTime:
      return Event::Time{scalars.timestamp};
    default:
      panic("only the event kinds that build_event accepts are built");
  }
}

// The rows of a batch as their checks read them, each element of the caller's
// columns once, in storage of our own: a few bytes per row and column (a
// payload only when its column was given), with the symbol resolved.
class CheckedRows {
public:
  CheckedRows(std::size_t rows, bool price, bool volume, bool side)
      : kind_(std::make_unique_for_overwrite<std::uint8_t[]>(rows)),
        symbol_(std::make_unique_for_overwrite<std::uint16_t[]>(rows)),
        timestamp_(std::make_unique_for_overwrite<std::int64_t[]>(rows)),
        price_(price ? std::make_unique_for_overwrite<double[]>(rows) : nullptr),
        volume_(volume ? std::make_unique_for_overwrite<double[]>(rows) : nullptr),
        side_(side ? std::make_unique_for_overwrite<std::uint8_t[]>(rows) : nullptr) {}

  // Keeps the scalars of a row that build_event accepted, and its symbol.
  void keep(std::size_t row, const ScalarEvent& scalars, Symbol symbol) {
    kind_[row] = scalars.kind;
    symbol_[row] = symbol.id;
    timestamp_[row] = scalars.timestamp;
    if (price_) price_[row] = *scalars.price;
    if (volume_) volume_[row] = *scalars.volume;
    if (side_) side_[row] = *scalars.side;
  }

  // The event of a kept row (its symbol resolved already, so no handle).
  Event event(std::size_t row) const {
    const auto kept = [row](const auto& column) {
      return column ? std::optional(column[row]) : std::nullopt;
    };
    return checked_event(ScalarEvent{kind_[row], 0, timestamp_[row], kept(price_), kept(volume_), kept(side_)},
                         Symbol{symbol_[row]});
  }

private:
  std::unique_ptr<std::uint8_t[]> kind_;
  std::unique_ptr<std::uint16_t[]> symbol_;
  std::unique_ptr<std::int64_t[]> timestamp_;
  std::unique_ptr<double[]> price_;
  std::unique_ptr<double[]> volume_;
  std::unique_ptr<std::uint8_t[]> side_;
};

// "__reserved_{i}" past the active names, up to `width`.
PyObject* name_list(const std::vector<std::string>& names, std::size_t width) {
  Ref list = Ref::checked(PyList_New(static_cast<Py_ssize_t>(width)));
  for (std::size_t i = 0; i < width; ++i) {
    PyObject* name = i < names.size() ? new_str(names[i]) : new_str(fmt::format("__reserved_{}", i));
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), name);
  }
  return list.release();
}

}  // namespace

// Timestamp order of every row against the extractor's last timestamps and
// the rows before it, as handle_event would judge them one by one. Rows are
// shown in order; the first row out of order is kept, to be raised once the
// checks that come before it have passed.
class RowOrder {
public:
  explicit RowOrder(const FeatureExtractor& extractor) : extractor_(extractor) {}

  void see(std::size_t row, const Event& event) {
    if (failure_) return;
    const Symbol symbol = event.symbol();
    const std::int64_t timestamp = event.timestamp();
    if (symbol.id >= kSymbolLimit) panic("event symbols must come from the symbol interner");
    if (!met_[symbol.id]) {
      met_.set(symbol.id);
      last_[symbol.id] = extractor_.symbol_timestamp(symbol);
    }
    if (last_[symbol.id] && *last_[symbol.id] > timestamp) [[unlikely]] {
      failure_ = Failure{row, VornError{vorn_error::TimestampOutOfOrder{symbol, event.kind(), timestamp,
                                                                        *last_[symbol.id]}}};
      return;
    }
    last_[symbol.id] = timestamp;
  }

  // Raises the first row out of order, if any.
  void check() const {
    if (failure_) fail_row(failure_->row, to_string(failure_->error));
  }

private:
  struct Failure {
    std::size_t row;
    VornError error;
  };

  const FeatureExtractor& extractor_;
  std::array<std::optional<std::int64_t>, kSymbolLimit> last_{};
  std::bitset<kSymbolLimit> met_;
  std::optional<Failure> failure_;
};

bool parse_output_dtype(std::string_view text) {
  if (text == "float64") return true;
  if (text == "float32") return false;
  fail(PyExc_ValueError, R"(output_dtype must be "float32", "float64", numpy.float32, or numpy.float64)");
}

// ---- the driver ---------------------------------------------------------------

template <class Core>
RuntimeDriver<Core>::RuntimeDriver(Core core, bool output_f64, RuntimeLayout layout)
    : core_(std::move(core)),
      names_(std::move(layout.names)),
      raw_names_(std::move(layout.raw_names)),
      class_name_(layout.class_name),
      noun_(layout.noun),
      width_(layout.width),
      raw_width_(layout.raw_width),
      output_f64_(output_f64) {
  if (width_ != output().capacity() || raw_width_ != extractor().values().capacity() || names_.size() > width_ ||
      raw_names_.size() > raw_width_) {
    panic("a runtime layout must match the vectors of its core");
  }
}

// The extractor of a core: the core itself, or the one a model core owns.
template <class Core>
auto& extractor_of(Core& core) {
  if constexpr (ModelCore<std::remove_const_t<Core>>) {
    return core.extractor();
  } else {
    return core;
  }
}

template <class Core>
FeatureExtractor& RuntimeDriver<Core>::extractor() {
  return extractor_of(core_);
}

template <class Core>
const FeatureExtractor& RuntimeDriver<Core>::extractor() const {
  return extractor_of(core_);
}

template <class Core>
const VecFeatureVector& RuntimeDriver<Core>::output() const {
  if constexpr (ModelCore<Core>) {
    return core_.model();
  } else {
    return core_.values();
  }
}

template <class Core>
void RuntimeDriver<Core>::refresh([[maybe_unused]] bool observed) {
  if constexpr (ModelCore<Core>) core_.refresh(observed);
}

template <class Core>
PyObject* RuntimeDriver<Core>::names() const {
  return name_list(names_, width_);
}

template <class Core>
PyObject* RuntimeDriver<Core>::raw_names() const {
  return name_list(raw_names_, raw_width_);
}

template <class Core>
PyObject* RuntimeDriver<Core>::values() const {
  return values_arrays_.copy(output_f64_, output().cells());
}

template <class Core>
PyObject* RuntimeDriver<Core>::raw_values() const {
  return raw_values_arrays_.copy(output_f64_, extractor().values().cells());
}

template <class Core>
std::size_t RuntimeDriver<Core>::symbol(std::string_view name) {
  const Symbol symbol = or_raise(intern_symbol(name));
  for (std::size_t handle = 0; handle < handles_.size(); ++handle) {
    if (handles_[handle] == symbol.id) return handle;
  }
  handles_.push_back(symbol.id);
  return handles_.size() - 1;
}

template <class Core>
bool RuntimeDriver<Core>::locked() const {
  return context_touched_ || extractor().last_event_timestamp().has_value();
}

template <class Core>
void RuntimeDriver<Core>::set_output_dtype(std::string_view text) {
  if (locked()) {
    fail(PyExc_ValueError,
         fmt::format("output_dtype cannot be changed after the {} has processed an event or context update", noun_));
  }
  output_f64_ = parse_output_dtype(text);
}

template <class Core>
Parsed<Event> RuntimeDriver<Core>::build_event(const ScalarEvent& scalars) const {
  switch (scalars.kind) {
    case kKindPrice:
    case kKindVolume:
    case kKindTrade: {
      if (scalars.handle < 0 || static_cast<std::uint64_t>(scalars.handle) >= handles_.size()) [[unlikely]] {
        return unknown_handle(scalars.handle, class_name_);
      }
      if (scalars.kind != kKindVolume && !scalars.price) return missing_column("price");
      if (scalars.kind != kKindPrice && !scalars.volume) return missing_column("volume");
      if (scalars.kind == kKindTrade && scalars.side && *scalars.side > 1) return invalid_side(*scalars.side);
      const Event event = checked_event(scalars, Symbol{handles_[static_cast<std::size_t>(scalars.handle)]});
      if (!event.has_finite_values()) [[unlikely]] return not_finite(event);
      return event;
    }
    case kKindOrderBook:
      return std::unexpected(std::string(
          "KIND_ORDERBOOK no longer accepts bid/ask scalars; use OrderBookEvent with update_order_book or "
          "transform_order_book"));
    case kKindTime:
      return Event(Event::Time{scalars.timestamp});
    default:
      return std::unexpected(fmt::format(
          "unsupported event kind {} (expected 0=price, 1=volume, 2=trade, 3=orderbook, 4=time)", scalars.kind));
  }
}

template <class Core>
void RuntimeDriver<Core>::update(const ScalarEvent& scalars) {
  const Event event = or_raise(build_event(scalars));
  or_raise(extractor().handle_event(event));
  refresh(true);
}

template <class Core>
void RuntimeDriver<Core>::update_context(PyObject* updates) {
  const ContextValues values = context_values(updates);
  std::vector<ContextUpdate> list;
  view_updates(values, list);
  or_raise(extractor().update_context(list));
  if (list.empty()) return;
  context_touched_ = true;
  refresh(false);
}

template <class Core>
PyObject* RuntimeDriver<Core>::transform(const EventColumns& columns, std::optional<PyObject*> context_updates) {
  for (const bool contiguous : {columns.kind.contiguous, columns.symbol.contiguous, columns.timestamp.contiguous}) {
    if (!contiguous) fail(PyExc_TypeError, kNotContiguous);
  }
  const std::size_t rows = columns.kind.size;
  if (columns.symbol.size != rows || columns.timestamp.size != rows) {
    fail(PyExc_ValueError, "kind, symbol and timestamp must have the same length");
  }
  check_payload("price", columns.price, rows);
  check_payload("volume", columns.volume, rows);
  check_payload("side", columns.side, rows);
  check_payload("bid", columns.bid, rows);
  check_payload("ask", columns.ask, rows);

  // Every row is read once, built, its timestamp order seen and kept before
  // anything changes; the replay applies the rows as they were checked,
  // whatever is written to the columns meanwhile (by another thread, or by
  // code run while the context plan is read).
  CheckedRows checked(rows, columns.price.has_value(), columns.volume.has_value(), columns.side.has_value());
  RowOrder order(extractor());
  for (std::size_t row = 0; row < rows; ++row) {
    const ScalarEvent scalars{columns.kind[row],          columns.symbol[row],         columns.timestamp[row],
                              element(columns.price, row), element(columns.volume, row), element(columns.side, row)};
    const Parsed<Event> event = build_event(scalars);
    if (!event) fail_row(row, event.error());
    order.see(row, *event);
    checked.keep(row, scalars, event->symbol());
  }
  return replay(rows, order, context_updates, [&](std::size_t row) { return checked.event(row); });
}

template <class Core>
Status RuntimeDriver<Core>::validate_order_book(Symbol symbol) const {
  if (!extractor().order_books().has_book(symbol)) {
    return std::unexpected(VornError{vorn_error::OrderBookNotConfigured{symbol}});
  }
  return {};
}

template <class Core>
void RuntimeDriver<Core>::update_order_book(const OrderBookEvent& event) {
  or_raise(validate_order_book(event.symbol()));
  or_raise(extractor().handle_event(event.event()));
  refresh(true);
}

template <class Core>
PyObject* RuntimeDriver<Core>::transform_order_book(std::span<const Ref> events,
                                                    std::optional<PyObject*> context_updates) {
  RowOrder order(extractor());
  for (std::size_t row = 0; row < events.size(); ++row) {
    const OrderBookEvent& event = value_of<OrderBookEvent>(events[row].get());
    if (Status configured = validate_order_book(event.symbol()); !configured) {
      fail_row(row, to_string(configured.error()));
    }
    order.see(row, event.event());
  }
  return replay(events.size(), order, context_updates,
                [&](std::size_t row) { return value_of<OrderBookEvent>(events[row].get()).event(); });
}

template <class Core>
template <class EventAt>
PyObject* RuntimeDriver<Core>::replay(std::size_t rows, const RowOrder& order, std::optional<PyObject*> context_updates,
                                      const EventAt& event_at) {
  const ContextPlan plan = context_updates ? context_plan(extractor(), *context_updates, rows) : ContextPlan{};
  order.check();
  OutputBuffer buffer(output_f64_, rows, width_);

  std::vector<ContextUpdate> list;
  for (std::size_t row = 0; row < rows; ++row) {
    if (!plan.empty()) {
      if (const auto found = plan.find(row); found != plan.end()) {
        view_updates(found->second, list);
        if (Status applied = extractor().update_context(list); !applied) fail_row(row, to_string(applied.error()));
        if (!list.empty()) {
          context_touched_ = true;
          refresh(false);
        }
      }
    }
    if (auto handled = extractor().handle_event(event_at(row)); !handled) fail_row(row, to_string(handled.error()));
    refresh(true);
    buffer.write_row(row, output().cells());
  }
  return buffer.into_pyarray();
}

template class RuntimeDriver<FeatureExtractor>;
template class RuntimeDriver<Pipeline>;

}  // namespace vorn::py
