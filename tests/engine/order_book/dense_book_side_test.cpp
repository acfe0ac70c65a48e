#include "engine/order_book/dense_book_side.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "engine/panic.hpp"
#include "tests/engine/order_book/book_test_support.hpp"

namespace vorn {
namespace {

using book_test::dec;

DenseBookSide ladder(Side side, const char* tick, const char* min, const char* max) {
  return DenseBookSide::try_new(side, dec(tick), dec(min), dec(max)).value();
}

// The nonzero slots in walk order.
std::vector<std::uint64_t> walk(const DenseBookSide& side) {
  std::vector<std::uint64_t> slots;
  for (auto slot = side.best_slot(); slot; slot = side.next_slot(*slot)) slots.push_back(*slot);
  return slots;
}

TEST(DenseBookSide, SlotsOfAHalfTickGrid) {
  // Both a grid of mixed scales and one of uniform scale.
  for (const auto* min : {"1", "1.0"}) {
    SCOPED_TRACE(min);
    const auto side = ladder(Side::Bid, "0.5", min, "3.0");
    EXPECT_EQ(side.slot_count(), 5u);
    struct Case {
      const char* price;
      std::optional<std::uint64_t> slot;
    };
    const Case cases[] = {
        {"1", 0},   {"1.0", 0}, {"1.5", 1},           {"2", 2},
        {"2.50", 3}, {"2.5", 3}, {"3", 4},            {"3.0", 4},
        {"2.25", std::nullopt}, {"3.5", std::nullopt}, {"0.5", std::nullopt},
        {"0", std::nullopt},    {"-1", std::nullopt},  {"-1.0", std::nullopt},
        {"1.00000000000000000000000001", std::nullopt},
    };
    for (const Case& c : cases) {
      EXPECT_EQ(side.index(dec(c.price)), c.slot) << c.price;
    }
    const char* prices[] = {"1", "1.5", "2", "2.5", "3"};
    for (std::uint64_t i = 0; i < 5; ++i) {
      const Level level = side.level_at(i);
      EXPECT_EQ(level.price, dec(prices[i]));
      EXPECT_TRUE(level.size.is_zero());
    }
  }
}

TEST(DenseBookSide, OneSlotWhenMinEqualsMax) {
  const auto side = ladder(Side::Ask, "0.25", "7.5", "7.5");
  EXPECT_EQ(side.slot_count(), 1u);
  EXPECT_EQ(side.level_at(0).price, dec("7.5"));
  EXPECT_EQ(side.index(dec("7.50")), 0u);
  EXPECT_EQ(side.index(dec("7.75")), std::nullopt);
}

TEST(DenseBookSide, OccupiedRangeFollowsTheNonzeroSlots) {
  auto side = ladder(Side::Bid, "1", "0", "9");
  EXPECT_EQ(side.occupied(), std::nullopt);
  side.update_level(dec("1"), dec("2"));
  side.update_level(dec("3"), dec("4"));
  EXPECT_EQ(side.occupied(), (DenseBookSide::Range{1, 3}));
  side.update_level(dec("3"), dec("0"));
  EXPECT_EQ(side.occupied(), (DenseBookSide::Range{1, 1}));
  side.update_level(dec("1"), dec("0.00"));
  EXPECT_EQ(side.occupied(), std::nullopt);
  // Zeroing an empty slot of an empty ladder changes nothing.
  side.update_level(dec("5"), dec("0"));
  EXPECT_EQ(side.occupied(), std::nullopt);

  // A middle slot does not move the ends; an end moves inward to the next level.
  for (const char* price : {"2", "5", "8"}) side.update_level(dec(price), dec("1"));
  side.update_level(dec("5"), dec("0"));
  EXPECT_EQ(side.occupied(), (DenseBookSide::Range{2, 8}));
  side.update_level(dec("8"), dec("0"));
  EXPECT_EQ(side.occupied(), (DenseBookSide::Range{2, 2}));
  side.update_level(dec("9"), dec("1.5"));
  EXPECT_EQ(side.occupied(), (DenseBookSide::Range{2, 9}));
  side.update_level(dec("2"), dec("0"));
  EXPECT_EQ(side.occupied(), (DenseBookSide::Range{9, 9}));
  EXPECT_EQ(side.size_at(9), dec("1.5"));
  EXPECT_TRUE(side.size_at(2).is_zero());
}

TEST(DenseBookSide, WalksBestFirstOverEmptySlotsAcrossWords) {
  for (const Side which : {Side::Bid, Side::Ask}) {
    auto side = ladder(which, "1", "0", "999");
    for (const char* price : {"3", "64", "127", "128", "700", "999"}) {
      side.update_level(dec(price), dec("1"));
    }
    const std::vector<std::uint64_t> ascending{3, 64, 127, 128, 700, 999};
    std::vector<std::uint64_t> expected = ascending;
    if (which == Side::Bid) expected.assign(ascending.rbegin(), ascending.rend());
    EXPECT_EQ(walk(side), expected);

    // Emptying the two ends scans inward across whole empty words.
    side.update_level(dec("999"), dec("0"));
    side.update_level(dec("3"), dec("0"));
    EXPECT_EQ(side.occupied(), (DenseBookSide::Range{64, 700}));
    side.update_level(dec("700"), dec("0"));
    side.update_level(dec("128"), dec("0"));
    EXPECT_EQ(side.occupied(), (DenseBookSide::Range{64, 127}));
  }
}

TEST(DenseBookSide, SnapshotReplacesEveryLevel) {
  auto side = ladder(Side::Ask, "0.5", "1", "3");
  side.update_level(dec("1"), dec("1"));
  side.update_level(dec("3"), dec("2"));
  const std::vector<Level> levels{
      {dec("2"), dec("5")}, {dec("1.5"), dec("0")}, {dec("2.5"), dec("7")}, {dec("2.5"), dec("8")}};
  side.apply_snapshot(levels);
  EXPECT_EQ(side.occupied(), (DenseBookSide::Range{2, 3}));
  EXPECT_EQ(walk(side), (std::vector<std::uint64_t>{2, 3}));
  EXPECT_EQ(side.size_at(3), dec("8"));  // the later level at a price wins
  EXPECT_TRUE(side.size_at(0).is_zero());
  EXPECT_TRUE(side.size_at(4).is_zero());
  side.apply_snapshot({});
  EXPECT_EQ(side.occupied(), std::nullopt);
  EXPECT_TRUE(walk(side).empty());
}

TEST(DenseBookSide, OffGridMutationIsABrokenInvariant) {
  auto side = ladder(Side::Bid, "0.5", "1", "3");
  for (const char* price : {"1.25", "3.5", "0"}) {
    try {
      side.update_level(dec(price), dec("1"));
      FAIL() << "an off-grid update must abort: " << price;
    } catch (const Panic& panic) {
      EXPECT_EQ(panic.message(), "dense level must be validated before mutation");
    }
  }
  EXPECT_EQ(side.occupied(), std::nullopt);
}

}  // namespace
}  // namespace vorn
