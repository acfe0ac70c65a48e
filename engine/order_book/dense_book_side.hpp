// DenseBookSide: one side of a book as a ladder of size slots on a fixed tick
// grid. Slot storage is obtained once, zero-filled by the allocator; an
// occupancy bitmap lets walks step over empty slots a word at a time, and the
// occupied range gives the best level without a scan.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <expected>
#include <memory>
#include <optional>
#include <span>

#include "engine/decimal.hpp"
#include "engine/errors.hpp"
#include "engine/order_book/book_update.hpp"
#include "engine/types.hpp"

namespace vorn {

class DenseBookSide {
public:
  // Lowest and highest nonzero slot; every nonzero slot lies between them.
  struct Range {
    std::uint64_t low;
    std::uint64_t high;
    friend bool operator==(const Range&, const Range&) = default;
  };

  // An empty ladder over the grid: InvalidDenseConfiguration for a bad grid,
  // DenseCapacityExceeded when its storage cannot be obtained.
  static std::expected<DenseBookSide, OrderBookUpdateError> try_new(
      Side side, const Decimal& tick_size, const Decimal& min_price, const Decimal& max_price);

  DenseBookSide(DenseBookSide&&) noexcept = default;
  DenseBookSide& operator=(DenseBookSide&&) noexcept = default;

  Side side() const { return side_; }
  const Decimal& tick_size() const { return tick_size_; }
  const Decimal& min_price() const { return min_price_; }
  const Decimal& max_price() const { return max_price_; }
  std::uint64_t slot_count() const { return count_; }
  std::optional<Range> occupied() const { return occupied_; }

  // The slot of an exact grid price inside [min_price, max_price].
  std::optional<std::uint64_t> index(const Decimal& price) const;
  // The price of slot i and its stored size (zero when empty); i < slot_count().
  Level level_at(std::uint64_t i) const;
  const Decimal& size_at(std::uint64_t i) const { return levels_[i]; }

  // Sets the size at a grid price; zero empties the slot. An off-grid price is
  // a broken invariant (levels are validated before they reach a side).
  void update_level(const Decimal& price, const Decimal& size);
  // Empties every slot, then sets the levels in list order.
  void apply_snapshot(std::span<const Level> levels);

  // The best slot (top of the range for bids, bottom for asks), if any.
  std::optional<std::uint64_t> best_slot() const;
  // The next nonzero slot after `slot` in best-first order, if any.
  std::optional<std::uint64_t> next_slot(std::uint64_t slot) const;

private:
  template <class T>
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };

  DenseBookSide(Side side, const Decimal& tick_size, const Decimal& min_price,
                const Decimal& max_price, std::uint64_t count, Decimal* levels,
                std::uint64_t* bits)
      : levels_(levels), bits_(bits), count_(count), tick_size_(tick_size),
        min_price_(min_price), max_price_(max_price), side_(side) {}

  // The first nonzero slot in [from, to] searching upward, or in [to, from]
  // searching downward.
  std::optional<std::uint64_t> first_up(std::uint64_t from, std::uint64_t to) const;
  std::optional<std::uint64_t> first_down(std::uint64_t from, std::uint64_t to) const;

  std::unique_ptr<Decimal[], Free<Decimal>> levels_;
  std::unique_ptr<std::uint64_t[], Free<std::uint64_t>> bits_;  // one bit per nonzero slot
  std::uint64_t count_ = 0;
  std::optional<Range> occupied_;
  Decimal tick_size_;
  Decimal min_price_;
  Decimal max_price_;
  Side side_;
};

}  // namespace vorn
