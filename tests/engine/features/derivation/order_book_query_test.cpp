#include "engine/features/derivation/order_book_query.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/panic.hpp"
#include "tests/engine/features/derivation/derivation_test_support.hpp"
#include "tests/engine/order_book/book_test_support.hpp"

namespace vorn {
namespace {

using namespace derivation_test;
using book_test::dec;
using K = OrderBookQueryKind;

constexpr Symbol kS{1};

OrderBook book_with(std::vector<Level> bids, std::vector<Level> asks) {
  OrderBook book = OrderBook::new_sparse(UpdatePolicy::Monotonic, 4).value();
  EXPECT_TRUE(book_test::apply(book, book_test::snapshot(1, std::move(bids), std::move(asks)), 1).has_value());
  return book;
}

// Bids 99 (4), 98 (1); asks 100 (2), 101 (3), 103 (5).
OrderBook example() {
  return book_with({{dec("99"), dec("4")}, {dec("98"), dec("1")}},
                   {{dec("100"), dec("2")}, {dec("101"), dec("3")}, {dec("103"), dec("5")}});
}

struct Query {
  K kind;
  Side side = Side::Bid;
  const char* first = "0";
  const char* second = "0";
  std::uint64_t n_levels = 0;
};

// Evaluates one single-output query into cell 1 of three, with a second
// output in cell 2; both get the same value and their flags.
double evaluate(const OrderBook& book, const Query& q) {
  const OrderBookQueryFeature feature =
      built(order_book_query::build(kS, q.kind, q.side, dec(q.first), dec(q.second), q.n_levels, {}));
  Cells cells(3);
  OutputSink sink(cells.values, cells.flags);
  feature.evaluate(book, 1, 2, sink);
  EXPECT_EQ(cells.flags, (std::vector<std::uint8_t>{0, 1, 1}));
  const auto values = cells.cells();
  EXPECT_EQ(values[0], kUntouched);
  EXPECT_TRUE(values[1] == values[2] || (std::isnan(values[1]) && std::isnan(values[2])));
  return values[1];
}

struct Case {
  Query query;
  double expected;
};

void expect_queries(const OrderBook& book, const std::vector<Case>& cases, const std::string& name) {
  for (std::size_t i = 0; i < cases.size(); ++i) {
    expect_cells({evaluate(book, cases[i].query)}, {cases[i].expected}, name + " case " + std::to_string(i));
  }
}

// Each kind asks its query of the book (whose answers order_book/ tests); no
// value and an invalid range give NaN.
TEST(OrderBookQueryFeature, EveryKindOverASmallBook) {
  expect_queries(example(),
                 {
                     {{K::LevelSize, Side::Bid, "98.00"}, 1.0},
                     {{K::LevelSize, Side::Ask, "102"}, kNaN},
                     {{K::NthPrice, Side::Bid, "0", "0", 2}, 98.0},
                     {{K::NthPrice, Side::Bid, "0", "0", 3}, kNaN},
                     {{K::NthPrice, Side::Ask, "0", "0", 0}, kNaN},
                     {{K::NthSize, Side::Ask, "0", "0", 3}, 5.0},
                     {{K::DepthUntilPrice, Side::Ask, "101"}, 5.0},
                     {{K::DepthUntilSizePriceFrom, Side::Bid, "4.5"}, 99.0},
                     {{K::DepthUntilSizePriceTo, Side::Bid, "4.5"}, 98.0},
                     {{K::DepthUntilSizeTotalSize, Side::Bid, "4.5"}, 5.0},
                     {{K::DepthUntilSizeTotalSize, Side::Bid, "6"}, kNaN},
                     {{K::VolumeBetweenPrices, Side::Bid, "98", "99.5"}, 5.0},
                     {{K::VolumeBetweenPrices, Side::Ask, "103", "100"}, kNaN},
                     {{K::BestBidPrice}, 99.0},
                     {{K::BestBidSize}, 4.0},
                     {{K::BestAskPrice}, 100.0},
                     {{K::BestAskSize}, 2.0},
                     {{K::MidPrice}, 99.5},
                     {{K::Spread}, 1.0},
                     {{K::SpreadBps}, 20000.0 / 199.0},
                     {{K::WeightedMidPrice}, 298.0 / 3.0},  // (99 × 4 + 100 × 2) / 6
                     {{K::Microprice}, 299.0 / 3.0},        // (99 × 2 + 100 × 4) / 6
                 },
                 "example");
  expect_queries(book_with({{dec("99"), dec("4")}}, {}), {{{K::BestAskSize}, kNaN}, {{K::MidPrice}, kNaN}},
                 "bids only");
}

// Two bid sizes of 2^95: their sum, 2^96, overflows the 96-bit coefficient.
// The feature has no value; the evaluation goes on.
TEST(OrderBookQueryFeature, OverflowGivesNoValue) {
  const char* kHalf = "39614081257132168796771975168";
  const OrderBook book = book_with({{dec("2"), dec(kHalf)}, {dec("1"), dec(kHalf)}}, {{dec("3"), dec("1")}});
  expect_queries(book,
                 {
                     {{K::DepthUntilPrice, Side::Bid, "0"}, kNaN},
                     {{K::VolumeBetweenPrices, Side::Bid, "0", "10"}, kNaN},
                     {{K::WeightedMidPrice}, kNaN},
                     {{K::BestBidSize}, 39614081257132168796771975168.0},
                     {{K::MidPrice}, 2.5},
                 },
                 "overflow");
  const OrderBookQueryFeature imbalance =
      built(order_book_query::build(kS, K::Imbalance, Side::Bid, Decimal{}, Decimal{}, 0, {{1, 2}}));
  Cells cells(2);
  OutputSink sink(cells.values, cells.flags);
  imbalance.evaluate(book, 0, 2, sink);
  // Depth 1: (2^95 - 1) / (2^95 + 1), 1.0 as a float; depth 2 overflows.
  expect_cells(cells.cells(), {1.0, kNaN}, "imbalance");
  EXPECT_EQ(cells.flags, (std::vector<std::uint8_t>{1, 1}));
}

TEST(OrderBookQueryFeature, ImbalanceOutputsUseTheirOwnDepths) {
  const OrderBookQueryFeature feature =
      built(order_book_query::build(kS, K::Imbalance, Side::Bid, Decimal{}, Decimal{}, 0, {{1, 5, 10}}));
  FeatureDerivation derivation = feature;
  ASSERT_NE(derivation.order_book_query(), nullptr);
  Cells cells(5);
  // Events change nothing: book features follow the book.
  cells.apply(derivation, snapshot_event(kS, 1), 1, 4);
  EXPECT_EQ(cells.flags, std::vector<std::uint8_t>(5, 0));
  OutputSink sink(cells.values, cells.flags);
  derivation.order_book_query()->evaluate(example(), 1, 4, sink);
  // Depth 1: (4 - 2) / 6; depth 5 and 10: (5 - 10) / 15; a fourth output has no depth.
  expect_cells(cells.cells(), {kUntouched, 1.0 / 3.0, -1.0 / 3.0, -1.0 / 3.0, kNaN}, "imbalance");
  EXPECT_EQ(cells.flags, (std::vector<std::uint8_t>{0, 1, 1, 1, 1}));
}

TEST(OrderBookQueryFeature, KindsAndBuilder) {
  EXPECT_EQ(query_kind_of(FeatureKeyTag::OrderBookLevelSize), K::LevelSize);
  EXPECT_EQ(query_kind_of(FeatureKeyTag::OrderBookImbalance), K::Imbalance);
  EXPECT_THROW((void)query_kind_of(FeatureKeyTag::Field), Panic);
  const auto too_many = order_book_query::build(kS, K::Imbalance, Side::Bid, Decimal{}, Decimal{}, 0,
                                                std::vector<std::uint64_t>(17, 1));
  ASSERT_FALSE(too_many.has_value());
  EXPECT_EQ(message(too_many.error()), "invalid argument: maximum number of windows (16) reached");
  EXPECT_EQ(FeatureDerivation(DayOfWeekFeature{}).order_book_query(), nullptr);
}

}  // namespace
}  // namespace vorn
