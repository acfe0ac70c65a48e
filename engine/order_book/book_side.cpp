#include "engine/order_book/book_side.hpp"

namespace vorn {

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
    if (form->empty()) return std::nullopt;
    return form->best();
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
    if (at_ != sparse_->begin()) {
      sparse_->step_back(at_);
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
  if (sparse_ != nullptr) return sparse_->level_at(at_).size;
  return dense_->size_at(position_);
}

Decimal LevelCursor::price() const {
  if (sparse_ != nullptr) return sparse_->level_at(at_).price;
  return dense_->level_at(position_).price;
}

}  // namespace vorn
