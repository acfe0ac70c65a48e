// RuntimeDriver: the engine behind the runnable Python classes. It owns one
// core engine (a feature extractor, or a pipeline around one) with the
// object's symbol handles, output names and output dtype, turns Python
// scalars, NumPy columns and OrderBookEvents into core events, and returns
// feature vectors and batch rows as NumPy arrays.
//
// The pipeline form (any core meeting ModelCore) refreshes its model vector
// after every accepted event (observed) and every accepted non-empty context
// update (not observed), and returns the model vector instead of the raw
// one. Member definitions are in runtime.cpp, instantiated there for each
// core type.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/event.hpp"
#include "engine/features/feature_extractor.hpp"
#include "engine/vectors.hpp"
#include "python/binding.hpp"
#include "python/numpy_arrays.hpp"
#include "python/order_book_event.hpp"
#include "python/parsers.hpp"

namespace vorn::py {

// What a driver is made from.
struct RuntimeLayout {
  std::vector<std::string> names;      // active output cells, in output order
  std::vector<std::string> raw_names;  // active raw cells, in raw order
  std::string_view class_name;         // "FeatureExtractor": named in the handle message
  std::string_view noun;               // "extractor": named in the dtype-lock message
  std::size_t width = 0;               // output cells, reserved ones included
  std::size_t raw_width = 0;           // raw cells, reserved ones included
};

// One scalar event as `update` receives it.
struct ScalarEvent {
  std::uint8_t kind = 0;
  std::int64_t handle = 0;
  std::int64_t timestamp = 0;
  std::optional<double> price;
  std::optional<double> volume;
  std::optional<std::uint8_t> side;
};

// The columns of one `transform` batch, borrowed for the call.
struct EventColumns {
  Column<std::uint8_t> kind;
  Column<std::int64_t> symbol;
  Column<std::int64_t> timestamp;
  std::optional<Column<double>> price;
  std::optional<Column<double>> volume;
  std::optional<Column<std::uint8_t>> side;
  std::optional<Column<double>> bid;
  std::optional<Column<double>> ask;
};

class RowOrder;  // a batch's timestamp order, seen row by row (runtime.cpp)

// A core that keeps a model vector computed from its extractor's raw one.
template <class Core>
concept ModelCore = requires(Core& core, const Core& view, bool observed) {
  core.refresh(observed);
  { core.extractor() } -> std::same_as<FeatureExtractor&>;
  { view.extractor() } -> std::same_as<const FeatureExtractor&>;
  { view.model() } -> std::same_as<const VecFeatureVector&>;
};

template <class Core>
class RuntimeDriver {
public:
  // The layout's widths must be the capacities of the core's output and raw
  // vectors.
  RuntimeDriver(Core core, bool output_f64, RuntimeLayout layout);

  // Output cells (reserved ones included) and the active ones among them.
  std::size_t width() const { return width_; }
  std::size_t active_count() const { return names_.size(); }
  // New lists of the output and raw names, "__reserved_{i}" past the active
  // cells.
  PyObject* names() const;
  PyObject* raw_names() const;
  // New arrays of the whole output and raw vectors, in the output dtype (an
  // array no one holds any more may be handed out again: VectorArrays).
  PyObject* values() const;
  PyObject* raw_values() const;

  // The object's handle for a symbol name: dense from 0 in order of first
  // registration. The interner's error is raised as ValueError.
  std::size_t symbol(std::string_view name);

  // Locked once an event or a non-empty context update has been accepted.
  bool locked() const;
  std::string_view output_dtype() const { return output_f64_ ? "float64" : "float32"; }
  void set_output_dtype(std::string_view text);

  // One core event from scalars, or the message of the first failed check;
  // changes nothing.
  Parsed<Event> build_event(const ScalarEvent& scalars) const;
  void update(const ScalarEvent& scalars);
  // Applies a dict of context ids and values (None writes NaN), all or none.
  void update_context(PyObject* updates);
  // Checks the columns and builds every row's event, keeping what it read,
  // then replays the rows kept; the (rows, width) array of the rows.
  PyObject* transform(const EventColumns& columns, std::optional<PyObject*> context_updates);
  void update_order_book(const OrderBookEvent& event);
  // `events` are OrderBookEvent objects, held for the call.
  PyObject* transform_order_book(std::span<const Ref> events, std::optional<PyObject*> context_updates);

  Core& core() { return core_; }
  const Core& core() const { return core_; }

private:
  FeatureExtractor& extractor();
  const FeatureExtractor& extractor() const;
  const VecFeatureVector& output() const;
  void refresh(bool observed);
  Status validate_order_book(Symbol symbol) const;
  // The rows of a batch whose events have all been built and seen by
  // `order`: the context plan is checked, then the order, then each row's
  // context update and `event_at(row)` are applied and its output copied.
  template <class EventAt>
  PyObject* replay(std::size_t rows, const RowOrder& order, std::optional<PyObject*> context_updates,
                   const EventAt& event_at);

  Core core_;
  std::vector<std::uint16_t> handles_;  // handle h stands for symbol handles_[h]
  std::vector<std::string> names_;
  std::vector<std::string> raw_names_;
  std::string_view class_name_;
  std::string_view noun_;
  std::size_t width_ = 0;
  std::size_t raw_width_ = 0;
  bool output_f64_ = true;
  bool context_touched_ = false;
  // The arrays values() and raw_values() last handed out: reading the values
  // changes nothing that a caller can see.
  mutable VectorArrays values_arrays_;
  mutable VectorArrays raw_values_arrays_;
};

// The output dtype named by `text`: true for exactly "float64", false for
// exactly "float32", ValueError otherwise.
bool parse_output_dtype(std::string_view text);

}  // namespace vorn::py
