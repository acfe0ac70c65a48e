#include "engine/features/order_book_storage.hpp"

#include <algorithm>
#include <expected>

namespace vorn {

Result<OrderBookStorage> OrderBookStorage::try_new(std::vector<std::pair<Symbol, OrderBook>> books) {
  constexpr std::size_t kSlotLimit = 65535;
  OrderBookStorage storage;
  std::size_t table_length = 0;
  for (const auto& entry : books) table_length = std::max(table_length, std::size_t{entry.first.id} + 1);
  storage.symbol_table_.assign(table_length, SymbolSlot{});
  storage.books_.reserve(books.size());
  for (auto& [symbol, book] : books) {
    SymbolSlot& slot = storage.symbol_table_[symbol.id];
    if (slot.present != 0) return std::unexpected(VornError{vorn_error::DuplicateOrderBook{symbol}});
    const std::size_t next = storage.books_.size();
    if (next > kSlotLimit) {
      return std::unexpected(VornError{InvalidArgumentError{
          argument_error::LimitExceeded{LimitTarget::OrderBooks, books.size(), kSlotLimit}}});
    }
    slot = SymbolSlot{1, static_cast<std::uint16_t>(next)};
    storage.books_.push_back(std::move(book));
  }
  return storage;
}

std::optional<std::size_t> OrderBookStorage::slot_of(Symbol symbol) const {
  if (symbol.id >= symbol_table_.size() || symbol_table_[symbol.id].present == 0) return std::nullopt;
  return symbol_table_[symbol.id].index;
}

const OrderBook* OrderBookStorage::book(Symbol symbol) const {
  const auto slot = slot_of(symbol);
  return slot ? &books_[*slot] : nullptr;
}

Result<PreparedUpdate> OrderBookStorage::prepare_update(Symbol symbol, const OrderBookUpdate& update) const {
  const OrderBook* found = book(symbol);
  if (found == nullptr) return std::unexpected(VornError{vorn_error::OrderBookNotConfigured{symbol}});
  return found->prepare_update(update);
}

Result<UpdateOutcome> OrderBookStorage::commit_update(Symbol symbol, const PreparedUpdate& decision,
                                                      const OrderBookUpdate& update, std::int64_t timestamp) {
  const auto slot = slot_of(symbol);
  if (!slot) return std::unexpected(VornError{vorn_error::OrderBookNotConfigured{symbol}});
  auto outcome = books_[*slot].commit_update(decision, update, timestamp);
  if (!outcome) return std::unexpected(VornError{std::move(outcome.error())});
  return *outcome;
}

}  // namespace vorn
