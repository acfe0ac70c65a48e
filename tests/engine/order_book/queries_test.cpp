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

// The same queries over every storage: a sparse book, a dense ladder whose
// bounds and tick share one scale, and one whose scales differ (so that zero
// slots lie between the levels in both).
enum class Storage { Sparse, DenseUniformScale, DenseMixedScale };

OrderBook make_book(Storage storage) {
  switch (storage) {
    case Storage::Sparse: return OrderBook::new_sparse(UpdatePolicy::Monotonic, 4).value();
    case Storage::DenseUniformScale:
      return OrderBook::new_dense(UpdatePolicy::Monotonic, 4, dec("0.5"), dec("0.0"), dec("150.0")).value();
    case Storage::DenseMixedScale:
      return OrderBook::new_dense(UpdatePolicy::Monotonic, 4, dec("0.25"), dec("0"), dec("150.00")).value();
  }
  return OrderBook::new_sparse(UpdatePolicy::Monotonic, 4).value();
}

class OrderBookQueries : public ::testing::TestWithParam<Storage> {
protected:
  // Applies one snapshot to a fresh book of the storage under test.
  OrderBook book_with(std::vector<Level> bids, std::vector<Level> asks) {
    OrderBook book = make_book(GetParam());
    const auto outcome = apply(book, snapshot(1, std::move(bids), std::move(asks)), 1);
    EXPECT_TRUE(outcome.has_value());
    return book;
  }
  // Bids 99 (4) and 98 (1); asks 100 (2), 101 (3) and 103 (5).
  OrderBook example() {
    return book_with({{dec("98"), dec("1")}, {dec("99"), dec("4")}},
                     {{dec("103"), dec("5")}, {dec("100"), dec("2")}, {dec("101"), dec("3")}});
  }
};

// Expected values are hand computed; a no-value answer reads "none".
using book_test::text;

// One query: its name, its answer as text, the hand-computed answer.
struct QueryCase {
  const char* query;
  std::string got;
  const char* expected;
};

TEST_P(OrderBookQueries, ExampleBook) {
  const OrderBook book = example();
  const QueryCase cases[] = {
      {"best_bid", text(book.best_bid()), "99 4"},
      {"best_ask", text(book.best_ask()), "100 2"},
      {"mid_price", text(book.mid_price()), "99.5"},
      {"spread", text(book.spread()), "1"},
      {"spread_bps", text(book.spread_bps()), "100.502512562814070351758794"},
      {"weighted_mid_price", text(book.weighted_mid_price()), "99.33333333333333333333333333"},
      {"microprice", text(book.microprice()), "99.66666666666666666666666667"},
      {"imbalance(1)", text(book.imbalance(1)), "0.3333333333333333333333333333"},
      {"imbalance(2)", text(book.imbalance(2)), "0"},
      {"imbalance(3)", text(book.imbalance(3)), "-0.3333333333333333333333333333"},
      {"imbalance(10)", text(book.imbalance(10)), "-0.3333333333333333333333333333"},
      {"imbalance(0)", text(book.imbalance(0)), "none"},
      {"depth_until_price(Ask, 101)", text(book.depth_until_price(Side::Ask, dec("101"))), "5"},
      {"depth_until_price(Ask, 99)", text(book.depth_until_price(Side::Ask, dec("99"))), "0"},
      {"depth_until_price(Bid, 98)", text(book.depth_until_price(Side::Bid, dec("98"))), "5"},
      {"depth_until_price(Bid, 98.5)", text(book.depth_until_price(Side::Bid, dec("98.5"))), "4"},
      {"depth_until_price(Bid, 99.5)", text(book.depth_until_price(Side::Bid, dec("99.5"))), "0"},
      {"depth_until_total_size(Ask, 4)", text(book.depth_until_total_size(Side::Ask, dec("4"))), "100 101 5"},
      {"depth_until_total_size(Ask, 2)", text(book.depth_until_total_size(Side::Ask, dec("2"))), "100 100 2"},
      {"depth_until_total_size(Ask, 10)", text(book.depth_until_total_size(Side::Ask, dec("10"))), "100 103 10"},
      {"depth_until_total_size(Ask, 11)", text(book.depth_until_total_size(Side::Ask, dec("11"))), "none"},
      {"depth_until_total_size(Ask, 0)", text(book.depth_until_total_size(Side::Ask, dec("0"))), "none"},
      {"depth_until_total_size(Bid, -1)", text(book.depth_until_total_size(Side::Bid, dec("-1"))), "none"},
      {"depth_until_total_size(Bid, 4.5)", text(book.depth_until_total_size(Side::Bid, dec("4.5"))), "99 98 5"},
      {"volume_between_prices(Ask, 100, 103)", text(book.volume_between_prices(Side::Ask, dec("100"), dec("103"))), "5"},
      {"volume_between_prices(Ask, 100, 103.5)", text(book.volume_between_prices(Side::Ask, dec("100"), dec("103.5"))), "10"},
      {"volume_between_prices(Bid, 98, 99)", text(book.volume_between_prices(Side::Bid, dec("98"), dec("99"))), "1"},
      {"volume_between_prices(Bid, 90, 110)", text(book.volume_between_prices(Side::Bid, dec("90"), dec("110"))), "5"},
      {"volume_between_prices(Ask, 101.5, 102.5)", text(book.volume_between_prices(Side::Ask, dec("101.5"), dec("102.5"))), "0"},
      {"volume_between_prices(Bid, 99, 99)", text(book.volume_between_prices(Side::Bid, dec("99"), dec("99"))), "range 99 99"},
      {"level(Ask, 101.0)", text(book.level(Side::Ask, dec("101.0"))), "3"},
      {"level(Ask, 102)", text(book.level(Side::Ask, dec("102"))), "none"},
      {"level(Bid, 100)", text(book.level(Side::Bid, dec("100"))), "none"},
      {"level(Bid, 98.00)", text(book.level(Side::Bid, dec("98.00"))), "1"},
      {"level(Ask, 101.1) off the grid", text(book.level(Side::Ask, dec("101.1"))), "none"},
      {"level(Ask, 500) outside the ladder", text(book.level(Side::Ask, dec("500"))), "none"},
  };
  for (const QueryCase& c : cases) EXPECT_EQ(c.got, c.expected) << c.query;
}

