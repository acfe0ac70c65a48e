#include "engine/order_book/dense_book_side.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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
    const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
        {"1", 0}, {"1.0", 0}, {"1.5", 1}, {"2.50", 3}, {"3", 4}, {"3.0", 4}, {"2.25", std::nullopt},
        {"3.5", std::nullopt}, {"0.5", std::nullopt}, {"-1.0", std::nullopt},
        {"1.00000000000000000000000001", std::nullopt},
    };
    for (const auto& [price, slot] : cases) EXPECT_EQ(side.index(dec(price)), slot) << price;
    const char* prices[] = {"1", "1.5", "2", "2.5", "3"};
    for (std::uint64_t i = 0; i < 5; ++i) EXPECT_EQ(side.level_at(i), (Level{dec(prices[i]), Decimal()}));
  }
  const auto one = ladder(Side::Ask, "0.25", "7.5", "7.5");
  EXPECT_EQ(one.index(dec("7.50")), 0u);
  EXPECT_EQ(one.index(dec("7.75")), std::nullopt);
}

// Walks best first and keeps the occupied range on the nonzero slots, across
// whole empty 64-slot words.
TEST(DenseBookSide, WalksAndOccupiedRangeAcrossWords) {
  for (const Side which : {Side::Bid, Side::Ask}) {
    auto side = ladder(which, "1", "0", "999");
    EXPECT_EQ(side.occupied(), std::nullopt);
    side.update_level(dec("5"), dec("0"));  // zeroing an empty slot changes nothing
    EXPECT_EQ(side.occupied(), std::nullopt);
    for (const char* price : {"3", "64", "127", "128", "700", "999"}) side.update_level(dec(price), dec("1"));
    std::vector<std::uint64_t> expected{3, 64, 127, 128, 700, 999};
    if (which == Side::Bid) std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(walk(side), expected);
    side.update_level(dec("128"), dec("0"));  // a middle slot does not move the ends
    EXPECT_EQ(side.occupied(), (DenseBookSide::Range{3, 999}));
    side.update_level(dec("999"), dec("0"));
    side.update_level(dec("3"), dec("0.00"));
    EXPECT_EQ(side.occupied(), (DenseBookSide::Range{64, 700}));
    side.update_level(dec("700"), dec("0"));
    EXPECT_EQ(side.occupied(), (DenseBookSide::Range{64, 127}));
    side.update_level(dec("64"), dec("0"));
    side.update_level(dec("127"), dec("0"));
    EXPECT_EQ(side.occupied(), std::nullopt);
    EXPECT_TRUE(walk(side).empty());
  }
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
