// HeapRingBuffer: a fixed-capacity FIFO whose storage is obtained once, without
// aborting, and never reallocated; pushing into a full buffer evicts and
// returns the oldest element. Elements are read by position from the oldest.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <optional>
#include <type_traits>

#include "engine/panic.hpp"

namespace vorn {

template <class T>
class HeapRingBuffer {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
  // None when the storage for `capacity` elements cannot be obtained. The
  // memory is not touched until elements are pushed. A capacity of 0 is a
  // broken invariant (builders refuse it beforehand).
  static std::optional<HeapRingBuffer> try_new(std::size_t capacity) {
    if (capacity == 0) panic("Ring buffer size must be greater than 0");
    if (capacity > static_cast<std::size_t>(-1) / sizeof(T)) return std::nullopt;
    void* memory = std::malloc(capacity * sizeof(T));
    if (memory == nullptr) return std::nullopt;
    return HeapRingBuffer(static_cast<T*>(memory), capacity);
  }

  HeapRingBuffer(HeapRingBuffer&&) noexcept = default;
  HeapRingBuffer& operator=(HeapRingBuffer&&) noexcept = default;

  // Appends `item` as the newest element; when full, first removes and
  // returns the oldest.
  std::optional<T> push_back(const T& item) {
    if (length_ < capacity_) {
      data_[wrap(head_ + length_)] = item;
      ++length_;
      return std::nullopt;
    }
    T oldest = data_[head_];
    data_[head_] = item;
    head_ = wrap(head_ + 1);
    return oldest;
  }

  std::size_t size() const { return length_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return length_ == 0; }

  // Position 0 is the oldest element, size() - 1 the newest.
  const T& operator[](std::size_t position) const { return data_[wrap(head_ + position)]; }
  T& operator[](std::size_t position) { return data_[wrap(head_ + position)]; }
  const T& back() const { return (*this)[length_ - 1]; }
  T& back() { return (*this)[length_ - 1]; }
  const T& front() const { return data_[head_]; }

private:
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };

  HeapRingBuffer(T* data, std::size_t capacity) : data_(data), capacity_(capacity) {}

  // Positions are below 2 × capacity, so one conditional subtraction wraps.
  std::size_t wrap(std::size_t index) const {
    return index >= capacity_ ? index - capacity_ : index;
  }

  std::unique_ptr<T[], Free> data_;
  std::size_t capacity_ = 0;
  std::size_t head_ = 0;
  std::size_t length_ = 0;
};

}  // namespace vorn
