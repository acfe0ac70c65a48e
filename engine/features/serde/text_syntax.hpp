// The short texts inside spec documents: durations ("90s", "1500ms"), UTC
// offsets ("UTC+05:30", "-03"), event words, book sides and exact decimals.
// Each reader returns its value or the message to report; the writers return
// the text a document holds. Event kinds and sides are written with
// json_word, decimals with Decimal::to_normalized_string.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "engine/decimal.hpp"
#include "engine/types.hpp"

namespace vorn::serde {

template <class T>
using TextResult = std::expected<T, std::string>;

// A positive integer without leading zeros followed by "ms", "s", "m" or "h".
TextResult<Duration> parse_duration(std::string_view text);
// "invalid duration {text:?}; expected a positive integer followed by ms, s, m, or h"
std::string invalid_duration(std::string_view text);
// Whole milliseconds in the largest unit that divides them: "2h", "90s", "1500ms".
TextResult<std::string> format_duration(Duration duration);

// "", "UTC", or an optional "UTC" then a sign, hours and optional ":minutes";
// at most 14:00 either way. The result is in milliseconds.
TextResult<std::int64_t> parse_utc_offset(std::string_view text);
// "+05:30", "-00:30", "+00:00": whole minutes within ±14:00.
TextResult<std::string> format_utc_offset(std::int64_t offset_millis);

// Exactly one of the event words ("trade", "order_book_delta", ...).
TextResult<EventKind> parse_event(std::string_view text);
// Exactly "bid" or "ask"; absent fails too.
TextResult<Side> parse_book_side(std::optional<std::string_view> text);
// An exact decimal under the option `name` ("price", "tick_size", ...).
TextResult<Decimal> parse_book_decimal(std::optional<std::string_view> text, std::string_view name);

}  // namespace vorn::serde
