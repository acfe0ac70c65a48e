// ReplayBuffer: the deltas a book holds back for replay, oldest first, with
// their timestamps. A fixed number of slots is obtained once, zero-filled by
// the allocator; each slot copies a delta's changes into level storage of its
// own, kept across reuse, so that holding a delta allocates only when it has
// more changes than that slot ever held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include "engine/order_book/book_update.hpp"

namespace vorn {

class ReplayBuffer {
public:
  // A held delta: its changes are borrowed from the buffer.
  struct Entry {
    OrderBookDelta delta;
    std::int64_t timestamp;
  };

  // None when the slots cannot be obtained. A capacity of 0 holds nothing.
  static std::optional<ReplayBuffer> try_new(std::size_t capacity);

  ReplayBuffer(ReplayBuffer&& other) noexcept { swap(other); }
  ReplayBuffer& operator=(ReplayBuffer&& other) noexcept {
    swap(other);
    return *this;
  }
  ~ReplayBuffer();

  std::size_t size() const { return length_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return length_ == 0; }
  bool full() const { return length_ == capacity_; }

  // Position 0 is the oldest entry.
  Entry operator[](std::size_t position) const;
  std::uint64_t newest_id() const { return slot(length_ - 1).update_id; }

  // Makes room for a delta of `count` changes in the slot that the next
  // push_back fills; throws std::bad_alloc when the memory cannot be had.
  void reserve_next(std::size_t count);
  // Appends a copy of the delta as the newest entry; the buffer must not be full.
  void push_back(const OrderBookDelta& delta, std::int64_t timestamp);
  // Removes the oldest entries whose id is at most `update_id` (ids rise from
  // oldest to newest).
  void drop_through(std::uint64_t update_id);

private:
  // All-zero bytes are an empty slot without storage.
  struct Slot {
    std::uint64_t update_id;
    std::int64_t timestamp;
    LevelUpdate* updates;
    std::size_t length;
    std::size_t capacity;
  };

  ReplayBuffer(Slot* slots, std::size_t capacity) : slots_(slots), capacity_(capacity) {}
  void swap(ReplayBuffer& other) noexcept;

  std::size_t physical(std::size_t position) const {
    const std::size_t index = head_ + position;
    return index >= capacity_ ? index - capacity_ : index;
  }
  const Slot& slot(std::size_t position) const { return slots_[physical(position)]; }

  Slot* slots_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t head_ = 0;
  std::size_t length_ = 0;
  std::size_t touched_ = 0;  // slots [0, touched_) may own level storage
};

}  // namespace vorn
