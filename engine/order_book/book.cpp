#include "engine/order_book/book.hpp"

#include <utility>

#include "engine/panic.hpp"

namespace vorn {

namespace {

// Adds a delta's changes per side to the two counts.
void count_changes(const OrderBookDelta& delta, std::size_t& bids, std::size_t& asks) {
  for (const LevelUpdate& change : delta.updates) ++(change.side == Side::Bid ? bids : asks);
}

[[noreturn]] void mismatched_update() {
  unreachable("prepared update must be committed with the update it describes");
}

}  // namespace

std::expected<OrderBook, OrderBookUpdateError> OrderBook::new_sparse(UpdatePolicy update_policy,
                                                                     std::size_t buffer_size) {
  auto replay_buffer = ReplayBuffer::try_new(buffer_size);
  if (!replay_buffer) return std::unexpected(book_error::BufferAllocationFailed{buffer_size});
  return OrderBook(update_policy, buffer_size, BookSide(SparseBookSide(Side::Bid)),
                   BookSide(SparseBookSide(Side::Ask)), std::move(*replay_buffer));
}

std::expected<OrderBook, OrderBookUpdateError> OrderBook::new_dense(
    UpdatePolicy update_policy, std::size_t buffer_size, const Decimal& tick_size,
    const Decimal& min_price, const Decimal& max_price) {
  auto bids = DenseBookSide::try_new(Side::Bid, tick_size, min_price, max_price);
  if (!bids) return std::unexpected(bids.error());
  auto asks = DenseBookSide::try_new(Side::Ask, tick_size, min_price, max_price);
  if (!asks) return std::unexpected(asks.error());
  auto replay_buffer = ReplayBuffer::try_new(buffer_size);
  if (!replay_buffer) return std::unexpected(book_error::BufferAllocationFailed{buffer_size});
  return OrderBook(update_policy, buffer_size, BookSide(std::move(*bids)),
                   BookSide(std::move(*asks)), std::move(*replay_buffer));
}

// ---- prepare ----------------------------------------------------------------

std::optional<OrderBookUpdateError> OrderBook::first_invalid_level(
    const OrderBookUpdate& update) const {
  const auto check = [&](Side side, const Decimal& price,
                         const Decimal& size) -> std::optional<OrderBookUpdateError> {
    if (book_side(side).accepts(price, size)) return std::nullopt;
    return book_error::InvalidUpdate{side, price, size};
  };
  if (const auto* delta = std::get_if<OrderBookDelta>(&update)) {
    for (const LevelUpdate& change : delta->updates) {
      if (auto error = check(change.side, change.price, change.size)) return error;
    }
    return std::nullopt;
  }
  const auto& snapshot = std::get<OrderBookSnapshot>(update);
  for (const Level& level : snapshot.bids) {
    if (auto error = check(Side::Bid, level.price, level.size)) return error;
  }
  for (const Level& level : snapshot.asks) {
    if (auto error = check(Side::Ask, level.price, level.size)) return error;
  }
  return std::nullopt;
}

PreparedUpdate OrderBook::prepare_update(const OrderBookUpdate& update) const {
  if (auto error = first_invalid_level(update)) {
    return prepared::Reject{RejectEffect::KeepState, std::move(*error)};
  }
  if (const auto* delta = std::get_if<OrderBookDelta>(&update)) return decide_delta(delta->update_id);
  return decide_snapshot(std::get<OrderBookSnapshot>(update).update_id);
}

PreparedUpdate OrderBook::decide_delta(std::uint64_t id) const {
  const std::size_t held = replay_buffer_.size();
  const bool contiguous = update_policy_ == UpdatePolicy::Contiguous;
  const prepared::Reject overflow{RejectEffect::Desynchronize,
                                  book_error::BufferCapacityExceeded{held}};
  if (held > 0) {
    const std::uint64_t newest = replay_buffer_.newest_id();
    if (id <= newest) return prepared::Ignore{};
    if (contiguous && id != newest + 1) {
      if (held == buffer_size_) return overflow;
      const RejectEffect effect = state_ == BookSyncState::Synchronized
                                      ? RejectEffect::BufferAndDesynchronize
                                      : RejectEffect::Buffer;
      return prepared::Reject{effect, book_error::SequenceGap{newest + 1, id}};
    }
  }
  if (state_ != BookSyncState::Synchronized) {
    if (held == buffer_size_) return overflow;
    return prepared::Buffer{};
  }
  const std::uint64_t last = last_update_id_.value_or(0);
  if (id <= last) return prepared::Ignore{};
  if (held == buffer_size_) return overflow;
  if (contiguous && id != last + 1) {
    return prepared::Reject{RejectEffect::BufferAndDesynchronize,
                            book_error::SequenceGap{last + 1, id}};
  }
  return prepared::Apply{};
}

PreparedUpdate OrderBook::decide_snapshot(std::uint64_t id) const {
  if (snapshot_update_id_ && id <= *snapshot_update_id_) {
    return prepared::Reject{RejectEffect::KeepState,
                            book_error::StaleSnapshot{*snapshot_update_id_, id}};
  }
  if (update_policy_ == UpdatePolicy::Contiguous) {
    // The held deltas newer than the snapshot must continue it without a gap.
    std::uint64_t previous = id;
    for (std::size_t i = 0; i < replay_buffer_.size(); ++i) {
      const std::uint64_t held_id = replay_buffer_[i].delta.update_id;
      if (held_id <= id) continue;
      if (held_id != previous + 1) {
        return prepared::Reject{RejectEffect::KeepState,
                                book_error::SnapshotHistoryGap{id, previous + 1, held_id}};
      }
      previous = held_id;
    }
  }
  return prepared::ApplySnapshot{state_ == BookSyncState::Desynchronized};
}

// ---- commit -----------------------------------------------------------------

std::expected<UpdateOutcome, OrderBookUpdateError> OrderBook::commit_update(
    const PreparedUpdate& decision, const OrderBookUpdate& update, std::int64_t timestamp) {
  const auto* delta = std::get_if<OrderBookDelta>(&update);
  const auto delta_or_abort = [&]() -> const OrderBookDelta& {
    if (delta == nullptr) mismatched_update();
    return *delta;
  };
  switch (decision.index()) {
    case 0:  // Ignore
      delta_or_abort();
      return UpdateOutcome::Ignored;
    case 1:  // Buffer
      hold(delta_or_abort(), timestamp);
      return UpdateOutcome::Buffered;
    case 2:  // Apply
      apply_delta(delta_or_abort(), timestamp);
      return UpdateOutcome::Applied;
    case 3: {  // ApplySnapshot
      const auto* snapshot = std::get_if<OrderBookSnapshot>(&update);
      if (snapshot == nullptr) mismatched_update();
      apply_snapshot(*snapshot, timestamp);
      return std::get<prepared::ApplySnapshot>(decision).resynchronize
                 ? UpdateOutcome::Resynchronized
                 : UpdateOutcome::Applied;
    }
    default: {
      const auto& reject = std::get<prepared::Reject>(decision);
      switch (reject.effect) {
        case RejectEffect::Buffer:
          hold(delta_or_abort(), timestamp);
          break;
        case RejectEffect::BufferAndDesynchronize:
          hold(delta_or_abort(), timestamp);
          state_ = BookSyncState::Desynchronized;
          break;
        case RejectEffect::KeepState:
          break;
        case RejectEffect::Desynchronize:
          state_ = BookSyncState::Desynchronized;
          break;
      }
      return std::unexpected(reject.error);
    }
  }
}

void OrderBook::apply_changes(const OrderBookDelta& delta) {
  for (const LevelUpdate& change : delta.updates) {
    book_side(change.side).update_level(change.price, change.size);
  }
}

void OrderBook::hold(const OrderBookDelta& delta, std::int64_t timestamp) {
  replay_buffer_.push_back(delta, timestamp);
}

void OrderBook::apply_delta(const OrderBookDelta& delta, std::int64_t timestamp) {
  // Every allocation comes first, so that a failure changes nothing.
  std::size_t bid_changes = 0;
  std::size_t ask_changes = 0;
  count_changes(delta, bid_changes, ask_changes);
  bids_.reserve_additional(bid_changes);
  asks_.reserve_additional(ask_changes);
  replay_buffer_.reserve_next(delta.updates.size());

  apply_changes(delta);
  last_update_id_ = delta.update_id;
  last_timestamp_ = timestamp;
  hold(delta, timestamp);
}

void OrderBook::apply_snapshot(const OrderBookSnapshot& snapshot, std::int64_t timestamp) {
  const std::uint64_t id = snapshot.update_id;
  // Every allocation comes first, so that a failure changes nothing.
  std::size_t bid_levels = snapshot.bids.size();
  std::size_t ask_levels = snapshot.asks.size();
  for (std::size_t i = 0; i < replay_buffer_.size(); ++i) {
    const auto entry = replay_buffer_[i];
    if (entry.delta.update_id > id) count_changes(entry.delta, bid_levels, ask_levels);
  }
  bids_.reserve_additional(bid_levels);
  asks_.reserve_additional(ask_levels);

  bids_.apply_snapshot(snapshot.bids);
  asks_.apply_snapshot(snapshot.asks);
  last_update_id_ = id;
  snapshot_update_id_ = id;
  last_timestamp_ = timestamp;
  // The held deltas up to the snapshot are covered by it; the newer ones are
  // replayed and stay held.
  replay_buffer_.drop_through(id);
  for (std::size_t i = 0; i < replay_buffer_.size(); ++i) {
    const auto entry = replay_buffer_[i];
    apply_changes(entry.delta);
    last_update_id_ = entry.delta.update_id;
    last_timestamp_ = entry.timestamp;
  }
  state_ = BookSyncState::Synchronized;
}

}  // namespace vorn
