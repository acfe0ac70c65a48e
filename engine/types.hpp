// Small vocabulary enumerations shared by the whole engine: event kinds, book
// and aggressor sides, warm-up policy, event value fields and durations.
#pragma once

#include <cstdint>
#include <string_view>

namespace vorn {

enum class EventKind : std::uint8_t {
  Price = 0,
  Volume = 1,
  Trade = 2,
  OrderBookDelta = 3,
  OrderBookSnapshot = 4,
  Time = 5,
};
inline constexpr int kEventKindCount = 6;

// "order book delta": the words error messages print.
std::string_view display(EventKind kind);
// "order_book_delta": the spelling in spec documents and feature ids.
std::string_view json_word(EventKind kind);
// "OrderBookDelta": the variant name.
std::string_view debug_name(EventKind kind);

enum class AggressorSide : std::uint8_t { Buy = 0, Sell = 1 };
// A trade without a side stores this value in the side byte.
inline constexpr std::uint8_t kUnknownAggressor = 2;

enum class Side : std::uint8_t { Bid = 0, Ask = 1 };
std::string_view json_word(Side side);   // "bid" / "ask"
std::string_view debug_name(Side side);  // "Bid" / "Ask"

enum class WarmupPolicy : std::uint8_t { FirstValue = 0, FullWindow = 1 };
std::string_view json_word(WarmupPolicy policy);  // "first_value" / "full_window"
std::string_view debug_name(WarmupPolicy policy);

// The scalar value read from an event.
enum class ValueField : std::uint8_t { Price = 0, Volume = 1, TradePrice = 2, TradeVolume = 3 };
std::string_view display(ValueField field);    // "trade price"
std::string_view json_word(ValueField field);  // "trade_price"
std::string_view debug_name(ValueField field);

// A span of time: whole seconds plus nanoseconds below one second.
struct Duration {
  std::uint64_t seconds = 0;
  std::uint32_t nanos = 0;

  static constexpr Duration from_millis(std::uint64_t ms) {
    return Duration{ms / 1000, static_cast<std::uint32_t>((ms % 1000) * 1'000'000)};
  }
  constexpr bool is_zero() const { return seconds == 0 && nanos == 0; }
  constexpr unsigned __int128 total_nanos() const {
    return static_cast<unsigned __int128>(seconds) * 1'000'000'000u + nanos;
  }
  friend constexpr bool operator==(const Duration&, const Duration&) = default;
  friend constexpr auto operator<=>(const Duration&, const Duration&) = default;
};

}  // namespace vorn
