// OutputSink: where a derivation writes, a view over the feature cells and
// their per-cell update flags. Every write stores the value and sets the
// cell's flag to 1; NaN is the one no-value marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "engine/panic.hpp"
#include "engine/vectors.hpp"

namespace vorn {

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

class OutputSink {
public:
  // One flag per cell of the vector's capacity.
  OutputSink(VecFeatureVector& values, std::span<std::uint8_t> updated) : values_(&values), updated_(updated) {
    if (updated.size() != values.capacity()) panic("update flags must cover every feature cell");
  }

  void write(std::size_t cell, double value) {
    values_->set_value_at(cell, value);
    updated_[cell] = 1;
  }

private:
  VecFeatureVector* values_;
  std::span<std::uint8_t> updated_;
};

// Writes outputs 0 .. n_outputs - 1 to cells out_start + k: value_of(k) for
// the first `defined` outputs (the group's windows or lags), NaN beyond.
template <class ValueOf>
void write_outputs(OutputSink& sink, std::size_t out_start, std::size_t n_outputs, std::size_t defined,
                   ValueOf&& value_of) {
  for (std::size_t k = 0; k < n_outputs; ++k) {
    sink.write(out_start + k, k < defined ? static_cast<double>(value_of(k)) : kNoValue);
  }
}

}  // namespace vorn
