#include "engine/features/serde/json_records.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace vorn::serde {
namespace {

struct Inner {
  std::string name;
  std::optional<std::uint64_t> count;
  bool operator==(const Inner&) const = default;
};
struct Outer {
  std::string version;
  std::optional<std::string> checksum{};
  std::vector<Inner> items{};
  std::optional<CountOrText> window{};
  std::optional<std::size_t> policy{};
  bool operator==(const Outer&) const = default;
};

template <class Result>
std::string error_of(const Result& result) { return result ? "accepted" : result.error(); }

// A reader whose own rule fails without a position.
JsonResult<std::string> read_name(const JsonValue& value) {
  auto name = read_string(value);
  if (name && name->empty()) return std::unexpected(JsonError{"name must not be empty", {}});
  return name;
}

JsonResult<Outer> read_outer(const JsonValue& value, NullRule nulls) {
  static constexpr std::array<std::string_view, 2> kPolicies{"first_value", "full_window"};
  const auto read_inner = [nulls](const JsonValue& v) {
    return read_record<Inner>(v, {"struct InnerWire", nulls}, required("name", &Inner::name, read_name),
                              optional("count", &Inner::count, read_u64));
  };
  return read_record<Outer>(
      value, {"struct OuterWire", nulls}, required("version", &Outer::version, read_string),
      optional("checksum", &Outer::checksum, read_string),
      optional("items", &Outer::items, list_of(read_inner)),
      optional("window", &Outer::window, [](const JsonValue& v) { return read_count_or_text(v, "WindowWire"); }),
      optional("policy", &Outer::policy, [](const JsonValue& v) { return read_variant(v, kPolicies); }));
}

// The whole read of one document, with a rule on the document as a whole.
std::expected<Outer, std::string> read_text(std::string_view text, NullRule nulls = NullRule::Refused) {
  return read_document(text, [nulls](const JsonValue& v) -> JsonResult<Outer> {
    auto outer = read_outer(v, nulls);
    if (outer && outer->version == "9") return std::unexpected(JsonError{"unsupported version", {}});
    return outer;
  });
}

TEST(JsonRecords, StructuralMessagesWithPositions) {
  const std::vector<std::pair<std::string, std::string>> rows{
      {"[1]", "invalid type: sequence, expected struct OuterWire at line 1 column 1"},
      {"12", "invalid type: integer `12`, expected struct OuterWire at line 1 column 2"},  // a number ending the text
      {" 12\n", "invalid type: integer `12`, expected struct OuterWire at line 1 column 3"},
      {"18446744073709551616", "invalid type: floating point `18446744073709551616`, expected struct OuterWire at line 1 column 20"},
      {R"({"version":"2","version":"2"})", "duplicate field `version` at line 1 column 24"},
      {R"({"version":"2","bogus":1})",
       "unknown field `bogus`, expected one of `version`, `checksum`, `items`, `window`, `policy` at line 1 column 22"},
      {R"({"version":"2","checksum":null})", "invalid type: null, expected a string at line 1 column 30"},
      {R"({"checksum":"c"})", "missing field `version` at line 1 column 16"},
      {"{\"version\":\"2\",\n\"items\":[{\"name\":\"a\",\"count\":-1}]}",
       "invalid type: integer `-1`, expected an unsigned integer at line 2 column 31"},
      {R"({"version":"2","items":[{"name":"a","count":2.5}]})",
       "invalid type: floating point `2.5`, expected an unsigned integer at line 1 column 47"},
      {R"({"version":"2","items":{}})", "invalid type: map, expected a sequence at line 1 column 24"},
      {R"({"version":"2","items":[{"name":""}]})", "name must not be empty at line 1 column 34"},
      {R"({"version":"2","window":-1})", "data did not match any variant of untagged enum WindowWire at line 1 column 26"},
      {R"({"version":"2","window":2.5})", "data did not match any variant of untagged enum WindowWire at line 1 column 27"},
      {R"({"version":"2","window":null})", "data did not match any variant of untagged enum WindowWire at line 1 column 28"},
      {R"({"version":"2","policy":"x"})",
       "unknown variant `x`, expected one of `first_value`, `full_window` at line 1 column 27"},
      {R"({"version":"2","policy":true})", "invalid type: boolean `true`, expected variant identifier at line 1 column 28"},
      {R"({"version":"9"})", "unsupported version"},
      {std::string(129, '[') + std::string(129, ']'), "recursion limit exceeded at line 1 column 129"},
      {R"({"version":"2"} x)",
       "parse error: syntax error while parsing value - invalid literal; last read: '\"2\"} x'; expected end of input "
       "at line 1 column 17"},
      {"{\"version\":\n tru\u00e9}",  // the quoted input ends inside a character
       "parse error: syntax error while parsing value - invalid literal; last read: '\"version\":<U+000A> tru\ufffd' "
       "at line 2 column 5"},
      {"", "parse error: syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal "
           "at line 1 column 1"},
  };
  for (const auto& [text, message] : rows) EXPECT_EQ(error_of(read_text(text)), message) << text;
}

// The whole text is read: a NUL byte is refused where it stands, as the
// parser refuses any other stray control character (shown as <U+0000>), and
// inside a string as an unescaped control character.
TEST(JsonRecords, NulBytesAreRefusedWhereTheyStand) {
  using namespace std::string_literals;
  const std::vector<std::pair<std::string, std::string>> rows{
      {"{\"version\":\"2\"}\0 x"s,
       "parse error: syntax error while parsing value - invalid literal; last read: '\"2\"}<U+0000>'; expected end of "
       "input at line 1 column 16"},
      {"{\"version\":\"2\"}\0"s,
       "parse error: syntax error while parsing value - invalid literal; last read: '\"2\"}<U+0000>'; expected end of "
       "input at line 1 column 16"},
      {"{\"version\":\"2\"}\n\0"s,
       "parse error: syntax error while parsing value - invalid literal; last read: '\"2\"}<U+000A><U+0000>'; expected "
       "end of input at line 2 column 1"},
      {"\0{\"version\":\"2\"}"s,
       "parse error: syntax error while parsing value - invalid literal; last read: '<U+0000>' at line 1 column 1"},
      {"{\"version\":\0\"2\"}"s,
       "parse error: syntax error while parsing value - invalid literal; last read: '\"version\":<U+0000>' "
       "at line 1 column 12"},
      {"{\"version\":\"2\",\"window\":12\0}"s,
       "parse error: syntax error while parsing object - invalid literal; last read: '12<U+0000>'; expected '}' "
       "at line 1 column 27"},
      // inside a string, after an escaped quote; outside, after an escaped backslash ends the string
      {"{\"version\":\"a\\\"\0\"}"s,
       "parse error: syntax error while parsing value - invalid string: control character U+0000 (NUL) must be "
       "escaped to \\u0000; last read: '\"a\\\"<U+0000>' at line 1 column 16"},
      {"{\"version\":\"a\\\\\"\0}"s,
       "parse error: syntax error while parsing object - invalid literal; last read: '\"a\\\\\"<U+0000>'; expected '}' "
       "at line 1 column 17"},
  };
  for (const auto& [text, message] : rows) EXPECT_EQ(error_of(read_text(text)), message) << text;
  // A stray U+0001 is shown as itself.
  EXPECT_EQ(error_of(read_text("{\"version\":\"2\"}\x01")),
            "parse error: syntax error while parsing value - invalid literal; last read: '\"2\"}<U+0001>'; expected end of "
            "input at line 1 column 16");
}

// A unit enumeration reads from its word or from an object holding only that
// word with null; other objects are refused as maps.
TEST(JsonRecords, UnitVariants) {
  static constexpr std::array<std::string_view, 2> kPolicies{"monotonic", "contiguous"};
  const auto read = [](std::string_view text) {
    return read_document(text, [](const JsonValue& v) { return read_unit_variant(v, kPolicies); });
  };
  EXPECT_EQ(read(R"("monotonic")"), 0u);
  EXPECT_EQ(read(R"("contiguous")"), 1u);
  EXPECT_EQ(read(R"({"contiguous":null})"), 1u);
  EXPECT_EQ(read(" { \"monotonic\" :\n null } "), 0u);
  const std::vector<std::pair<std::string, std::string>> rows{
      {R"({"fifo":null})", "unknown variant `fifo`, expected one of `monotonic`, `contiguous` at line 1 column 7"},
      {R"({"Contiguous":null})", "unknown variant `Contiguous`, expected one of `monotonic`, `contiguous` at line 1 column 13"},
      {R"("fifo")", "unknown variant `fifo`, expected one of `monotonic`, `contiguous` at line 1 column 6"},
      {R"({})", "invalid type: map, expected variant identifier at line 1 column 1"},
      {R"({"contiguous":null,"monotonic":null})", "invalid type: map, expected variant identifier at line 1 column 1"},
      {R"({"contiguous":null,"contiguous":null})", "invalid type: map, expected variant identifier at line 1 column 1"},
      {R"( {"contiguous":1})", "invalid type: map, expected variant identifier at line 1 column 2"},
      {R"({"contiguous":{}})", "invalid type: map, expected variant identifier at line 1 column 1"},
      {R"({"fifo":1})", "invalid type: map, expected variant identifier at line 1 column 1"},
      {R"(["contiguous"])", "invalid type: sequence, expected variant identifier at line 1 column 1"},
      {R"(null)", "invalid type: null, expected variant identifier at line 1 column 4"},
  };
  for (const auto& [text, message] : rows) EXPECT_EQ(error_of(read(text)), message) << text;
  // A plain variant reader takes no such object.
  EXPECT_EQ(error_of(read_document(R"({"contiguous":null})",
                                   [](const JsonValue& v) { return read_variant(v, kPolicies); })),
            "invalid type: map, expected variant identifier at line 1 column 1");
}

TEST(JsonRecords, ReadsValuesAndnullsAsAbsentWhenAsked) {
  EXPECT_EQ(read_text(R"({"policy":"full_window","window":20,"items":[{"name":"a","count":3},{"name":"b"}],)"
                      R"("checksum":"c","version":"2"})"),
            (Outer{"2", "c", {{"a", 3}, {"b", {}}}, std::uint64_t{20}, 1}));
  EXPECT_EQ(read_text(R"({"version":"2","window":"20"})"), (Outer{.version = "2", .window = "20"}));
  EXPECT_EQ(read_text(R"({"version":"2","checksum":null,"items":null})", NullRule::Absent), Outer{"2"});
  EXPECT_EQ(error_of(read_text(R"({"version":null})", NullRule::Absent)),
            "invalid type: null, expected a string at line 1 column 15");
  EXPECT_TRUE(parse_json(std::string(128, '[') + std::string(128, ']')).has_value());
}

TEST(JsonRecords, TaggedVariants) {
  struct Ema { std::string input; };
  static constexpr std::array<std::string_view, 2> kTypes{"ema", "identity"};
  const auto read = [](std::string_view text) {
    return read_document(text, [](const JsonValue& v) {
      const auto tag = read_tag(v, "internally tagged enum TransformationWire", "type", kTypes);
      if (!tag) return JsonResult<std::string>(std::unexpected(tag.error()));
      const auto ema = read_record<Ema>(v, {"struct variant TransformationWire::Ema"}, tag_key("type"),
                                        required("input", &Ema::input, read_string));
      if (!ema) return JsonResult<std::string>(std::unexpected(ema.error()));
      return JsonResult<std::string>(std::string(kTypes[*tag]) + ":" + ema->input);
    });
  };
  EXPECT_EQ(read(R"({"input":"a","type":"ema"})"), "ema:a");
  const std::vector<std::pair<std::string, std::string>> rows{
      {"7", "invalid type: integer `7`, expected internally tagged enum TransformationWire at line 1 column 1"},
      {R"({"input":"a"})", "missing field `type` at line 1 column 13"},
      {R"({"type":5})", "invalid type: integer `5`, expected variant identifier at line 1 column 9"},
      {R"({"type":"sma"})", "unknown variant `sma`, expected one of `ema`, `identity` at line 1 column 13"},
      {R"({"type":"ema","type":"ema"})", "duplicate field `type` at line 1 column 20"},
      {R"({"type":"ema","id":"x"})", "unknown field `id`, expected `input` at line 1 column 18"},
  };
  for (const auto& [text, message] : rows) EXPECT_EQ(error_of(read(text)), message) << text;
}

}  // namespace
}  // namespace vorn::serde
