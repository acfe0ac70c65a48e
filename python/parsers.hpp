// The text parsers of the module's arguments: durations, value sources,
// exact book decimals, book sides and symbol names. Pure C++ (no Python), so
// that they can be tested on their own; each failure is the message that the
// caller raises as ValueError (`or_raise`).
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/decimal.hpp"
#include "engine/errors.hpp"
#include "engine/symbols.hpp"
#include "engine/types.hpp"

namespace vorn::py {

template <class T>
using Parsed = std::expected<T, std::string>;

// `text` without leading and trailing characters of the Unicode White_Space
// property (read as UTF-8).
std::string_view trim_white_space(std::string_view text);

// 'invalid `{name}` duration {text:?}; use an integer with a unit: "500ms", ...'
std::string invalid_duration(std::string_view name, std::string_view text);

// A whole number of milliseconds written as digits and a unit "ms", "s", "m"
// or "h", with surrounding white space: " 15m " is 900,000 ms, "0s" is zero.
// The number and the product must fit 64 unsigned bits.
Parsed<Duration> parse_duration(std::string_view name, std::string_view text);
// Each text as a duration named "windows", in order; the first failure wins.
Parsed<std::vector<Duration>> parse_durations(std::span<const std::string> texts);

// Exactly "price", "volume", "trade_price" or "trade_volume".
Parsed<ValueField> parse_value_source(std::string_view text);

// A fixed UTC offset in milliseconds: inside white space, an optional "UTC",
// then nothing (offset 0) or a sign, hours and optional ":minutes", each part
// an integer that may carry its own sign but is not negative; at most +-14:00.
Parsed<std::int64_t> parse_tz_offset(std::string_view tz);

// Interns a symbol name (ASCII letters lower-cased; "__global__" is id 0).
Result<Symbol> intern_symbol(std::string_view name);

namespace order_book {

// An exact decimal of at least zero, parsed without trimming or rounding.
Parsed<Decimal> decimal(std::string_view text);
// Exactly "bid" or "ask".
Parsed<Side> side(std::string_view text);

}  // namespace order_book

}  // namespace vorn::py
