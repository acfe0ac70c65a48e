// Typed readers over the JSON tree. A record is declared by its name and its
// keys (required or optional, each with a reader and the member it fills);
// read_record reads it and reports the first broken rule in document order:
// wrong type, unknown key, repeated key, missing key. Also scalar, list,
// enumerated-word, tag and untagged count-or-text readers, and read_document,
// which turns a whole text into a value or the message to show.
//
//   struct EventWire { std::string symbol; std::optional<std::string> event; };
//   JsonResult<EventWire> read_event_wire(const JsonValue& v) {
//     return read_record<EventWire>(v, {"struct EventWire"},
//                                   required("symbol", &EventWire::symbol, read_string),
//                                   optional("event", &EventWire::event, read_string));
//   }
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "engine/features/serde/json_tree.hpp"

namespace vorn::serde {

// ---- messages ------------------------------------------------------------------

// The found value as type errors name it: "null", "boolean `true`",
// "integer `-1`", "floating point `2.5`", "string \"x\"", "sequence", "map".
std::string describe(const JsonValue& value);
// "invalid type: {found}, expected {expected}", at the value.
JsonError invalid_type(const JsonValue& value, std::string_view expected);
// Gives a message without a position the place where `value` ends, so that an
// error raised inside a nested value still points into the text.
JsonError located(JsonError error, const JsonValue& value);

// ---- value readers -------------------------------------------------------------

JsonResult<std::string> read_string(const JsonValue& value);    // expected "a string"
JsonResult<std::uint64_t> read_u64(const JsonValue& value);     // "an unsigned integer"
JsonResult<double> read_f64(const JsonValue& value);            // "a number"; integers too
JsonResult<bool> read_bool(const JsonValue& value);             // "a boolean"

// The index of a string among `words` (case matters). Otherwise
// "invalid type: {found}, expected variant identifier" or
// "unknown variant `{text}`, expected one of `{w1}`, `{w2}`, ...".
JsonResult<std::size_t> read_variant(const JsonValue& value, std::span<const std::string_view> words);

// A unit enumeration: its word as a string, or an object whose only key is the
// word and whose value is null ({"contiguous": null}), whose key is then read
// as read_variant reads a string. Any other object is refused as a map.
JsonResult<std::size_t> read_unit_variant(const JsonValue& value, std::span<const std::string_view> words);

// The variant named by the `tag` key of an object (for a tagged union whose
// tag may stand anywhere among the keys): the index of its value among
// `variants`, read as read_variant does. A value that is not an object gives
// the type error naming `expected`; a missing tag "missing field `{tag}`", a
// repeated one "duplicate field `{tag}`".
JsonResult<std::size_t> read_tag(const JsonValue& value, std::string_view expected,
                                 std::string_view tag, std::span<const std::string_view> variants);

// An untagged choice: an unsigned integer (tried first) or a string. Any other
// value gives "data did not match any variant of untagged enum {name}".
using CountOrText = std::variant<std::uint64_t, std::string>;
JsonResult<CountOrText> read_count_or_text(const JsonValue& value, std::string_view name);

template <class Reader>
using ReadType = typename std::invoke_result_t<const Reader&, const JsonValue&>::value_type;

// A reader of arrays whose items `reader` reads; "expected a sequence".
template <class Reader>
auto list_of(Reader reader) {
  return [reader](const JsonValue& value) -> JsonResult<std::vector<ReadType<Reader>>> {
    if (value.kind != JsonKind::Array) return std::unexpected(invalid_type(value, "a sequence"));
    std::vector<ReadType<Reader>> out;
    out.reserve(value.items.size());
    for (const JsonValue& item : value.items) {
      auto read = reader(item);
      if (!read) return std::unexpected(located(std::move(read.error()), item));
      out.push_back(std::move(*read));
    }
    return out;
  };
}

// ---- records -------------------------------------------------------------------

// Whether JSON null stands for an absent optional key (Absent) or is read by
// the key's reader like any other value, and so refused (Refused).
enum class NullRule : std::uint8_t { Refused, Absent };

struct RecordForm {
  std::string_view expected;  // as type errors name the record: "struct IndicatorWire"
  NullRule nulls = NullRule::Refused;
};

template <class Record, class Member, class Reader>
struct KeyRule {
  static constexpr bool kListed = true;
  std::string_view key;
  Member Record::*member;
  Reader reader;
  bool required;

  std::optional<JsonError> read(Record& record, const JsonValue& value, NullRule nulls) const {
    if (!required && nulls == NullRule::Absent && value.kind == JsonKind::Null) return std::nullopt;
    auto result = reader(value);
    if (!result) return std::move(result.error());
    record.*member = std::move(*result);
    return std::nullopt;
  }
};

// A required key: its absence gives "missing field `{key}`".
template <class Record, class Member, class Reader>
constexpr KeyRule<Record, Member, Reader> required(std::string_view key, Member Record::*member,
                                                   Reader reader) {
  return {key, member, reader, true};
}

// An optional key: when absent the member keeps its default (an empty
// std::optional, an empty list).
template <class Record, class Member, class Reader>
constexpr KeyRule<Record, Member, Reader> optional(std::string_view key, Member Record::*member,
                                                   Reader reader) {
  return {key, member, reader, false};
}

// The tag key of a tagged-union variant (read by read_tag): accepted once,
// not read, not listed in the unknown-field message.
struct TagRule {
  static constexpr bool kListed = false;
  std::string_view key;
  bool required = false;

  template <class Record>
  std::optional<JsonError> read(Record&, const JsonValue&, NullRule) const { return std::nullopt; }
};
constexpr TagRule tag_key(std::string_view key) { return TagRule{key}; }

JsonError unknown_field(const JsonMember& member, std::span<const std::string_view> keys,
                        std::span<const bool> listed);
JsonError duplicate_field(const JsonMember& member);
JsonError missing_field(std::string_view key, const JsonValue& object);

template <class Record, class... Rules>
JsonResult<Record> read_record(const JsonValue& value, RecordForm form, const Rules&... rules) {
  constexpr std::size_t n = sizeof...(Rules);
  if (value.kind != JsonKind::Object) return std::unexpected(invalid_type(value, form.expected));
  const std::array<std::string_view, n> keys{rules.key...};
  const std::array<bool, n> listed{Rules::kListed...};
  const std::array<bool, n> required{rules.required...};
  std::array<bool, n> seen{};
  Record record{};
  for (const JsonMember& member : value.members) {
    std::size_t index = 0;
    while (index < n && keys[index] != member.key) ++index;
    if (index == n) return std::unexpected(unknown_field(member, keys, listed));
    if (seen[index]) return std::unexpected(duplicate_field(member));
    seen[index] = true;
    std::optional<JsonError> failure;
    std::size_t i = 0;
    ((i++ == index ? (void)(failure = rules.read(record, member.value, form.nulls)) : void()), ...);
    if (failure) return std::unexpected(located(std::move(*failure), member.value));
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (required[i] && !seen[i]) {
      return std::unexpected(missing_field(keys[i], value));
    }
  }
  return record;
}

// Parses `text` and reads its value with `reader`; the error is the message
// to show, with " at line {line} column {column}" when it has a position.
template <class Reader>
std::expected<ReadType<Reader>, std::string> read_document(std::string_view text, Reader reader) {
  auto tree = parse_json(text);
  if (!tree) return std::unexpected(error_text(tree.error(), text));
  auto value = reader(*tree);
  if (!value) return std::unexpected(error_text(value.error(), text));
  return std::move(*value);
}

}  // namespace vorn::serde
