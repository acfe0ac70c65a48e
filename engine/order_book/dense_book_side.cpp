#include "engine/order_book/dense_book_side.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <type_traits>

#include "engine/order_book/book_config.hpp"
#include "engine/panic.hpp"

namespace vorn {

// Slots come from a zeroed allocation: all-zero bytes are the decimal zero.
static_assert(std::is_trivially_copyable_v<Decimal> && std::is_trivially_destructible_v<Decimal>);

std::expected<DenseBookSide, OrderBookUpdateError> DenseBookSide::try_new(
    Side side, const Decimal& tick_size, const Decimal& min_price, const Decimal& max_price) {
  const auto count = DenseBookConfig{tick_size, min_price, max_price}.level_count();
  if (!count) return std::unexpected(count.error());
  const std::unexpected<OrderBookUpdateError> exceeded(book_error::DenseCapacityExceeded{});
  if (*count > std::numeric_limits<std::size_t>::max() / sizeof(Decimal)) return exceeded;
  const std::size_t words = *count / 64 + (*count % 64 != 0);
  std::unique_ptr<Decimal[], Free<Decimal>> levels(
      static_cast<Decimal*>(std::calloc(*count, sizeof(Decimal))));
  std::unique_ptr<std::uint64_t[], Free<std::uint64_t>> bits(
      static_cast<std::uint64_t*>(std::calloc(words, sizeof(std::uint64_t))));
  if (levels == nullptr || bits == nullptr) return exceeded;
  return DenseBookSide(side, tick_size, min_price, max_price, *count, levels.release(),
                       bits.release());
}

std::optional<std::uint64_t> DenseBookSide::index(const Decimal& price) const {
  using u128 = Decimal::u128;
  // Same scale throughout: the grid arithmetic is exact integer arithmetic.
  if (price.scale() == tick_size_.scale() && price.scale() == min_price_.scale()) {
    if (price.is_negative()) return std::nullopt;
    const u128 p = price.coefficient();
    const u128 m = min_price_.coefficient();
    const u128 t = tick_size_.coefficient();
    if (p < m || p % t != 0) return std::nullopt;
    const u128 i = (p - m) / t;
    if (i >= count_) return std::nullopt;
    return static_cast<std::uint64_t>(i);
  }
  if (price < min_price_ || price > max_price_) return std::nullopt;
  const auto remainder = price.checked_rem(tick_size_);
  if (!remainder || !remainder->is_zero()) return std::nullopt;
  const auto offset = price.checked_sub(min_price_);
  if (!offset) return std::nullopt;
  const auto steps = offset->checked_div(tick_size_);
  const auto i = steps ? steps->to_u64() : std::nullopt;
  if (!i || *i >= count_) return std::nullopt;
  return i;
}

Level DenseBookSide::level_at(std::uint64_t i) const {
  using u128 = Decimal::u128;
  if (min_price_.scale() == tick_size_.scale()) {
    u128 offset = 0;
    const bool wide = __builtin_mul_overflow(static_cast<u128>(i), tick_size_.coefficient(), &offset);
    if (!wide) {
      const u128 coefficient = min_price_.coefficient() + offset;
      if (coefficient >= offset) {
        if (auto price = Decimal::from_parts(coefficient, min_price_.scale(), false)) {
          return Level{*price, levels_[i]};
        }
      }
    }
  }
  const auto offset = Decimal::from_parts(i, 0, false)->checked_mul(tick_size_);
  const auto price = offset ? min_price_.checked_add(*offset) : offset;
  if (!price) panic(std::string(fault_text(price.error())));
  return Level{*price, levels_[i]};
}

void DenseBookSide::update_level(const Decimal& price, const Decimal& size) {
  const auto slot = index(price);
  if (!slot) panic("dense level must be validated before mutation");
  const std::uint64_t i = *slot;
  const std::uint64_t bit = std::uint64_t{1} << (i % 64);
  if (!size.is_zero()) {
    levels_[i] = size;
    bits_[i / 64] |= bit;
    occupied_ = occupied_ ? Range{std::min(occupied_->low, i), std::max(occupied_->high, i)}
                          : Range{i, i};
    return;
  }
  levels_[i] = Decimal{};
  bits_[i / 64] &= ~bit;
  if (!occupied_ || (i != occupied_->low && i != occupied_->high)) return;
  // An end was emptied: scan inward from the ends for the new ones.
  const auto low = first_up(occupied_->low, occupied_->high);
  if (!low) {
    occupied_.reset();
    return;
  }
  occupied_ = Range{*low, *first_down(occupied_->high, *low)};
}

void DenseBookSide::apply_snapshot(std::span<const Level> levels) {
  if (occupied_) {
    for (auto slot = first_up(occupied_->low, occupied_->high); slot;
         slot = *slot == occupied_->high ? std::nullopt : first_up(*slot + 1, occupied_->high)) {
      levels_[*slot] = Decimal{};
    }
    const std::uint64_t first_word = occupied_->low / 64;
    std::memset(bits_.get() + first_word, 0,
                (occupied_->high / 64 - first_word + 1) * sizeof(std::uint64_t));
    occupied_.reset();
  }
  for (const Level& level : levels) update_level(level.price, level.size);
}

std::optional<std::uint64_t> DenseBookSide::best_slot() const {
  if (!occupied_) return std::nullopt;
  return side_ == Side::Bid ? occupied_->high : occupied_->low;
}

std::optional<std::uint64_t> DenseBookSide::next_slot(std::uint64_t slot) const {
  if (!occupied_) return std::nullopt;
  if (side_ == Side::Bid) {
    if (slot <= occupied_->low) return std::nullopt;
    return first_down(slot - 1, occupied_->low);
  }
  if (slot >= occupied_->high) return std::nullopt;
  return first_up(slot + 1, occupied_->high);
}

std::optional<std::uint64_t> DenseBookSide::first_up(std::uint64_t from, std::uint64_t to) const {
  std::uint64_t word_index = from / 64;
  std::uint64_t word = bits_[word_index] & (~std::uint64_t{0} << (from % 64));
  while (true) {
    if (word != 0) {
      const std::uint64_t i = word_index * 64 + static_cast<std::uint64_t>(std::countr_zero(word));
      if (i > to) return std::nullopt;
      return i;
    }
    if (word_index == to / 64) return std::nullopt;
    word = bits_[++word_index];
  }
}

std::optional<std::uint64_t> DenseBookSide::first_down(std::uint64_t from, std::uint64_t to) const {
  std::uint64_t word_index = from / 64;
  std::uint64_t word = bits_[word_index] & (~std::uint64_t{0} >> (63 - from % 64));
  while (true) {
    if (word != 0) {
      const std::uint64_t i =
          word_index * 64 + 63 - static_cast<std::uint64_t>(std::countl_zero(word));
      if (i < to) return std::nullopt;
      return i;
    }
    if (word_index == to / 64) return std::nullopt;
    word = bits_[--word_index];
  }
}

}  // namespace vorn
