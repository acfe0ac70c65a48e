// VecFeatureVector: fixed-capacity 64-bit feature cells with an active length.
// Cells from the active length to the capacity are reserved cells. Storage is
// obtained once, zero-filled by the allocator, and never reallocated.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "engine/panic.hpp"

namespace vorn {

class VecFeatureVector {
public:
  // Every cell 0.0. None when the storage cannot be obtained. An active
  // length above the capacity is a broken invariant.
  static std::optional<VecFeatureVector> try_new_of_length(std::size_t capacity, std::size_t length) {
    if (length > capacity) panic("assertion failed: length <= capacity");
    double* cells = nullptr;
    if (capacity > static_cast<std::size_t>(-1) / sizeof(double)) return std::nullopt;
    if (capacity > 0) {
      cells = static_cast<double*>(std::calloc(capacity, sizeof(double)));
      if (cells == nullptr) return std::nullopt;
    }
    return VecFeatureVector(cells, capacity, length);
  }
  // As try_new_of_length; throws std::bad_alloc when the storage cannot be obtained.
  static VecFeatureVector new_of_length(std::size_t capacity, std::size_t length) {
    auto vector = try_new_of_length(capacity, length);
    if (!vector) throw std::bad_alloc();
    return std::move(*vector);
  }

  // A moved-from vector has no cells.
  VecFeatureVector(VecFeatureVector&& other) noexcept
      : cells_(std::move(other.cells_)),
        capacity_(std::exchange(other.capacity_, 0)),
        length_(std::exchange(other.length_, 0)) {}
  VecFeatureVector& operator=(VecFeatureVector&& other) noexcept {
    cells_ = std::move(other.cells_);
    capacity_ = std::exchange(other.capacity_, 0);
    length_ = std::exchange(other.length_, 0);
    return *this;
  }

  std::size_t length() const { return length_; }
  std::size_t capacity() const { return capacity_; }

  // Any index below the capacity, reserved cells included.
  void set_value_at(std::size_t index, double value) {
    if (index >= capacity_) panic("index out of bounds: the len is " + std::to_string(capacity_) +
                                  " but the index is " + std::to_string(index));
    cells_[index] = value;
  }
  double value_at(std::size_t index) const { return cells()[index]; }

  std::span<const double> cells() const { return {cells_.get(), capacity_}; }
  std::span<double> cells() { return {cells_.get(), capacity_}; }
  std::span<const double> active() const { return {cells_.get(), length_}; }

private:
  struct Free {
    void operator()(double* p) const { std::free(p); }
  };
  VecFeatureVector(double* cells, std::size_t capacity, std::size_t length)
      : cells_(cells), capacity_(capacity), length_(length) {}

  std::unique_ptr<double[], Free> cells_;
  std::size_t capacity_ = 0;
  std::size_t length_ = 0;
};

}  // namespace vorn
