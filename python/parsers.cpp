#include "python/parsers.hpp"

#include <charconv>
#include <cstdint>
#include <optional>

#include <fmt/format.h>

#include "engine/debug_quote.hpp"
#include "engine/utf8.hpp"

namespace vorn::py {
namespace {

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0d) || c == 0x20 || c == 0x85 || c == 0xa0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200a) || c == 0x2028 || c == 0x2029 || c == 0x202f ||
         c == 0x205f || c == 0x3000;
}

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xc0) == 0x80; }

// One part of a UTC offset: an optional sign and at least one ASCII digit,
// within 64 signed bits.
std::optional<std::int64_t> offset_part(std::string_view text) {
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  std::int64_t value = 0;
  if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc{}) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  while (!text.empty()) {
    const Utf8Char c = decode_utf8(text, 0);
    if (c.length == 0 || !is_white_space(c.code)) break;
    text.remove_prefix(c.length);
  }
  while (!text.empty()) {
    std::size_t start = text.size() - 1;
    while (start > 0 && is_continuation(text[start]) && text.size() - start < 4) --start;
    const Utf8Char c = decode_utf8(text, start);
    if (c.length != text.size() - start || !is_white_space(c.code)) break;
    text.remove_suffix(text.size() - start);
  }
  return text;
}

std::string invalid_duration(std::string_view name, std::string_view text) {
  return fmt::format(
      "invalid `{}` duration {}; use an integer with a unit: \"500ms\", \"1s\", \"5m\", \"1h\"", name,
      debug_quoted(text));
}

Parsed<Duration> parse_duration(std::string_view name, std::string_view text) {
  const std::string_view trimmed = trim_white_space(text);
  const std::size_t digits = std::min(trimmed.find_first_not_of("0123456789"), trimmed.size());
  const std::string_view unit = trimmed.substr(digits);
  std::uint64_t factor = 0;
  if (unit == "ms") {
    factor = 1;
  } else if (unit == "s") {
    factor = 1'000;
  } else if (unit == "m") {
    factor = 60'000;
  } else if (unit == "h") {
    factor = 3'600'000;
  }
  std::uint64_t number = 0;
  bool fits = digits > 0 && factor != 0;
  for (std::size_t i = 0; fits && i < digits; ++i) {
    fits = !__builtin_mul_overflow(number, 10u, &number) &&
           !__builtin_add_overflow(number, static_cast<std::uint64_t>(trimmed[i] - '0'), &number);
  }
  std::uint64_t millis = 0;
  if (!fits || __builtin_mul_overflow(number, factor, &millis)) {
    return std::unexpected(invalid_duration(name, trimmed));
  }
  return Duration::from_millis(millis);
}

Parsed<std::vector<Duration>> parse_durations(std::span<const std::string> texts) {
  std::vector<Duration> out;
  out.reserve(texts.size());
  for (const std::string& text : texts) {
    Parsed<Duration> duration = parse_duration("windows", text);
    if (!duration) return std::unexpected(std::move(duration.error()));
    out.push_back(*duration);
  }
  return out;
}

Parsed<ValueField> parse_value_source(std::string_view text) {
  if (text == "price") return ValueField::Price;
  if (text == "volume") return ValueField::Volume;
  if (text == "trade_price") return ValueField::TradePrice;
  if (text == "trade_volume") return ValueField::TradeVolume;
  return std::unexpected(fmt::format(
      "invalid `source` {}; expected \"price\", \"volume\", \"trade_price\", or \"trade_volume\"",
      debug_quoted(text)));
}

Parsed<std::int64_t> parse_tz_offset(std::string_view tz) {
  std::string_view text = trim_white_space(tz);
  if (text.starts_with("UTC")) text.remove_prefix(3);
  if (text.empty()) return 0;
  const std::int64_t sign = text[0] == '-' ? -1 : 1;
  const std::size_t colon = text.find(':');
  const std::optional<std::int64_t> hours = offset_part(text.substr(1, colon - 1));
  const std::optional<std::int64_t> minutes =
      colon == std::string_view::npos ? 0 : offset_part(text.substr(colon + 1));
  const bool valid = (text[0] == '+' || text[0] == '-') && hours && minutes && *hours >= 0 &&
                     *minutes >= 0 && *minutes <= 59 && (*hours < 14 || (*hours == 14 && *minutes == 0));
  if (!valid) {
    return std::unexpected(fmt::format(
        "invalid `tz` {}; use \"UTC\" or a fixed offset like \"UTC+3\" or \"-05:30\" (named zones are "
        "not supported: the core has no timezone database)",
        debug_quoted(tz)));
  }
  return sign * (*hours * 3'600'000 + *minutes * 60'000);
}

Result<Symbol> intern_symbol(std::string_view name) { return symbols::intern(name); }

namespace order_book {

Parsed<Decimal> decimal(std::string_view text) {
  std::expected<Decimal, std::string> value = Decimal::parse(text);
  if (!value) return std::unexpected("invalid exact decimal: " + value.error());
  if (value->is_negative()) return std::unexpected(std::string("book prices and sizes must be nonnegative"));
  return *value;
}

Parsed<Side> side(std::string_view text) {
  if (text == "bid") return Side::Bid;
  if (text == "ask") return Side::Ask;
  return std::unexpected(std::string("book side must be bid or ask"));
}

}  // namespace order_book

}  // namespace vorn::py
