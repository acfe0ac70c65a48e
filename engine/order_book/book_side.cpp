#include "engine/order_book/book_side.hpp"

#include <algorithm>

namespace vorn {

std::vector<Level>::iterator SparseBookSide::lower_bound(const Decimal& price) {
  return std::lower_bound(levels_.begin(), levels_.end(), price,
                          [&](const Level& level, const Decimal& p) { return worse(level.price, p); });
}

std::vector<Level>::const_iterator SparseBookSide::lower_bound(const Decimal& price) const {
  return std::lower_bound(levels_.begin(), levels_.end(), price,
                          [&](const Level& level, const Decimal& p) { return worse(level.price, p); });
}

void SparseBookSide::update_level(const Decimal& price, const Decimal& size) {
  const auto it = lower_bound(price);
  const bool found = it != levels_.end() && !worse(price, it->price);
  if (size.is_zero()) {
    if (found) levels_.erase(it);
  } else if (found) {
    it->size = size;
  } else {
    levels_.insert(it, Level{price, size});
  }
}

void SparseBookSide::apply_snapshot(std::span<const Level> levels) {
  if (levels.size() > levels_.capacity()) levels_.reserve(levels.size());
  levels_.clear();
  // Snapshots usually arrive sorted, best first or worst first: copy them worst
  // first so that the stable insertion sort below has little to move.
  const bool reversed = levels.size() > 1 && worse(levels.back().price, levels.front().price);
  if (reversed) {
    levels_.insert(levels_.end(), levels.rbegin(), levels.rend());
  } else {
    levels_.insert(levels_.end(), levels.begin(), levels.end());
  }
  const auto by_price = [&](const Decimal& price, const Level& level) {
    return worse(price, level.price);
  };
  for (auto it = levels_.begin(); it != levels_.end(); ++it) {
    if (it == levels_.begin() || !worse(it->price, (it - 1)->price)) continue;
    std::rotate(std::upper_bound(levels_.begin(), it, it->price, by_price), it, it + 1);
  }
  // Of equal prices the level latest in the list wins (the first of its run
  // when the list was copied reversed); a zero size leaves no level.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < levels_.size();) {
    std::size_t last = i;
    while (last + 1 < levels_.size() && !worse(levels_[i].price, levels_[last + 1].price)) ++last;
    const Level winner = levels_[reversed ? i : last];
    if (!winner.size.is_zero()) levels_[kept++] = winner;
    i = last + 1;
  }
  levels_.resize(kept);
}

void SparseBookSide::reserve_additional(std::size_t count) {
  const std::size_t needed = levels_.size() + count;
  if (needed > levels_.capacity()) levels_.reserve(std::max(needed, 2 * levels_.capacity()));
}

std::optional<Decimal> SparseBookSide::size_at(const Decimal& price) const {
  const auto it = lower_bound(price);
  if (it == levels_.end() || worse(price, it->price)) return std::nullopt;
  return it->size;
}

std::span<const Level> SparseBookSide::levels_between(const Decimal& from_price,
                                                      const Decimal& to_price) const {
  if (!(from_price < to_price)) return {};
  // Bids run by rising price, asks by falling price.
  const auto first_below = [&](const Decimal& price) {
    return std::upper_bound(levels_.begin(), levels_.end(), price,
                            [&](const Decimal& p, const Level& level) { return worse(p, level.price); });
  };
  const auto begin = side_ == Side::Bid ? lower_bound(from_price) : first_below(to_price);
  const auto end = side_ == Side::Bid ? lower_bound(to_price) : first_below(from_price);
  return {begin, end};
}

Side BookSide::side() const {
  if (const auto* form = sparse()) return form->side();
  return dense()->side();
}

bool BookSide::accepts(const Decimal& price, const Decimal& size) const {
  if (size.is_negative()) return false;
  if (sparse() != nullptr) return !price.is_negative();
  return dense()->index(price).has_value();
}

void BookSide::update_level(const Decimal& price, const Decimal& size) {
  std::visit([&](auto& form) { form.update_level(price, size); }, form_);
}

void BookSide::apply_snapshot(std::span<const Level> levels) {
  std::visit([&](auto& form) { form.apply_snapshot(levels); }, form_);
}

void BookSide::reserve_additional(std::size_t count) {
  if (auto* form = std::get_if<SparseBookSide>(&form_)) form->reserve_additional(count);
}

std::optional<Level> BookSide::best() const {
  if (const auto* form = sparse()) {
    if (form->levels().empty()) return std::nullopt;
    return form->levels().back();
  }
  const auto slot = dense()->best_slot();
  if (!slot) return std::nullopt;
  return dense()->level_at(*slot);
}

std::optional<Decimal> BookSide::size_at(const Decimal& price) const {
  if (const auto* form = sparse()) return form->size_at(price);
  const auto slot = dense()->index(price);
  if (!slot || dense()->size_at(*slot).is_zero()) return std::nullopt;
  return dense()->size_at(*slot);
}

bool LevelCursor::advance() {
  if (sparse_ != nullptr) {
    if (position_ > 0) {
      --position_;
      return true;
    }
    sparse_ = nullptr;
    return false;
  }
  if (dense_ == nullptr) return false;
  const auto slot = started_ ? dense_->next_slot(position_) : dense_->best_slot();
  started_ = true;
  if (!slot) {
    dense_ = nullptr;
    return false;
  }
  position_ = *slot;
  return true;
}

const Decimal& LevelCursor::size() const {
  if (sparse_ != nullptr) return sparse_->levels()[position_].size;
  return dense_->size_at(position_);
}

Decimal LevelCursor::price() const {
  if (sparse_ != nullptr) return sparse_->levels()[position_].price;
  return dense_->level_at(position_).price;
}

}  // namespace vorn
