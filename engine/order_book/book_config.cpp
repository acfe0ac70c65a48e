#include "engine/order_book/book_config.hpp"

#include <limits>

#include "engine/order_book/book.hpp"
#include "engine/panic.hpp"

namespace vorn {

std::string_view json_word(UpdatePolicy policy) {
  switch (policy) {
    case UpdatePolicy::Monotonic: return "monotonic";
    case UpdatePolicy::Contiguous: return "contiguous";
  }
  unreachable("update policy");
}

std::string_view debug_name(UpdatePolicy policy) {
  switch (policy) {
    case UpdatePolicy::Monotonic: return "Monotonic";
    case UpdatePolicy::Contiguous: return "Contiguous";
  }
  unreachable("update policy");
}

std::expected<std::uint64_t, OrderBookUpdateError> DenseBookConfig::level_count() const {
  const std::unexpected<OrderBookUpdateError> invalid(
      book_error::InvalidDenseConfiguration{tick_size, min_price, max_price});
  if (!tick_size.is_positive() || min_price.is_negative() || max_price < min_price) return invalid;
  // Both bounds lie on the grid of multiples of the tick.
  for (const Decimal* bound : {&min_price, &max_price}) {
    const auto remainder = bound->checked_rem(tick_size);
    if (!remainder || !remainder->is_zero()) return invalid;
  }
  const auto width = max_price.checked_sub(min_price);
  if (!width) return invalid;
  const auto steps = width->checked_div(tick_size);
  const auto n = steps ? steps->to_u64() : std::nullopt;
  if (!n || *n == std::numeric_limits<std::uint64_t>::max()) return invalid;
  // The top step of the grid must come out exactly (it fails only when the
  // arithmetic has to round).
  if (*n != 0) {
    const auto below_top = max_price.checked_sub(tick_size);
    if (!below_top) return invalid;
    const auto top_step = max_price.checked_sub(*below_top);
    if (!top_step || *top_step != tick_size) return invalid;
  }
  return *n + 1;
}

std::expected<OrderBook, OrderBookUpdateError> OrderBookConfig::build() const {
  if (!dense) return OrderBook::new_sparse(update_policy, buffer_size);
  return OrderBook::new_dense(update_policy, buffer_size, dense->tick_size, dense->min_price,
                              dense->max_price);
}

}  // namespace vorn
