#include "engine/features/cell_access.hpp"

#include <string>

#include "engine/panic.hpp"

namespace vorn {

void index_out_of_bounds(std::size_t length, std::size_t index) {
  panic("index out of bounds: the len is " + std::to_string(length) + " but the index is " +
        std::to_string(index));
}

void width_out_of_bounds(std::size_t length, std::size_t width) {
  panic("range end index " + std::to_string(width) + " out of range for slice of length " +
        std::to_string(length));
}

}  // namespace vorn
