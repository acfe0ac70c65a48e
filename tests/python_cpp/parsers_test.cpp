#include "python/parsers.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn::py {
namespace {

using namespace std::string_literals;

const std::string kUse = R"(; use an integer with a unit: "500ms", "1s", "5m", "1h")";

TEST(ParseDuration, AcceptsDigitsWithAUnitInsideWhiteSpace) {
  const std::vector<std::pair<std::string, std::uint64_t>> rows{
      {" 15m ", 900'000}, {"1h", 3'600'000}, {"250ms", 250}, {"0s", 0}, {"0ms", 0}, {"007s", 7'000},
      {"05m", 300'000}, {"18446744073709551615ms", 18'446'744'073'709'551'615u},
      {"18446744073709551s", 18'446'744'073'709'551'000u}, {"5124095576030h", 18'446'744'073'708'000'000u},
      {"\t\n\v\f\r 2s", 2'000}, {"1ms\t", 1},
      // Unicode White_Space: next line, no-break space, ogham space mark,
      // en quad, hair space, line and paragraph separators, narrow no-break,
      // medium mathematical and ideographic spaces.
      {"\u0085\u00a0\u16803s\u2000\u200a\u2028\u2029\u202f\u205f\u3000", 3'000},
  };
  for (const auto& [text, millis] : rows) {
    const Parsed<Duration> duration = parse_duration("window", text);
    ASSERT_TRUE(duration.has_value()) << text << ": " << duration.error();
    EXPECT_EQ(*duration, Duration::from_millis(millis)) << text;
    EXPECT_EQ(duration->total_nanos(), static_cast<unsigned __int128>(millis) * 1'000'000u) << text;
  }
}

TEST(ParseDuration, RefusesOtherTextsQuotingTheTrimmedText) {
  // Text, argument name, quoted form in the message.
  const std::vector<std::tuple<std::string, std::string, std::string>> rows{
      {"1.5s", "aggregation", R"("1.5s")"}, {"-1s", "aggregation", R"("-1s")"}, {"+1s", "aggregation", R"("+1s")"},
      {"1 s", "aggregation", R"("1 s")"}, {"1S", "window", R"("1S")"}, {"1sec", "window", R"("1sec")"},
      {"5", "window", R"("5")"}, {"ms", "window", R"("ms")"}, {"", "window", R"("")"}, {"   ", "window", R"("")"},
      {"  5x ", "window", R"("5x")"},
      {"\u200b5s", "window", R"("\u{200b}5s")"},  // zero width space is no white space
      {"\uff15s", "window", "\"\uff15s\""},    // a fullwidth digit is no ASCII digit
      {"18446744073709551616ms", "windows", R"("18446744073709551616ms")"},
      {"18446744073709552s", "windows", R"("18446744073709552s")"}, {"5124095576031h", "windows", R"("5124095576031h")"},
      {"99999999999999999999999h", "windows", R"("99999999999999999999999h")"},
      {"1\"s\\\t", "window", R"("1\"s\\")"},
      {"1\x01s\0"s, "window", R"("1\u{1}s\0")"},
  };
  for (const auto& [text, name, quoted] : rows) {
    const Parsed<Duration> duration = parse_duration(name, text);
    ASSERT_FALSE(duration.has_value()) << text;
    EXPECT_EQ(duration.error(), "invalid `" + name + "` duration " + quoted + kUse) << text;
    EXPECT_EQ(duration.error(), invalid_duration(name, trim_white_space(text)));
  }
}

TEST(ParseDurations, KeepsOrderAndReportsTheFirstBadElementAsWindows) {
  const std::vector<std::string> good{"1m", "5s", "0ms"};
  const Parsed<std::vector<Duration>> parsed = parse_durations(good);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(*parsed, (std::vector<Duration>{Duration::from_millis(60'000), Duration::from_millis(5'000),
                                            Duration::from_millis(0)}));

  EXPECT_EQ(parse_durations({}).value(), std::vector<Duration>{});

  const std::vector<std::string> bad{"1m", "bad", "also bad"};
  const Parsed<std::vector<Duration>> refused = parse_durations(bad);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), "invalid `windows` duration \"bad\"" + kUse);
}

TEST(ParseValueSource, MatchesTheWholeTextExactly) {
  const char* words[] = {"price", "volume", "trade_price", "trade_volume"};
  for (int code = 0; code < 4; ++code) EXPECT_EQ(parse_value_source(words[code]).value(), ValueField(code));

  const std::string expected = R"(; expected "price", "volume", "trade_price", or "trade_volume")";
  const std::vector<std::pair<std::string, std::string>> rows{
      {"Price", R"("Price")"}, {" price", R"(" price")"}, {"price\n", R"("price\n")"},
      {"trade price", R"("trade price")"}, {"", R"("")"},
      {"pri\x01" "ce\u0085", R"("pri\u{1}ce\u{85}")"},
      {"\"q\"", R"("\"q\"")"},
      {"pr\0ice"s, R"("pr\0ice")"},
  };
  for (const auto& [text, quoted] : rows) {
    const Parsed<ValueField> source = parse_value_source(text);
    ASSERT_FALSE(source.has_value()) << text;
    EXPECT_EQ(source.error(), "invalid `source` " + quoted + expected) << text;
  }
}

TEST(ParseTzOffset, AcceptsFixedOffsetsUpToFourteenHoursAndQuotesTheArgumentAsPassed) {
  const std::vector<std::pair<std::string, std::int64_t>> accepted{
      {"UTC", 0}, {"", 0}, {"  ", 0}, {"UTC+0", 0}, {"+00:00", 0}, {"-0", 0}, {"-0:-0", 0},
      {"UTC+3", 10'800'000}, {"-05:30", -19'800'000}, {"UTC+14", 50'400'000}, {"+14:00", 50'400'000},
      {" UTC-09:30 ", -34'200'000}, {"\u3000UTC-14\u2028", -50'400'000}, {"UTC++3", 10'800'000},
      {"+05:+30", 19'800'000}, {"-0013:059", -50'340'000},
  };
  for (const auto& [tz, millis] : accepted) {
    const Parsed<std::int64_t> offset = parse_tz_offset(tz);
    ASSERT_TRUE(offset.has_value()) << tz << ": " << offset.error();
    EXPECT_EQ(*offset, millis) << tz;
  }
  for (const std::string tz : {"UTC+-5", "+05:-30", "+14:30", "+15", "+5:60", "+5:", "+:30", "3", "utc+3", "GMT+3",
                               "UTC +3", "UTC+ 3", "+3:00:00", "Europe/London", " bad ", "+", "UT",
                               "+99999999999999999999"}) {
    const Parsed<std::int64_t> offset = parse_tz_offset(tz);
    ASSERT_FALSE(offset.has_value()) << tz << " reads as " << *offset;
    EXPECT_EQ(offset.error(),
              "invalid `tz` \"" + tz + R"("; use "UTC" or a fixed offset like "UTC+3" or "-05:30" )"
                  "(named zones are not supported: the core has no timezone database)")
        << tz;
  }
}

TEST(TrimWhiteSpace, StopsAtTheFirstOtherCharacterOnEachSide) {
  EXPECT_EQ(trim_white_space(" \u3000a b\u00a0 "), "a b");
  EXPECT_EQ(trim_white_space("\u00e9"), "\u00e9");  // C3 A9: no white space
  EXPECT_EQ(trim_white_space("\u2029"), "");
  EXPECT_EQ(trim_white_space("x\u200b"), "x\u200b");
  EXPECT_EQ(trim_white_space("\xa0"), "\xa0");  // a stray continuation byte is kept
}

TEST(BookDecimal, ParsesExactlyAndRefusesNegativeValues) {
  const std::vector<std::pair<std::string, std::string>> accepted{
      {"0", "0"}, {"0.000", "0.000"}, {"-0", "-0"}, {"1.50", "1.50"},
      {"79228162514264337593543950335", "79228162514264337593543950335"},
  };
  for (const auto& [text, stored] : accepted) {
    const Parsed<Decimal> value = order_book::decimal(text);
    ASSERT_TRUE(value.has_value()) << text;
    EXPECT_EQ(value->to_string(), stored) << text;
  }
  EXPECT_EQ(order_book::decimal("1.50")->scale(), 2u);

  const std::vector<std::pair<std::string, std::string>> refused{
      {"-0.01", "book prices and sizes must be nonnegative"},
      {"abc", "invalid exact decimal: Invalid decimal: unknown character"},
      {" 1", "invalid exact decimal: Invalid decimal: unknown character"},
      {"", "invalid exact decimal: Invalid decimal: empty"},
      {"1.2.3", "invalid exact decimal: Invalid decimal: two decimal points"},
      {".", "invalid exact decimal: Invalid decimal: no digits found"},
      {"79228162514264337593543950336", "invalid exact decimal: Invalid decimal: value out of range"},
  };
  for (const auto& [text, message] : refused) {
    const Parsed<Decimal> value = order_book::decimal(text);
    ASSERT_FALSE(value.has_value()) << text;
    EXPECT_EQ(value.error(), message) << text;
  }
}

TEST(BookSide, AcceptsExactlyBidAndAsk) {
  EXPECT_EQ(order_book::side("bid").value(), Side::Bid);
  EXPECT_EQ(order_book::side("ask").value(), Side::Ask);
  for (const std::string& text : std::vector<std::string>{"BID", "Bid", "bids", " bid", "ask ", "", "b\0id"s}) {
    const Parsed<Side> side = order_book::side(text);
    ASSERT_FALSE(side.has_value()) << text;
    EXPECT_EQ(side.error(), "book side must be bid or ask") << text;
  }
}

TEST(InternSymbol, FoldsAsciiCaseAndKeepsWholeNames) {
  const Symbol upper = intern_symbol("PARSERS-TEST").value();
  EXPECT_EQ(intern_symbol("parsers-test").value(), upper);
  EXPECT_EQ(intern_symbol("__GLOBAL__").value(), Symbol::global());
  // A name with an embedded NUL is a name of its own, not its prefix.
  const Symbol with_nul = intern_symbol("parsers-test\0tail"s).value();
  EXPECT_NE(with_nul, upper);
  EXPECT_EQ(with_nul.resolve_as_string(), "parsers-test\0tail"s);
  EXPECT_NE(intern_symbol("").value(), Symbol::global());
}

}  // namespace
}  // namespace vorn::py
