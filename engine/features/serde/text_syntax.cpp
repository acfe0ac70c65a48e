#include "engine/features/serde/text_syntax.hpp"

#include <array>
#include <charconv>
#include <limits>
#include <utility>

#include <fmt/format.h>

#include "engine/debug_quote.hpp"

namespace vorn::serde {
namespace {

bool all_digits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Digits only (no sign), read into `out`; false on anything else or overflow.
template <class Int>
bool read_digits(std::string_view text, Int& out) {
  if (!all_digits(text)) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size();
}

constexpr std::int64_t kMillisPerMinute = 60'000;
constexpr std::int64_t kMillisPerHour = 3'600'000;
constexpr std::int64_t kMaxOffsetMillis = 14 * kMillisPerHour;

}  // namespace

std::string invalid_duration(std::string_view text) {
  return fmt::format("invalid duration {}; expected a positive integer followed by ms, s, m, or h",
                     debug_quoted(text));
}

TextResult<Duration> parse_duration(std::string_view text) {
  const std::string_view digits = text.substr(0, text.find_first_not_of("0123456789"));
  const std::string_view unit = text.substr(digits.size());
  std::uint64_t count = 0;
  if (unit.empty() || digits.empty() || digits.front() == '0' || !read_digits(digits, count)) {
    return std::unexpected(invalid_duration(text));
  }
  static constexpr std::array<std::pair<std::string_view, std::uint64_t>, 4> kUnits{
      {{"ms", 1}, {"s", 1000}, {"m", 60'000}, {"h", 3'600'000}}};
  for (const auto& [name, factor] : kUnits) {
    if (unit != name) continue;
    if (count > std::numeric_limits<std::uint64_t>::max() / factor) break;
    return Duration::from_millis(count * factor);
  }
  return std::unexpected(invalid_duration(text));
}

TextResult<std::string> format_duration(Duration duration) {
  const unsigned __int128 nanos = duration.total_nanos();
  if (nanos == 0 || nanos % 1'000'000 != 0) {
    return std::unexpected(std::string("durations must be positive whole milliseconds"));
  }
  const unsigned __int128 millis = nanos / 1'000'000;
  if (millis > std::numeric_limits<std::uint64_t>::max()) {
    return std::unexpected(std::string("duration exceeds the serialized range"));
  }
  const auto ms = static_cast<std::uint64_t>(millis);
  if (ms % 3'600'000 == 0) return fmt::format("{}h", ms / 3'600'000);
  if (ms % 60'000 == 0) return fmt::format("{}m", ms / 60'000);
  if (ms % 1000 == 0) return fmt::format("{}s", ms / 1000);
  return fmt::format("{}ms", ms);
}

TextResult<std::int64_t> parse_utc_offset(std::string_view text) {
  std::string_view rest = text;
  if (rest.starts_with("UTC")) rest.remove_prefix(3);
  if (rest.empty()) return 0;
  const auto invalid = [&] { return std::unexpected(fmt::format("invalid UTC offset {}", debug_quoted(text))); };
  if (rest.front() != '+' && rest.front() != '-') return invalid();
  const std::int64_t sign = rest.front() == '+' ? 1 : -1;
  rest.remove_prefix(1);
  const std::size_t colon = rest.find(':');
  std::string_view hours_text = rest.substr(0, colon);
  std::string_view minutes_text = colon == std::string_view::npos ? "0" : rest.substr(colon + 1);
  // Each part may carry its own "+".
  if (hours_text.starts_with('+')) hours_text.remove_prefix(1);
  if (minutes_text.starts_with('+')) minutes_text.remove_prefix(1);
  std::int64_t hours = 0;
  std::int64_t minutes = 0;
  if (!read_digits(hours_text, hours) || !read_digits(minutes_text, minutes)) return invalid();
  if (hours > 14 || minutes > 59 || (hours == 14 && minutes != 0)) return invalid();
  return sign * (hours * kMillisPerHour + minutes * kMillisPerMinute);
}

TextResult<std::string> format_utc_offset(std::int64_t offset_millis) {
  if (offset_millis < -kMaxOffsetMillis || offset_millis > kMaxOffsetMillis ||
      offset_millis % kMillisPerMinute != 0) {
    return std::unexpected(
        std::string("UTC offset must use whole minutes in the range -14:00 through +14:00"));
  }
  const std::int64_t magnitude = offset_millis < 0 ? -offset_millis : offset_millis;
  return fmt::format("{}{:02}:{:02}", offset_millis < 0 ? '-' : '+', magnitude / kMillisPerHour,
                     magnitude / kMillisPerMinute % 60);
}

TextResult<EventKind> parse_event(std::string_view text) {
  for (int code = 0; code < kEventKindCount; ++code) {
    const auto kind = static_cast<EventKind>(code);
    if (text == json_word(kind)) return kind;
  }
  return std::unexpected(fmt::format("unknown event kind {}", debug_quoted(text)));
}

TextResult<Side> parse_book_side(std::optional<std::string_view> text) {
  if (text == "bid") return Side::Bid;
  if (text == "ask") return Side::Ask;
  return std::unexpected(std::string("order-book query requires side bid or ask"));
}

TextResult<Decimal> parse_book_decimal(std::optional<std::string_view> text, std::string_view name) {
  if (!text) return std::unexpected(fmt::format("order-book query requires {}", name));
  auto parsed = Decimal::parse(*text);
  if (!parsed) return std::unexpected(fmt::format("invalid order-book {}: {}", name, parsed.error()));
  return *parsed;
}

}  // namespace vorn::serde