TEST_P(OrderBookQueries, TopLevelsStopAfterN) {
  const OrderBook book = example();
  TopLevels two = book.top_n(Side::Ask, 2);
  EXPECT_EQ(two.next(), (Level{dec("100"), dec("2")}));
  EXPECT_EQ(two.next(), (Level{dec("101"), dec("3")}));
  EXPECT_EQ(two.next(), std::nullopt);
  EXPECT_EQ(two.next(), std::nullopt);
  EXPECT_EQ(book_test::all_levels(book, Side::Ask),
            (std::vector<Level>{{dec("100"), dec("2")}, {dec("101"), dec("3")}, {dec("103"), dec("5")}}));
  EXPECT_EQ(book_test::all_levels(book, Side::Bid),
            (std::vector<Level>{{dec("99"), dec("4")}, {dec("98"), dec("1")}}));
  EXPECT_EQ(book.top_n(Side::Bid, 0).next(), std::nullopt);
}

TEST_P(OrderBookQueries, EmptySidesCrossedLockedAndZeroBooks) {
  const Level bid99{dec("99"), dec("4")};
  const Level bid98{dec("98"), dec("1")};
  const Level ask100{dec("100"), dec("2")};
  const OrderBook bids_only = book_with({bid99, bid98}, {});
  const OrderBook asks_only = book_with({}, {ask100});
  const OrderBook empty = book_with({}, {});
  const OrderBook crossed = book_with({{dec("101"), dec("1")}}, {ask100});
  const OrderBook locked = book_with({{dec("100"), dec("1")}}, {ask100});
  const OrderBook zero = book_with({{dec("0"), dec("1")}}, {{dec("0.0"), dec("3")}});
  const QueryCase cases[] = {
      {"bids only: best_ask", text(bids_only.best_ask()), "none"},
      {"bids only: mid_price", text(bids_only.mid_price()), "none"},
      {"bids only: spread", text(bids_only.spread()), "none"},
      {"bids only: spread_bps", text(bids_only.spread_bps()), "none"},
      {"bids only: weighted_mid_price", text(bids_only.weighted_mid_price()), "none"},
      {"bids only: microprice", text(bids_only.microprice()), "none"},
      {"bids only: imbalance(1)", text(bids_only.imbalance(1)), "1"},
      {"bids only: imbalance(7)", text(bids_only.imbalance(7)), "1"},
      {"bids only: depth_until_price(Ask)", text(bids_only.depth_until_price(Side::Ask, dec("120"))), "0"},
      {"bids only: volume_between_prices(Ask)",
       text(bids_only.volume_between_prices(Side::Ask, dec("0"), dec("150"))), "0"},
      {"bids only: depth_until_total_size(Ask)",
       text(bids_only.depth_until_total_size(Side::Ask, dec("1"))), "none"},
      {"asks only: best_bid", text(asks_only.best_bid()), "none"},
      {"asks only: imbalance(3)", text(asks_only.imbalance(3)), "-1"},
      {"empty: imbalance(1)", text(empty.imbalance(1)), "none"},
      {"empty: best_bid", text(empty.best_bid()), "none"},
      {"empty: depth_until_price(Bid)", text(empty.depth_until_price(Side::Bid, dec("0"))), "0"},
      {"crossed: spread", text(crossed.spread()), "1"},
      {"crossed: mid_price", text(crossed.mid_price()), "100.5"},
      {"locked: spread", text(locked.spread()), "0"},
      {"locked: spread_bps", text(locked.spread_bps()), "0"},
      {"zero: mid_price", text(zero.mid_price()), "0"},
      {"zero: spread_bps", text(zero.spread_bps()), "none"},
      {"zero: weighted_mid_price", text(zero.weighted_mid_price()), "0"},
  };
  for (const QueryCase& c : cases) EXPECT_EQ(c.got, c.expected) << c.query;
}

