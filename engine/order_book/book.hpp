// OrderBook: one configured book, its two sides, and the sequencing of its
// updates in two steps (prepare_update decides without changing anything,
// commit_update carries the decision out); plus its read-only queries, which
// compute in exact decimals and report a decimal overflow instead of aborting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <variant>

#include "engine/decimal.hpp"
#include "engine/errors.hpp"
#include "engine/order_book/book_config.hpp"
#include "engine/order_book/book_side.hpp"
#include "engine/order_book/book_update.hpp"
#include "engine/order_book/replay_buffer.hpp"
#include "engine/types.hpp"

namespace vorn {

enum class BookSyncState : std::uint8_t {
  AwaitingSnapshot = 0,  // no snapshot applied yet
  Synchronized = 1,      // a snapshot was applied, no gap or overflow since
  Desynchronized = 2,    // a gap or an overflow was seen; waiting for a snapshot
};

// What committing a rejected update does besides returning the error.
enum class RejectEffect : std::uint8_t {
  Buffer = 0,                  // the delta is held for replay
  BufferAndDesynchronize = 1,  // the book loses synchronization and holds the delta
  KeepState = 2,               // nothing changes
  Desynchronize = 3,           // the book loses synchronization; the update is dropped
};

enum class UpdateOutcome : std::uint8_t { Applied = 0, Buffered = 1, Ignored = 2, Resynchronized = 3 };

namespace prepared {
struct Ignore { bool operator==(const Ignore&) const = default; };
struct Buffer { bool operator==(const Buffer&) const = default; };
struct Apply { bool operator==(const Apply&) const = default; };
struct ApplySnapshot { bool resynchronize; bool operator==(const ApplySnapshot&) const = default; };
struct Reject { RejectEffect effect; OrderBookUpdateError error; bool operator==(const Reject&) const = default; };
}  // namespace prepared

using PreparedUpdate = std::variant<prepared::Ignore, prepared::Buffer, prepared::Apply,
                                    prepared::ApplySnapshot, prepared::Reject>;

// Where a walk from the best level first reached a cumulative size.
struct DepthUntilSize {
  Decimal price_from;  // the best level's price
  Decimal price_to;    // the price of the level where the total reached the target
  Decimal total_size;  // the sizes from the best level to that one, inclusive
  friend bool operator==(const DepthUntilSize&, const DepthUntilSize&) = default;
};

// An answer that may be absent, or the overflow that stopped its arithmetic.
using DecimalAnswer = DecimalResult<std::optional<Decimal>>;

class OrderBook {
public:
  // Empty books. BufferAllocationFailed when the replay buffer's storage
  // cannot be obtained; a dense book also fails as DenseBookSide::try_new does.
  static std::expected<OrderBook, OrderBookUpdateError> new_sparse(UpdatePolicy update_policy,
                                                                  std::size_t buffer_size);
  static std::expected<OrderBook, OrderBookUpdateError> new_dense(
      UpdatePolicy update_policy, std::size_t buffer_size, const Decimal& tick_size,
      const Decimal& min_price, const Decimal& max_price);

  OrderBook(OrderBook&&) noexcept = default;
  OrderBook& operator=(OrderBook&&) noexcept = default;

  // Decides what to do with an update; changes nothing.
  PreparedUpdate prepare_update(const OrderBookUpdate& update) const;
  // Carries out a decision of prepare_update, made for this same update with
  // nothing changed in between. A rejection returns its error after its
  // effect. Throws std::bad_alloc, before anything changes, when a level
  // cannot be stored.
  std::expected<UpdateOutcome, OrderBookUpdateError> commit_update(const PreparedUpdate& prepared,
                                                                  const OrderBookUpdate& update,
                                                                  std::int64_t timestamp);

  std::optional<std::uint64_t> last_update_id() const { return last_update_id_; }
  std::optional<std::uint64_t> snapshot_update_id() const { return snapshot_update_id_; }
  std::optional<std::int64_t> last_timestamp() const { return last_timestamp_; }
  BookSyncState state() const { return state_; }
  UpdatePolicy update_policy() const { return update_policy_; }
  std::size_t buffer_size() const { return buffer_size_; }
  const BookSide& bids() const { return bids_; }
  const BookSide& asks() const { return asks_; }
  const BookSide& book_side(Side side) const { return side == Side::Bid ? bids_ : asks_; }
  const ReplayBuffer& replay_buffer() const { return replay_buffer_; }

  // ---- queries ----
  std::optional<Level> best_bid() const { return bids_.best(); }
  std::optional<Level> best_ask() const { return asks_.best(); }
  // (best bid + best ask) / 2.
  DecimalAnswer mid_price() const;
  // |best ask − best bid|.
  DecimalAnswer spread() const;
  // spread / mid × 10000; no value when the mid price is zero.
  DecimalAnswer spread_bps() const;
  // (bid price × bid size + ask price × ask size) / (bid size + ask size).
  DecimalAnswer weighted_mid_price() const;
  // (bid price × ask size + ask price × bid size) / (bid size + ask size).
  DecimalAnswer microprice() const;
  // (B − A) / (B + A) over the sizes of the first n levels of each side; no
  // value when B + A is zero.
  DecimalAnswer imbalance(std::uint64_t n_levels) const;
  // The size resting at exactly that price.
  std::optional<Decimal> level(Side side, const Decimal& price) const;
  // At most n levels of a side, best first; must not outlive a change of the book.
  TopLevels top_n(Side side, std::uint64_t n) const { return TopLevels(book_side(side), n); }
  // The sizes of the levels from the best one while they lie at or better
  // than the limit.
  DecimalResult<Decimal> depth_until_price(Side side, const Decimal& limit) const;
  // Whole levels from the best one until their total reaches the target; no
  // value for a target that is not positive or a side too thin.
  DecimalResult<std::optional<DepthUntilSize>> depth_until_total_size(Side side,
                                                                      const Decimal& target) const;
  // The sizes of the levels with from_price <= price < to_price;
  // InvalidPriceRange when from_price is not below to_price.
  DecimalResult<Result<Decimal>> volume_between_prices(Side side, const Decimal& from_price,
                                                       const Decimal& to_price) const;

private:
  OrderBook(UpdatePolicy update_policy, std::size_t buffer_size, BookSide bids, BookSide asks,
            ReplayBuffer replay_buffer)
      : bids_(std::move(bids)), asks_(std::move(asks)), replay_buffer_(std::move(replay_buffer)),
        buffer_size_(buffer_size), update_policy_(update_policy) {}

  BookSide& book_side(Side side) { return side == Side::Bid ? bids_ : asks_; }
  std::optional<OrderBookUpdateError> first_invalid_level(const OrderBookUpdate& update) const;
  PreparedUpdate decide_delta(std::uint64_t update_id) const;
  PreparedUpdate decide_snapshot(std::uint64_t update_id) const;
  void apply_changes(const OrderBookDelta& delta);
  void hold(const OrderBookDelta& delta, std::int64_t timestamp);
  void apply_delta(const OrderBookDelta& delta, std::int64_t timestamp);
  void apply_snapshot(const OrderBookSnapshot& snapshot, std::int64_t timestamp);

  std::optional<std::uint64_t> last_update_id_;
  std::optional<std::uint64_t> snapshot_update_id_;
  std::optional<std::int64_t> last_timestamp_;
  BookSide bids_;
  BookSide asks_;
  ReplayBuffer replay_buffer_;
  std::size_t buffer_size_;
  UpdatePolicy update_policy_;
  BookSyncState state_ = BookSyncState::AwaitingSnapshot;
};

}  // namespace vorn
