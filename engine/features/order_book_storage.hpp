// OrderBookStorage: the configured order books by symbol, forwarding the two
// phases of a book update (prepare without change, then commit) to the
// symbol's book.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "engine/errors.hpp"
#include "engine/features/event_router.hpp"
#include "engine/order_book/book.hpp"
#include "engine/symbols.hpp"

namespace vorn {

class OrderBookStorage {
public:
  // Takes the books in configuration order. DuplicateOrderBook for a second
  // book of one symbol; LimitExceeded beyond 65536 books.
  static Result<OrderBookStorage> try_new(std::vector<std::pair<Symbol, OrderBook>> books);

  // The symbol's book; none when it has no book.
  const OrderBook* book(Symbol symbol) const;
  bool has_book(Symbol symbol) const { return book(symbol) != nullptr; }

  // The book's decision for an update, changing nothing; OrderBookNotConfigured
  // when the symbol has no book.
  Result<PreparedUpdate> prepare_update(Symbol symbol, const OrderBookUpdate& update) const;
  // Carries out a decision of prepare_update; OrderBookNotConfigured (the
  // update discarded) when the symbol has no book, the book's error otherwise.
  Result<UpdateOutcome> commit_update(Symbol symbol, const PreparedUpdate& decision,
                                      const OrderBookUpdate& update, std::int64_t timestamp);

  std::span<const SymbolSlot> symbol_table() const { return symbol_table_; }
  std::span<const OrderBook> books() const { return books_; }

private:
  std::optional<std::size_t> slot_of(Symbol symbol) const;

  std::vector<SymbolSlot> symbol_table_;  // index: the symbol's slot in books_
  std::vector<OrderBook> books_;
};

}  // namespace vorn