// Sizes that valid input can carry overflow the sums and products of the
// queries: the overflow comes back as an answer with the decimal library's
// text, and the book is unchanged.
TEST_P(OrderBookQueries, OverflowIsAnAnswerNotAnAbort) {
  const OrderBook book = book_with({{dec("1"), dec("40000000000000000000000000000")},
                                    {dec("0.5"), dec("40000000000000000000000000000")}},
                                   {{dec("2"), dec("40000000000000000000000000000")}});
  const QueryCase cases[] = {
      {"weighted_mid_price", text(book.weighted_mid_price()), "Multiplication overflowed"},
      {"microprice", text(book.microprice()), "Multiplication overflowed"},
      {"imbalance(1)", text(book.imbalance(1)), "Addition overflowed"},
      {"imbalance(2)", text(book.imbalance(2)), "Addition overflowed"},
      {"depth_until_price", text(book.depth_until_price(Side::Bid, dec("0"))), "Addition overflowed"},
      {"depth_until_total_size",
       text(book.depth_until_total_size(Side::Bid, dec("50000000000000000000000000000"))), "Addition overflowed"},
      {"volume_between_prices",
       text(book.volume_between_prices(Side::Bid, dec("0"), dec("2"))), "Addition overflowed"},
      // Answers that do not overflow are still given.
      {"mid_price", text(book.mid_price()), "1.5"},
      {"depth_until_price one level", text(book.depth_until_price(Side::Bid, dec("1"))), "40000000000000000000000000000"},
  };
  for (const QueryCase& c : cases) EXPECT_EQ(c.got, c.expected) << c.query;
  EXPECT_EQ(text(book.best_bid()), "1 40000000000000000000000000000");
  EXPECT_EQ(book_test::all_levels(book, Side::Bid).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Storages, OrderBookQueries,
                         ::testing::Values(Storage::Sparse, Storage::DenseUniformScale,
                                           Storage::DenseMixedScale),
                         [](const auto& info) {
                           switch (info.param) {
                             case Storage::Sparse: return std::string("Sparse");
                             case Storage::DenseUniformScale: return std::string("DenseUniformScale");
                             case Storage::DenseMixedScale: return std::string("DenseMixedScale");
                           }
                           return std::string("Unknown");
                         });

// Prices far beyond any dense ladder: only a sparse book holds them.
TEST(OrderBookQueriesSparse, OverflowOfLargePrices) {
  auto book = OrderBook::new_sparse(UpdatePolicy::Monotonic, 0).value();
  ASSERT_TRUE(apply(book,
                    snapshot(1, {{dec("50000000000000000000000000000"), dec("1")}},
                             {{dec("50000000000000000000000000001"), dec("1")}}),
                    1)
                  .has_value());
  EXPECT_EQ(text(book.mid_price()), "Addition overflowed");
  EXPECT_EQ(text(book.spread_bps()), "Addition overflowed");
  EXPECT_EQ(text(book.spread()), "1");

  auto wide = OrderBook::new_sparse(UpdatePolicy::Monotonic, 0).value();
  ASSERT_TRUE(apply(wide,
                    snapshot(1, {{dec("1000000000000000"), dec("100000000000000")}},
                             {{dec("1000000000000001"), dec("100000000000000")}}),
                    1)
                  .has_value());
  EXPECT_EQ(text(wide.weighted_mid_price()), "Multiplication overflowed");
  EXPECT_EQ(text(wide.microprice()), "Multiplication overflowed");
  EXPECT_EQ(text(wide.mid_price()), "1000000000000000.5");
}

}  // namespace
}  // namespace vorn
