#include "engine/order_book/book_config.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

#include "engine/order_book/book.hpp"
#include "tests/engine/order_book/book_test_support.hpp"

namespace vorn {
namespace {

using book_test::dec;

TEST(DenseBookConfig, LevelCountOfValidAndInvalidGrids) {
  struct Case {
    const char* tick;
    const char* min;
    const char* max;
    std::optional<std::uint64_t> count;  // none: the grid is invalid
  };
  const Case cases[] = {
      {"0.5", "1", "3", 5},
      {"0.50", "1.0", "3.00", 5},
      {"5", "5", "5", 1},
      {"0.01", "0", "0", 1},
      {"1", "0", "18446744073709551614", UINT64_MAX},
      {"0", "1", "3", std::nullopt},      // tick zero
      {"-0.5", "1", "3", std::nullopt},   // tick negative
      {"0.5", "-1", "3", std::nullopt},   // min negative
      {"0.5", "3", "1", std::nullopt},    // max below min
      {"0.5", "1.25", "3", std::nullopt}, // min off the grid
      {"0.5", "1", "3.1", std::nullopt},  // max off the grid
      // n = 2^64 - 1 slots past the first: n + 1 would not fit
      {"1", "0", "18446744073709551615", std::nullopt},
      {"1", "0", "79228162514264337593543950335", std::nullopt},
  };
  for (const Case& c : cases) {
    // An invalid grid's error carries the three values as given, scale included.
    const auto count = DenseBookConfig{dec(c.tick), dec(c.min), dec(c.max)}.level_count();
    EXPECT_EQ(count ? std::to_string(*count) : to_string(count.error()),
              c.count ? std::to_string(*c.count)
                      : fmt::format("invalid dense order-book grid: tick {}, range [{}, {}]", c.tick, c.min, c.max));
  }
}

TEST(OrderBookConfig, BuildsSparseOrDenseBooks) {
  auto sparse = OrderBookConfig{Symbol{1}, UpdatePolicy::Contiguous, 4, std::nullopt}.build();
  ASSERT_TRUE(sparse.has_value());
  EXPECT_NE(sparse->asks().sparse(), nullptr);
  EXPECT_EQ(sparse->update_policy(), UpdatePolicy::Contiguous);
  EXPECT_EQ(sparse->buffer_size(), 4u);
  EXPECT_EQ(sparse->state(), BookSyncState::AwaitingSnapshot);
  EXPECT_EQ(sparse->last_update_id(), std::nullopt);
  auto dense = OrderBookConfig{Symbol{1}, UpdatePolicy::Monotonic, 0, DenseBookConfig{dec("0.5"), dec("1"), dec("3")}}
                   .build();
  ASSERT_TRUE(dense.has_value());
  EXPECT_EQ(dense->bids().dense()->side(), Side::Bid);
  EXPECT_EQ(dense->asks().dense()->side(), Side::Ask);
  EXPECT_EQ(dense->asks().dense()->slot_count(), 5u);
}

// An invalid grid fails without building; storage sized from a configuration
// never takes the process down: sizes whose byte count overflows or cannot be
// had are refused with an error.
TEST(OrderBookConfig, InvalidGridAndUnobtainableStorageAreErrors) {
  const std::size_t huge = std::size_t{1} << 50;
  const std::tuple<std::size_t, std::optional<DenseBookConfig>, OrderBookUpdateError> cases[] = {
      {0, DenseBookConfig{dec("0"), dec("1"), dec("3")},
       book_error::InvalidDenseConfiguration{dec("0"), dec("1"), dec("3")}},
      {SIZE_MAX, std::nullopt, book_error::BufferAllocationFailed{SIZE_MAX}},
      {huge, std::nullopt, book_error::BufferAllocationFailed{huge}},
      // 2^62 + 1 slots: the byte size overflows.
      {0, DenseBookConfig{dec("1"), dec("0"), dec("4611686018427387904")}, book_error::DenseCapacityExceeded{}},
      // 10^15 slots of 16 bytes: no machine has that memory.
      {0, DenseBookConfig{dec("0.01"), dec("0"), dec("10000000000000")}, book_error::DenseCapacityExceeded{}},
      // The ladder fits, the replay buffer does not.
      {huge, DenseBookConfig{dec("1"), dec("0"), dec("10")}, book_error::BufferAllocationFailed{huge}},
  };
  for (const auto& [buffer_size, dense, error] : cases) {
    SCOPED_TRACE(buffer_size);
    EXPECT_EQ(OrderBookConfig(Symbol{1}, UpdatePolicy::Monotonic, buffer_size, dense).build(), std::unexpected(error));
  }
}

TEST(UpdatePolicy, Words) {
  EXPECT_EQ(json_word(UpdatePolicy::Monotonic), "monotonic");
  EXPECT_EQ(json_word(UpdatePolicy::Contiguous), "contiguous");
  EXPECT_EQ(debug_name(UpdatePolicy::Monotonic), "Monotonic");
  EXPECT_EQ(debug_name(UpdatePolicy::Contiguous), "Contiguous");
}

}  // namespace
}  // namespace vorn
