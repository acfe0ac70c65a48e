// One side of an order book: a sparse side (an ordered map of levels) or a
// dense ladder, behind one tagged union; and the cursors that walk a side best
// first without allocating.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

#include "engine/decimal.hpp"
#include "engine/order_book/book_update.hpp"
#include "engine/order_book/dense_book_side.hpp"
#include "engine/order_book/sparse_book_side.hpp"
#include "engine/types.hpp"

namespace vorn {

class BookSide {
public:
  using Form = std::variant<SparseBookSide, DenseBookSide>;

  explicit BookSide(SparseBookSide sparse) : form_(std::move(sparse)) {}
  explicit BookSide(DenseBookSide dense) : form_(std::move(dense)) {}

  Side side() const;
  const SparseBookSide* sparse() const { return std::get_if<SparseBookSide>(&form_); }
  const DenseBookSide* dense() const { return std::get_if<DenseBookSide>(&form_); }

  // Whether a level may change this side: a sparse side takes any price and
  // size that are not negative; a dense side a grid price and a size that is
  // not negative.
  bool accepts(const Decimal& price, const Decimal& size) const;
  void update_level(const Decimal& price, const Decimal& size);
  void apply_snapshot(std::span<const Level> levels);
  // Room for `count` more levels (a dense ladder never grows).
  void reserve_additional(std::size_t count);

  std::optional<Level> best() const;
  // The size resting at exactly that price.
  std::optional<Decimal> size_at(const Decimal& price) const;

private:
  Form form_;
};

// Walks a side best first, one level at a time; empty slots of a ladder are
// stepped over. Must not outlive a change of the side.
class LevelCursor {
public:
  explicit LevelCursor(const BookSide& side) : sparse_(side.sparse()), dense_(side.dense()) {
    if (sparse_ != nullptr) at_ = sparse_->end();
  }

  // Moves to the next level; false at the end of the side.
  bool advance();
  const Decimal& size() const;
  // Computed on a ladder, so read only when needed.
  Decimal price() const;
  Level level() const { return Level{price(), size()}; }

private:
  const SparseBookSide* sparse_;
  const DenseBookSide* dense_;
  SparseBookSide::Position at_{};  // sparse: the current level
  std::uint64_t position_ = 0;      // dense: the current slot
  bool started_ = false;
};

// At most n levels of a side, best first.
class TopLevels {
public:
  TopLevels(const BookSide& side, std::uint64_t n) : cursor_(side), remaining_(n) {}

  std::optional<Level> next() {
    if (remaining_ == 0 || !cursor_.advance()) return std::nullopt;
    --remaining_;
    return cursor_.level();
  }

private:
  LevelCursor cursor_;
  std::uint64_t remaining_;
};

}  // namespace vorn
