#include "engine/order_book/book_side.hpp"

#include <gtest/gtest.h>

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
