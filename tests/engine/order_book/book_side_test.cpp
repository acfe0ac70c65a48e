#include "engine/order_book/book_side.hpp"

#include <gtest/gtest.h>

#include "tests/engine/order_book/book_test_support.hpp"

namespace vorn {
namespace {

using book_test::dec;

// Which levels each storage accepts (the model test covers the rest of the
// sides through whole books).
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
