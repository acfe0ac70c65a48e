#include "engine/ring_buffer.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "engine/vectors.hpp"

namespace vorn {
namespace {

// Pushing evicts the oldest once full; iteration and indexing run oldest to
// newest, across many wraps and for a single slot.
TEST(HeapRingBuffer, EvictsOldestAndWrapsOverManyCycles) {
  for (const long capacity : {1, 7}) {
    auto ring = HeapRingBuffer<long>::try_new(static_cast<std::size_t>(capacity)).value();
    EXPECT_EQ(ring.begin(), ring.end());
    for (long i = 0; i < 100; ++i) {
      const auto evicted = ring.push_back(i);
      EXPECT_EQ(evicted, i >= capacity ? std::optional<long>(i - capacity) : std::nullopt);
      EXPECT_EQ(ring.back(), i);
      EXPECT_EQ(ring[0], i < capacity ? 0 : i - capacity + 1);
    }
    std::vector<long> expected;
    for (long i = 100 - capacity; i < 100; ++i) expected.push_back(i);
    EXPECT_EQ(std::vector<long>(ring.begin(), ring.end()), expected);
    EXPECT_EQ(ring.capacity(), static_cast<std::size_t>(capacity));
  }
}

TEST(HeapRingBuffer, MovesOutLeavingAnEmptyBuffer) {
  auto ring = HeapRingBuffer<int>::try_new(3).value();
  for (int i = 1; i <= 5; ++i) ring.push_back(i);
  auto moved = std::move(ring);
  EXPECT_EQ(std::vector<int>(moved.begin(), moved.end()), (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(ring.size(), 0u);  // NOLINT(bugprone-use-after-move): the moved-from state is specified
  EXPECT_EQ(ring.capacity(), 0u);
  EXPECT_EQ(ring.begin(), ring.end());
  auto vector = VecFeatureVector::new_of_length(3, 2);
  auto moved_vector = std::move(vector);
  EXPECT_EQ(moved_vector.capacity(), 3u);
  EXPECT_EQ(vector.capacity(), 0u);  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(vector.cells().empty());
}

TEST(HeapRingBuffer, RefusesImpossibleStorageAndZeroCapacity) {
  EXPECT_FALSE(HeapRingBuffer<double>::try_new(static_cast<std::size_t>(-1)).has_value());
  EXPECT_FALSE(HeapRingBuffer<double>::try_new(std::size_t{1} << 62).has_value());
  try {
    (void)HeapRingBuffer<int>::try_new(0);
    FAIL() << "capacity 0 must abort";
  } catch (const Panic& panic) {
    EXPECT_EQ(panic.message(), "Ring buffer size must be greater than 0");
  }
}

TEST(VecFeatureVector, LengthsAndReservedCells) {
  auto empty = VecFeatureVector::new_of_length(4, 0);
  EXPECT_EQ(empty.capacity(), 4u);
  EXPECT_EQ(empty.cells().size(), 4u);
  for (double cell : empty.cells()) EXPECT_EQ(cell, 0.0);
  EXPECT_EQ(empty.active().size(), 0u);
  empty.set_value_at(3, 2.5);  // a reserved cell
  EXPECT_EQ(empty.value_at(3), 2.5);
  EXPECT_THROW(empty.set_value_at(4, 1.0), Panic);
  try {
    (void)VecFeatureVector::new_of_length(4, 5);
    FAIL() << "length above capacity must abort";
  } catch (const Panic& panic) {
    EXPECT_EQ(panic.message(), "assertion failed: length <= capacity");
  }
  EXPECT_FALSE(VecFeatureVector::try_new_of_length(std::size_t{1} << 44, 0).has_value());
}

}  // namespace
}  // namespace vorn
