#include "engine/order_book/book_side.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/engine/order_book/book_test_support.hpp"

namespace vorn {
namespace {

using book_test::dec;

std::vector<Level> walk(const BookSide& side) {
  std::vector<Level> levels;
  for (LevelCursor cursor(side); cursor.advance();) levels.push_back(cursor.level());
  return levels;
}

std::vector<Decimal> prices(const std::vector<Level>& levels) {
  std::vector<Decimal> out;
  for (const Level& level : levels) out.push_back(level.price);
  return out;
}

TEST(SparseBookSide, OrdersBidsDownAndAsksUp) {
  for (const Side side : {Side::Bid, Side::Ask}) {
    BookSide book_side{SparseBookSide(side)};
    for (const char* price : {"10", "12", "11"}) book_side.update_level(dec(price), dec("1"));
    const std::vector<Decimal> bids_first{dec("12"), dec("11"), dec("10")};
    const std::vector<Decimal> asks_first{dec("10"), dec("11"), dec("12")};
    EXPECT_EQ(prices(walk(book_side)), side == Side::Bid ? bids_first : asks_first);
    EXPECT_EQ(book_side.best()->price, side == Side::Bid ? dec("12") : dec("10"));
  }
}

TEST(SparseBookSide, UpdatesReplaceAndRemoveByValue) {
  BookSide side{SparseBookSide(Side::Bid)};
  side.update_level(dec("10"), dec("1"));
  side.update_level(dec("11"), dec("2"));
  side.update_level(dec("12.50"), dec("0"));  // no level there: nothing changes
  EXPECT_EQ(walk(side), (std::vector<Level>{{dec("11"), dec("2")}, {dec("10"), dec("1")}}));
  side.update_level(dec("10.0"), dec("3"));  // the same price, another scale
  EXPECT_EQ(walk(side), (std::vector<Level>{{dec("11"), dec("2")}, {dec("10"), dec("3")}}));
  EXPECT_EQ(side.size_at(dec("10.000")), dec("3"));
  side.update_level(dec("11.00"), dec("-0"));
  EXPECT_EQ(walk(side), (std::vector<Level>{{dec("10"), dec("3")}}));
  EXPECT_EQ(side.size_at(dec("11")), std::nullopt);
}

// A snapshot equals applying its levels one by one to an empty side: zero
// sizes add nothing and the later of two equal prices wins. Checked against a
// std::map over lists in every order, with duplicates and zeros.
TEST(SparseBookSide, SnapshotMatchesLevelByLevelApplication) {
  std::mt19937_64 random(7);
  for (int round = 0; round < 400; ++round) {
    const Side which = round % 2 == 0 ? Side::Bid : Side::Ask;
    const int length = static_cast<int>(random() % 12);
    std::vector<Level> levels;
    for (int i = 0; i < length; ++i) {
      const int tick = static_cast<int>(random() % 8);
      // Equal prices at different scales; some zero sizes.
      const std::string price = std::to_string(100 + tick) + (random() % 2 ? ".0" : "");
      const std::string size = random() % 4 == 0 ? "0" : std::to_string(1 + random() % 9);
      levels.push_back({dec(price), dec(size)});
    }
    switch (round % 4) {  // sorted either way, or as generated
      case 1: std::sort(levels.begin(), levels.end(), [](auto& a, auto& b) { return a.price < b.price; }); break;
      case 2: std::sort(levels.begin(), levels.end(), [](auto& a, auto& b) { return b.price < a.price; }); break;
      default: break;
    }
    std::map<Decimal, Decimal> model;
    for (const Level& level : levels) {
      if (level.size.is_zero()) model.erase(level.price);
      else model[level.price] = level.size;
    }
    std::vector<Level> expected;
    for (const auto& [price, size] : model) expected.push_back({price, size});
    if (which == Side::Bid) std::reverse(expected.begin(), expected.end());

    BookSide side{SparseBookSide(which)};
    side.update_level(dec("1"), dec("1"));  // replaced by the snapshot
    side.apply_snapshot(levels);
    ASSERT_EQ(walk(side), expected) << "round " << round;
  }
}

TEST(SparseBookSide, LevelsBetweenIsHalfOpen) {
  for (const Side which : {Side::Bid, Side::Ask}) {
    SparseBookSide side(which);
    for (const char* price : {"98", "99", "100", "101", "103"}) side.update_level(dec(price), dec("1"));
    struct Case {
      const char* from;
      const char* to;
      std::vector<Decimal> inside;  // worst first
    };
    const std::vector<Case> cases{
        {"99", "101", {dec("99"), dec("100")}},
        {"98.5", "103", {dec("99"), dec("100"), dec("101")}},
        {"0", "1000", {dec("98"), dec("99"), dec("100"), dec("101"), dec("103")}},
        {"101.5", "102.5", {}},
        {"100", "100", {}},
        {"101", "99", {}},
    };
    for (const Case& c : cases) {
      std::vector<Decimal> got;
      for (const Level& level : side.levels_between(dec(c.from), dec(c.to))) got.push_back(level.price);
      std::vector<Decimal> expected = c.inside;
      if (which == Side::Ask) std::reverse(expected.begin(), expected.end());
      EXPECT_EQ(got, expected) << c.from << " " << c.to;
    }
  }
}

TEST(BookSide, AcceptsNonNegativeLevelsOnItsGrid) {
  const BookSide sparse{SparseBookSide(Side::Ask)};
  const BookSide dense{DenseBookSide::try_new(Side::Ask, dec("0.5"), dec("1"), dec("3")).value()};
  struct Case {
    const char* price;
    const char* size;
    bool sparse_accepts;
    bool dense_accepts;
  };
  const Case cases[] = {
      {"2", "1", true, true},       {"2", "0", true, true},       {"2", "-0", true, true},
      {"2", "-1", false, false},    {"-1", "1", false, false},    {"-0", "1", true, false},
      {"2.25", "1", true, false},   {"3.5", "1", true, false},    {"0", "0", true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sparse.accepts(dec(c.price), dec(c.size)), c.sparse_accepts) << c.price << " " << c.size;
    EXPECT_EQ(dense.accepts(dec(c.price), dec(c.size)), c.dense_accepts) << c.price << " " << c.size;
  }
}

}  // namespace
}  // namespace vorn
