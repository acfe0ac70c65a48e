#include "engine/ring_buffer.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "engine/vectors.hpp"

namespace vorn {
namespace {

template <class T>
std::vector<T> contents(const HeapRingBuffer<T>& ring) {
  std::vector<T> out;
  for (std::size_t i = 0; i < ring.size(); ++i) out.push_back(ring[i]);
  return out;
}

TEST(HeapRingBuffer, EvictsOldestWhenFull) {
  auto ring = HeapRingBuffer<int>::try_new(3).value();
  EXPECT_EQ(ring.push_back(1), std::nullopt);
  EXPECT_EQ(ring.push_back(2), std::nullopt);
  EXPECT_EQ(ring.push_back(3), std::nullopt);
  EXPECT_EQ(ring.push_back(4), 1);
  EXPECT_EQ(contents(ring), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(ring.capacity(), 3u);

  auto one = HeapRingBuffer<double>::try_new(1).value();
  EXPECT_EQ(one.push_back(1.5), std::nullopt);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(one.push_back(i), i == 0 ? 1.5 : i - 1);
}

TEST(HeapRingBuffer, WrapsOverManyCycles) {
  auto ring = HeapRingBuffer<long>::try_new(7).value();
  for (long i = 0; i < 100; ++i) {
    auto evicted = ring.push_back(i);
    EXPECT_EQ(evicted.has_value(), i >= 7);
    if (evicted) {
      EXPECT_EQ(*evicted, i - 7);
    }
    EXPECT_EQ(ring.back(), i);
    EXPECT_EQ(ring[0], i < 7 ? 0 : i - 6);
  }
}

TEST(HeapRingBuffer, IteratesOldestToNewestAndMovesOut) {
  auto ring = HeapRingBuffer<int>::try_new(3).value();
  EXPECT_EQ(ring.begin(), ring.end());
  for (int i = 1; i <= 5; ++i) ring.push_back(i);
  EXPECT_EQ(std::vector<int>(ring.begin(), ring.end()), (std::vector<int>{3, 4, 5}));

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
  auto full = VecFeatureVector::new_of_length(4, 4);
  auto empty = VecFeatureVector::new_of_length(4, 0);
  for (auto* v : {&full, &empty}) {
    EXPECT_EQ(v->capacity(), 4u);
    for (double cell : v->cells()) EXPECT_EQ(cell, 0.0);
  }
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
