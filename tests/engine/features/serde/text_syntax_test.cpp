#include "engine/features/serde/text_syntax.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace vorn::serde {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr std::int64_t kHour = 3'600'000;

// The value in milliseconds, or the message.
std::string outcome(const TextResult<Duration>& d) {
  return d ? std::to_string(d->seconds * 1000 + d->nanos / 1'000'000) : d.error();
}
template <class T>
std::string outcome(const TextResult<T>& r) { return r ? fmt::format("{}", *r) : r.error(); }

TEST(TextSyntax, Durations) {
  const std::vector<std::pair<std::string, std::uint64_t>> accepted{
      {"1ms", 1}, {"1s", 1000}, {"1m", 60'000}, {"1h", 3'600'000}, {"1500ms", 1500},
      {"18446744073709551615ms", kU64Max}, {"5124095576030h", 5124095576030ull * 3'600'000}};
  for (const auto& [text, ms] : accepted) EXPECT_EQ(outcome(parse_duration(text)), std::to_string(ms)) << text;
  EXPECT_EQ(parse_duration("1500ms"), (Duration{1, 500'000'000}));
  for (const std::string text : {"18446744073709551616ms", "18446744073709552s", "5124095576031h", "10", "ms",
                                 "10 ms", "+10s", "10S", "10mss", "1.5s", "0s", "05s", "0ms", "", "1sec", "1min"}) {
    EXPECT_EQ(outcome(parse_duration(text)),
              "invalid duration \"" + text + "\"; expected a positive integer followed by ms, s, m, or h");
  }
  EXPECT_EQ(invalid_duration("1\"\n"), R"(invalid duration "1\"\n"; expected a positive integer followed by ms, s, m, or h)");

  const std::string whole = "durations must be positive whole milliseconds";
  const std::vector<std::pair<Duration, std::string>> written{
      {Duration{0, 1}, whole}, {Duration{0, 1'500'000}, whole}, {Duration{}, whole},
      {Duration{kU64Max, 0}, "duration exceeds the serialized range"}, {Duration{3600, 0}, "1h"},
      {Duration{61, 0}, "61s"}, {Duration{90, 0}, "90s"}, {Duration{5400, 0}, "90m"}, {Duration{7200, 0}, "2h"},
      {Duration{1, 500'000'000}, "1500ms"}, {Duration::from_millis(kU64Max), "18446744073709551615ms"}};
  for (const auto& [duration, expected] : written) EXPECT_EQ(outcome(format_duration(duration)), expected);
  std::mt19937_64 rng(7);
  for (int i = 0; i < 2000; ++i) {  // every written text reads back
    const std::uint64_t unit[] = {1, 1000, 60'000, 3'600'000};
    const Duration d = Duration::from_millis((rng() % 100'000 + 1) * unit[i % 4] + (i % 8 == 0 ? rng() % 1000 : 0));
    EXPECT_EQ(parse_duration(format_duration(d).value()), d);
  }
}

TEST(TextSyntax, UtcOffsets) {
  const std::vector<std::pair<std::string, std::int64_t>> accepted{
      {"UTC+05:30", 19'800'000}, {"+5:30", 19'800'000}, {"-03", -3 * kHour}, {"UTC", 0}, {"", 0},
      {"+00:00", 0}, {"+14:00", 14 * kHour}, {"UTC-14:00", -14 * kHour}, {"++05:00", 5 * kHour},
      {"+05:+30", 19'800'000}, {"+005", 5 * kHour}, {"-0000000000000000000001:01", -kHour - 60'000}};
  for (const auto& [text, ms] : accepted) EXPECT_EQ(parse_utc_offset(text), ms) << text;
  for (const std::string text : {"+14:30", "+15", "+05:60", "Z", "utc+05:00", "UTC5", "+", "+:30", "+05:",
                                 "+-05:00", "+05:-30", "UTC-14:01", "+05:30:00", "+ 5", "+5 ", "UTCUTC+1",
                                 "+99999999999999999999"}) {
    EXPECT_EQ(outcome(parse_utc_offset(text)), "invalid UTC offset \"" + text + "\"");
  }

  const std::string range = "UTC offset must use whole minutes in the range -14:00 through +14:00";
  const std::vector<std::pair<std::int64_t, std::string>> written{
      {19'800'000, "+05:30"}, {-3 * kHour, "-03:00"}, {0, "+00:00"}, {14 * kHour, "+14:00"},
      {-14 * kHour, "-14:00"}, {-1'800'000, "-00:30"}, {90'000, range}, {14 * kHour + 60'000, range},
      {-14 * kHour - 60'000, range}, {1, range}, {std::numeric_limits<std::int64_t>::min(), range}};
  for (const auto& [ms, expected] : written) EXPECT_EQ(outcome(format_utc_offset(ms)), expected) << ms;
  for (std::int64_t ms = -14 * kHour; ms <= 14 * kHour; ms += 60'000) {
    EXPECT_EQ(parse_utc_offset(format_utc_offset(ms).value()), ms);
  }
}

TEST(TextSyntax, EventsSidesAndDecimals) {
  const char* words[] = {"price", "volume", "trade", "order_book_delta", "order_book_snapshot", "time"};
  for (int code = 0; code < kEventKindCount; ++code) EXPECT_EQ(parse_event(words[code]), EventKind(code));
  for (const std::string text : {"Trade", "order_book", "", "time "}) {
    EXPECT_EQ(parse_event(text).error(), "unknown event kind \"" + text + "\"");
  }
  EXPECT_EQ(parse_book_side("bid"), Side::Bid);
  EXPECT_EQ(parse_book_side("ask"), Side::Ask);
  for (const auto text : {std::optional<std::string_view>("BID"), std::optional<std::string_view>(""), {}}) {
    EXPECT_EQ(parse_book_side(text).error(), "order-book query requires side bid or ask");
  }

  EXPECT_EQ(outcome(parse_book_decimal({}, "price")), "order-book query requires price");
  EXPECT_EQ(outcome(parse_book_decimal("abc", "tick_size")), "invalid order-book tick_size: Invalid decimal: unknown character");
  EXPECT_EQ(outcome(parse_book_decimal("1.50", "size")), "1.50");  // kept as written; the writer normalises
  for (const auto& [text, written] : std::vector<std::pair<std::string, std::string>>{
           {"1.50", "1.5"}, {"2.000", "2"}, {"-0.00", "0"}, {".5", "0.5"}, {"-12.340", "-12.34"}, {"100", "100"}}) {
    const Decimal value = parse_book_decimal(text, "price").value();
    EXPECT_EQ(value.to_normalized_string(), written) << text;
    EXPECT_EQ(parse_book_decimal(written, "price"), value) << text;
  }
}

}  // namespace
}  // namespace vorn::serde
