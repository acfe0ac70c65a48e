// How one order book is configured: the delta-id policy, the replay-buffer
// capacity and an optional dense tick grid, which is validated here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

#include "engine/decimal.hpp"
#include "engine/errors.hpp"
#include "engine/symbols.hpp"

namespace vorn {

class OrderBook;

// How the ids of consecutive deltas must relate.
enum class UpdatePolicy : std::uint8_t {
  Monotonic = 0,   // ids need only increase
  Contiguous = 1,  // each id is the previous id + 1
};
std::string_view json_word(UpdatePolicy policy);   // "monotonic" / "contiguous"
std::string_view debug_name(UpdatePolicy policy);  // "Monotonic" / "Contiguous"

// The tick grid of a dense book: slot i stands for min_price + i × tick_size.
struct DenseBookConfig {
  Decimal tick_size;
  Decimal min_price;
  Decimal max_price;

  // The number of slots of a valid grid, or InvalidDenseConfiguration.
  std::expected<std::uint64_t, OrderBookUpdateError> level_count() const;

  friend bool operator==(const DenseBookConfig&, const DenseBookConfig&) = default;
};

struct OrderBookConfig {
  Symbol symbol;
  UpdatePolicy update_policy = UpdatePolicy::Monotonic;
  std::size_t buffer_size = 0;
  std::optional<DenseBookConfig> dense;  // absent: both sides sparse

  // An empty book for this configuration.
  std::expected<OrderBook, OrderBookUpdateError> build() const;

  friend bool operator==(const OrderBookConfig&, const OrderBookConfig&) = default;
};

}  // namespace vorn
