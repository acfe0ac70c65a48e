// Checked access to the cells and flags a transformer or stage reads and
// writes: an index past the end is a broken invariant, never a stray read.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "engine/panic.hpp"

namespace vorn {

template <class T>
T& cell_at(std::span<T> cells, std::size_t index) {
  if (index >= cells.size()) {
    panic("index out of bounds: the len is " + std::to_string(cells.size()) +
          " but the index is " + std::to_string(index));
  }
  return cells[index];
}

// Panics unless `cells` holds at least `width` entries.
template <class T>
void require_width(std::span<T> cells, std::size_t width) {
  if (width > cells.size()) {
    panic("range end index " + std::to_string(width) + " out of range for slice of length " +
          std::to_string(cells.size()));
  }
}

}  // namespace vorn
