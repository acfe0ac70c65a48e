// HeapRingBuffer: a fixed-capacity FIFO whose storage is obtained once, without
// aborting, and never reallocated; pushing into a full buffer evicts and
// returns the oldest element. Elements are read by position from the oldest.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

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

  // A moved-from buffer is empty with capacity 0.
  HeapRingBuffer(HeapRingBuffer&& other) noexcept
      : data_(std::move(other.data_)),
        capacity_(std::exchange(other.capacity_, 0)),
        head_(std::exchange(other.head_, 0)),
        length_(std::exchange(other.length_, 0)) {}
  HeapRingBuffer& operator=(HeapRingBuffer&& other) noexcept {
    data_ = std::move(other.data_);
    capacity_ = std::exchange(other.capacity_, 0);
    head_ = std::exchange(other.head_, 0);
    length_ = std::exchange(other.length_, 0);
    return *this;
  }

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

  // Iteration from the oldest element to the newest.
  class const_iterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = const T&;

    const_iterator() = default;
    const T& operator*() const { return (*ring_)[position_]; }
    const T* operator->() const { return &(*ring_)[position_]; }
    const_iterator& operator++() {
      ++position_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++position_;
      return before;
    }
    friend bool operator==(const const_iterator&, const const_iterator&) = default;

  private:
    friend class HeapRingBuffer;
    const_iterator(const HeapRingBuffer* ring, std::size_t position) : ring_(ring), position_(position) {}
    const HeapRingBuffer* ring_ = nullptr;
    std::size_t position_ = 0;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, length_}; }

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
