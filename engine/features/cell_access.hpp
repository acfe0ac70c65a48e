// Checked access to the cells and flags a derivation, transformer or stage
// reads and writes: an index past the end is a broken invariant, never a
// stray read.
#pragma once

#include <cstddef>
#include <span>

namespace vorn {

// Panics with "index out of bounds: the len is {length} but the index is {index}".
[[noreturn, gnu::cold, gnu::noinline]] void index_out_of_bounds(std::size_t length, std::size_t index);
// Panics with "range end index {width} out of range for slice of length {length}".
[[noreturn, gnu::cold, gnu::noinline]] void width_out_of_bounds(std::size_t length, std::size_t width);

template <class T>
T& cell_at(std::span<T> cells, std::size_t index) {
  if (index >= cells.size()) index_out_of_bounds(cells.size(), index);
  return cells[index];
}

// Panics unless `cells` holds at least `width` entries.
template <class T>
void require_width(std::span<T> cells, std::size_t width) {
  if (width > cells.size()) width_out_of_bounds(cells.size(), width);
}

}  // namespace vorn
