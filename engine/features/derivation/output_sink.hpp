// OutputSink: where a derivation writes, a view over the feature cells and
// their per-cell update flags. Every write stores the value and sets the
// cell's flag to 1; NaN is the one no-value marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "engine/features/cell_access.hpp"
#include "engine/panic.hpp"
#include "engine/vectors.hpp"

namespace vorn {

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

class OutputSink {
public:
  // One flag per cell of the vector's capacity.
  OutputSink(VecFeatureVector& values, std::span<std::uint8_t> updated)
      : cells_(values.cells().data()), flags_(updated.data()), capacity_(values.capacity()) {
    if (updated.size() != values.capacity()) panic("update flags must cover every feature cell");
  }

  // A cell past the capacity is a broken invariant.
  void write(std::size_t cell, double value) {
    if (cell >= capacity_) index_out_of_bounds(capacity_, cell);
    store(cell, value);
  }

  // Writes cells start .. start + count - 1, cell start + k getting
  // value_of(k), in order. The range is checked once, before any write: one
  // past the capacity is a broken invariant.
  template <class ValueOf>
  void write_each(std::size_t start, std::size_t count, ValueOf&& value_of) {
    if (start > capacity_ || count > capacity_ - start) width_out_of_bounds(capacity_, start + count);
    for (std::size_t k = 0; k < count; ++k) store(start + k, value_of(k));
  }

private:
  void store(std::size_t cell, double value) {
    cells_[cell] = value;
    flags_[cell] = 1;
  }

  double* cells_;
  std::uint8_t* flags_;
  std::size_t capacity_;
};

// Writes outputs 0 .. n_outputs - 1 to cells out_start + k: value_of(k) for
// the first `defined` outputs (the group's windows or lags), NaN beyond.
template <class ValueOf>
void write_outputs(OutputSink& sink, std::size_t out_start, std::size_t n_outputs, std::size_t defined,
                   ValueOf&& value_of) {
  sink.write_each(out_start, n_outputs,
                  [&](std::size_t k) { return k < defined ? static_cast<double>(value_of(k)) : kNoValue; });
}

}  // namespace vorn
