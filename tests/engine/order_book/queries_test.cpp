// The queries on hand-computed books over every storage; book_model_test.cpp
// compares them with a model on random books.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/order_book/book.hpp"
#include "tests/engine/order_book/book_test_support.hpp"

namespace vorn {
namespace {

using book_test::apply;
using book_test::dec;
using book_test::snapshot;
using book_test::text;

// A sparse book, a dense ladder whose bounds and tick share one scale, and
// one whose scales differ (so that zero slots lie between the levels in both).
enum class Storage { Sparse, DenseUniformScale, DenseMixedScale };

class OrderBookQueries : public ::testing::TestWithParam<Storage> {
protected:
  // One snapshot applied to a fresh book of the storage under test.
  OrderBook book_with(std::vector<Level> bids, std::vector<Level> asks) {
    const auto policy = UpdatePolicy::Monotonic;
    OrderBook book = GetParam() == Storage::Sparse ? OrderBook::new_sparse(policy, 4).value()
                     : GetParam() == Storage::DenseUniformScale
                         ? OrderBook::new_dense(policy, 4, dec("0.5"), dec("0.0"), dec("150.0")).value()
                         : OrderBook::new_dense(policy, 4, dec("0.25"), dec("0"), dec("150.00")).value();
    EXPECT_TRUE(apply(book, snapshot(1, std::move(bids), std::move(asks)), 1).has_value());
    return book;
  }
};

// One query: its name, its answer as text ("none" for no value), the
// hand-computed answer.
struct QueryCase {
  const char* query;
  std::string got;
  const char* expected;
};

TEST_P(OrderBookQueries, ExampleBook) {
  // Bids 99 (4) and 98 (1); asks 100 (2), 101 (3) and 103 (5), given unsorted.
  const OrderBook book = book_with({{dec("98"), dec("1")}, {dec("99"), dec("4")}},
                                   {{dec("103"), dec("5")}, {dec("100"), dec("2")}, {dec("101"), dec("3")}});
  const auto ask = Side::Ask, bid = Side::Bid;
  const QueryCase cases[] = {
      {"mid_price", text(book.mid_price()), "99.5"},
      {"spread_bps", text(book.spread_bps()), "100.502512562814070351758794"},
      {"weighted_mid_price", text(book.weighted_mid_price()), "99.33333333333333333333333333"},
      {"microprice", text(book.microprice()), "99.66666666666666666666666667"},
      {"imbalance(1)", text(book.imbalance(1)), "0.3333333333333333333333333333"},
      {"imbalance(0)", text(book.imbalance(0)), "none"},
      {"depth_until_price(Bid, 98.5)", text(book.depth_until_price(bid, dec("98.5"))), "4"},
      {"depth_until_price(Bid, 99.5)", text(book.depth_until_price(bid, dec("99.5"))), "0"},
      {"depth_until_total_size(Ask, 4)", text(book.depth_until_total_size(ask, dec("4"))), "100 101 5"},
      {"depth_until_total_size(Ask, 0)", text(book.depth_until_total_size(ask, dec("0"))), "none"},
      {"volume_between_prices(Ask, 100, 103)", text(book.volume_between_prices(ask, dec("100"), dec("103"))), "5"},
      {"volume_between_prices(Bid, 99, 99)", text(book.volume_between_prices(bid, dec("99"), dec("99"))),
       "range 99 99"},
      {"level(Ask, 101.0)", text(book.level(ask, dec("101.0"))), "3"},
      {"level(Ask, 101.1) off the grid", text(book.level(ask, dec("101.1"))), "none"},
      {"level(Ask, 500) outside the ladder", text(book.level(ask, dec("500"))), "none"},
  };
  for (const QueryCase& c : cases) EXPECT_EQ(c.got, c.expected) << c.query;

  TopLevels two = book.top_n(ask, 2);
  EXPECT_EQ(text(two.next()), "100 2");
  EXPECT_EQ(text(two.next()), "101 3");
  EXPECT_EQ(two.next(), std::nullopt);
  EXPECT_EQ(two.next(), std::nullopt);
  EXPECT_EQ(book.top_n(bid, 0).next(), std::nullopt);
}

TEST_P(OrderBookQueries, OneSidedLockedAndZeroBooks) {
  const OrderBook bids_only = book_with({{dec("99"), dec("4")}}, {});
  const OrderBook locked = book_with({{dec("100"), dec("1")}}, {{dec("100"), dec("2")}});
  const OrderBook zero = book_with({{dec("0"), dec("1")}}, {{dec("0.0"), dec("3")}});
  const QueryCase cases[] = {
      {"bids only: mid_price", text(bids_only.mid_price()), "none"},
      {"bids only: imbalance(7)", text(bids_only.imbalance(7)), "1"},
      {"locked: spread_bps", text(locked.spread_bps()), "0"},
      {"zero: spread_bps", text(zero.spread_bps()), "none"},
      {"zero: weighted_mid_price", text(zero.weighted_mid_price()), "0"},
  };
  for (const QueryCase& c : cases) EXPECT_EQ(c.got, c.expected) << c.query;
}

// Sizes that valid input can carry overflow the sums and products of the
// queries: the overflow comes back as an answer with the decimal library's
// text, and the book is unchanged.
TEST_P(OrderBookQueries, OverflowIsAnAnswerNotAnAbort) {
  const Decimal big = dec("40000000000000000000000000000");
  const OrderBook book = book_with({{dec("1"), big}, {dec("0.5"), big}}, {{dec("2"), big}});
  const QueryCase cases[] = {
      {"weighted_mid_price", text(book.weighted_mid_price()), "Multiplication overflowed"},
      {"microprice", text(book.microprice()), "Multiplication overflowed"},
      {"imbalance(1)", text(book.imbalance(1)), "Addition overflowed"},
      {"depth_until_price", text(book.depth_until_price(Side::Bid, dec("0"))), "Addition overflowed"},
      {"depth_until_total_size",
       text(book.depth_until_total_size(Side::Bid, dec("50000000000000000000000000000"))), "Addition overflowed"},
      {"volume_between_prices", text(book.volume_between_prices(Side::Bid, dec("0"), dec("2"))),
       "Addition overflowed"},
      {"mid_price", text(book.mid_price()), "1.5"},
      {"depth_until_price one level", text(book.depth_until_price(Side::Bid, dec("1"))),
       "40000000000000000000000000000"},
  };
  for (const QueryCase& c : cases) EXPECT_EQ(c.got, c.expected) << c.query;
  EXPECT_EQ(book_test::all_levels(book, Side::Bid).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Storages, OrderBookQueries,
                         ::testing::Values(Storage::Sparse, Storage::DenseUniformScale, Storage::DenseMixedScale));

// Prices far beyond any dense ladder: only a sparse book holds them.
TEST(OrderBookQueriesSparse, OverflowOfLargePrices) {
  const auto book = [](const char* bid, const char* ask, const char* size) {
    auto made = OrderBook::new_sparse(UpdatePolicy::Monotonic, 0).value();
    EXPECT_TRUE(apply(made, snapshot(1, {{dec(bid), dec(size)}}, {{dec(ask), dec(size)}}), 1).has_value());
    return made;
  };
  const OrderBook high = book("50000000000000000000000000000", "50000000000000000000000000001", "1");
  EXPECT_EQ(text(high.mid_price()), "Addition overflowed");
  EXPECT_EQ(text(high.spread_bps()), "Addition overflowed");
  EXPECT_EQ(text(high.spread()), "1");
  const OrderBook wide = book("1000000000000000", "1000000000000001", "100000000000000");
  EXPECT_EQ(text(wide.weighted_mid_price()), "Multiplication overflowed");
  EXPECT_EQ(text(wide.microprice()), "Multiplication overflowed");
  EXPECT_EQ(text(wide.mid_price()), "1000000000000000.5");
}

}  // namespace
}  // namespace vorn
