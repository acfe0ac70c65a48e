#include "engine/order_book/replay_buffer.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "engine/panic.hpp"

namespace vorn {

static_assert(std::is_trivially_copyable_v<LevelUpdate> &&
              std::is_trivially_destructible_v<LevelUpdate>);

std::optional<ReplayBuffer> ReplayBuffer::try_new(std::size_t capacity) {
  if (capacity == 0) return ReplayBuffer(nullptr, 0);
  if (capacity > std::numeric_limits<std::size_t>::max() / sizeof(Slot)) return std::nullopt;
  void* slots = std::calloc(capacity, sizeof(Slot));
  if (slots == nullptr) return std::nullopt;
  return ReplayBuffer(static_cast<Slot*>(slots), capacity);
}

ReplayBuffer::~ReplayBuffer() {
  if (slots_ == nullptr) return;
  for (std::size_t i = 0; i < touched_; ++i) std::free(slots_[i].updates);
  std::free(slots_);
}

void ReplayBuffer::swap(ReplayBuffer& other) noexcept {
  std::swap(slots_, other.slots_);
  std::swap(capacity_, other.capacity_);
  std::swap(head_, other.head_);
  std::swap(length_, other.length_);
  std::swap(touched_, other.touched_);
}

ReplayBuffer::Entry ReplayBuffer::operator[](std::size_t position) const {
  const Slot& held = slot(position);
  return Entry{OrderBookDelta{{held.updates, held.length}, held.update_id}, held.timestamp};
}

void ReplayBuffer::reserve_next(std::size_t count) {
  if (full()) panic("replay buffer is full");
  const std::size_t index = physical(length_);
  Slot& next = slots_[index];
  touched_ = std::max(touched_, index + 1);
  if (count <= next.capacity) return;
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(LevelUpdate)) throw std::bad_alloc();
  void* grown = std::realloc(next.updates, count * sizeof(LevelUpdate));
  if (grown == nullptr) throw std::bad_alloc();
  next.updates = static_cast<LevelUpdate*>(grown);
  next.capacity = count;
}

void ReplayBuffer::push_back(const OrderBookDelta& delta, std::int64_t timestamp) {
  reserve_next(delta.updates.size());
  Slot& next = slots_[physical(length_)];
  if (!delta.updates.empty()) {
    std::memcpy(static_cast<void*>(next.updates), delta.updates.data(), delta.updates.size_bytes());
  }
  next.length = delta.updates.size();
  next.update_id = delta.update_id;
  next.timestamp = timestamp;
  ++length_;
}

void ReplayBuffer::drop_through(std::uint64_t update_id) {
  while (length_ > 0 && slot(0).update_id <= update_id) {
    head_ = physical(1);
    --length_;
  }
}

}  // namespace vorn
