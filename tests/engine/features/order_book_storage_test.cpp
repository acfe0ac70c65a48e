#include "engine/features/order_book_storage.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "tests/engine/order_book/book_test_support.hpp"

namespace vorn {
namespace {

using book_test::dec;

OrderBook sparse() { return OrderBook::new_sparse(UpdatePolicy::Monotonic, 4).value(); }

std::vector<std::pair<Symbol, OrderBook>> books_of(std::vector<Symbol> symbols) {
  std::vector<std::pair<Symbol, OrderBook>> books;
  for (Symbol symbol : symbols) books.emplace_back(symbol, sparse());
  return books;
}

TEST(OrderBookStorage, DuplicateBookIsRefused) {
  const Symbol eth = symbols::intern("ETHUSD").value();
  auto storage = OrderBookStorage::try_new(books_of({Symbol{1}, eth, eth}));
  ASSERT_FALSE(storage.has_value());
  EXPECT_EQ(to_string(storage.error()), "more than one order book is configured for symbol ethusd");
}

TEST(OrderBookStorage, BooksBySymbolAndUnknownSymbols) {
  const Symbol missing = symbols::intern("NOBOOK").value();
  const Symbol b = symbols::intern("STOREB").value();
  const Symbol a = symbols::intern("STOREA").value();
  auto storage = OrderBookStorage::try_new(books_of({a, b})).value();
  EXPECT_EQ(storage.books().size(), 2u);
  EXPECT_EQ(storage.book(a), &storage.books()[0]);
  EXPECT_EQ(storage.book(b), &storage.books()[1]);
  EXPECT_FALSE(storage.has_book(missing));  // inside the table, no book
  EXPECT_FALSE(storage.has_book(Symbol{static_cast<std::uint16_t>(a.id + 1)}));  // past the table

  const book_test::OwnedUpdate update = book_test::snapshot(1, {{dec("1"), dec("2")}}, {});
  const auto prepared = storage.prepare_update(missing, update.view());
  ASSERT_FALSE(prepared.has_value());
  EXPECT_EQ(to_string(prepared.error()), "no order book is configured for symbol nobook");
  const auto committed = storage.commit_update(missing, PreparedUpdate{prepared::Apply{}}, update.view(), 5);
  ASSERT_FALSE(committed.has_value());
  EXPECT_EQ(to_string(committed.error()), "no order book is configured for symbol nobook");
  EXPECT_FALSE(storage.book(a)->best_bid().has_value());
  EXPECT_FALSE(storage.book(b)->best_bid().has_value());
}

TEST(OrderBookStorage, PrepareChangesNothingAndCommitReachesTheSymbolsBook) {
  const Symbol a{4};
  const Symbol b{2};
  auto storage = OrderBookStorage::try_new(books_of({a, b})).value();
  const book_test::OwnedUpdate update = book_test::snapshot(1, {{dec("10"), dec("2")}}, {{dec("11"), dec("1")}});
  const auto prepared = storage.prepare_update(b, update.view());
  ASSERT_TRUE(prepared.has_value());
  EXPECT_FALSE(storage.book(b)->best_bid().has_value());
  const auto outcome = storage.commit_update(b, *prepared, update.view(), 5);
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(*outcome, UpdateOutcome::Applied);
  EXPECT_EQ(storage.book(b)->best_bid(), (Level{dec("10"), dec("2")}));
  EXPECT_FALSE(storage.book(a)->best_bid().has_value());

  // A rejected delta returns the book's own error through the storage.
  const book_test::OwnedUpdate stale = book_test::snapshot(1, {}, {});
  const auto decision = storage.prepare_update(b, stale.view());
  ASSERT_TRUE(decision.has_value());
  const auto rejected = storage.commit_update(b, *decision, stale.view(), 6);
  ASSERT_FALSE(rejected.has_value());
  EXPECT_EQ(to_string(rejected.error()), "order-book update failed: snapshot 1 is not newer than current snapshot 1");
}

}  // namespace
}  // namespace vorn
