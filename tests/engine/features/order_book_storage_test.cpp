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
  EXPECT_EQ(storage, std::unexpected(VornError(vorn_error::DuplicateOrderBook{eth})));
}

// Updates reach the symbol's own book (prepare changing nothing) and return
// its errors; a symbol without a book, inside or past the table, is an error.
TEST(OrderBookStorage, UpdatesReachTheSymbolsBook) {
  const Symbol missing = symbols::intern("NOBOOK").value();
  const Symbol b = symbols::intern("STOREB").value();
  const Symbol a = symbols::intern("STOREA").value();
  auto storage = OrderBookStorage::try_new(books_of({a, b})).value();
  EXPECT_EQ(storage.book(a), &storage.books()[0]);
  EXPECT_EQ(storage.book(b), &storage.books()[1]);
  EXPECT_FALSE(storage.has_book(missing));
  EXPECT_FALSE(storage.has_book(Symbol{static_cast<std::uint16_t>(a.id + 1)}));

  const book_test::OwnedUpdate update = book_test::snapshot(1, {{dec("10"), dec("2")}}, {});
  const VornError not_configured = vorn_error::OrderBookNotConfigured{missing};
  EXPECT_EQ(storage.prepare_update(missing, update.view()), std::unexpected(not_configured));
  EXPECT_EQ(storage.commit_update(missing, PreparedUpdate{prepared::Apply{}}, update.view(), 5),
            std::unexpected(not_configured));
  const auto prepared = storage.prepare_update(b, update.view());
  ASSERT_TRUE(prepared.has_value());
  EXPECT_FALSE(storage.book(b)->best_bid().has_value());
  EXPECT_EQ(storage.commit_update(b, *prepared, update.view(), 5), UpdateOutcome::Applied);
  EXPECT_EQ(storage.book(b)->best_bid(), (Level{dec("10"), dec("2")}));
  EXPECT_FALSE(storage.book(a)->best_bid().has_value());
  const auto stale = storage.commit_update(b, storage.prepare_update(b, update.view()).value(), update.view(), 6);
  EXPECT_EQ(stale, std::unexpected(VornError(OrderBookUpdateError(book_error::StaleSnapshot{1, 1}))));
}

}  // namespace
}  // namespace vorn
