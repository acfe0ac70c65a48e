#include "engine/features/serde/json_records.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "engine/debug_quote.hpp"
#include "engine/panic.hpp"

namespace vorn::serde {
namespace {

// "`a`" or "one of `a`, `b`, `c`".
std::string expected_names(std::span<const std::string_view> names) {
  if (names.size() == 1) return fmt::format("`{}`", names.front());
  std::string out = "one of ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    fmt::format_to(std::back_inserter(out), "{}`{}`", i == 0 ? "" : ", ", names[i]);
  }
  return out;
}

// The index of `text` among `words`; the unknown-variant error points at `offset`.
JsonResult<std::size_t> variant_index(std::string_view text, std::size_t offset,
                                      std::span<const std::string_view> words) {
  const auto found = std::ranges::find(words, text);
  if (found != words.end()) return static_cast<std::size_t>(found - words.begin());
  const std::string expected =
      words.empty() ? "there are no variants" : "expected " + expected_names(words);
  return std::unexpected(JsonError{fmt::format("unknown variant `{}`, {}", text, expected), offset});
}

}  // namespace

JsonResult<std::size_t> read_variant(const JsonValue& value, std::span<const std::string_view> words) {
  if (value.kind != JsonKind::String) return std::unexpected(invalid_type(value, "variant identifier"));
  return variant_index(value.text, value.offset, words);
}

JsonResult<std::size_t> read_unit_variant(const JsonValue& value, std::span<const std::string_view> words) {
  if (value.kind == JsonKind::Object && value.members.size() == 1 &&
      value.members.front().value.kind == JsonKind::Null) {
    const JsonMember& member = value.members.front();
    return variant_index(member.key, member.key_offset, words);
  }
  return read_variant(value, words);
}

std::string describe(const JsonValue& value) {
  switch (value.kind) {
    case JsonKind::Null: return "null";
    case JsonKind::Boolean: return fmt::format("boolean `{}`", value.boolean);
    case JsonKind::Unsigned: return fmt::format("integer `{}`", value.unsigned_value);
    case JsonKind::Negative: return fmt::format("integer `{}`", value.negative_value);
    case JsonKind::Float: return fmt::format("floating point `{}`", value.text);
    case JsonKind::String: return "string " + debug_quoted(value.text);
    case JsonKind::Array: return "sequence";
    case JsonKind::Object: return "map";
  }
  unreachable("invalid JSON value kind");
}

JsonError invalid_type(const JsonValue& value, std::string_view expected) {
  return JsonError{fmt::format("invalid type: {}, expected {}", describe(value), expected), value.offset};
}

JsonError located(JsonError error, const JsonValue& value) {
  if (!error.offset) error.offset = value.end_offset;
  return error;
}

JsonResult<std::string> read_string(const JsonValue& value) {
  if (value.kind != JsonKind::String) return std::unexpected(invalid_type(value, "a string"));
  return value.text;
}

JsonResult<std::uint64_t> read_u64(const JsonValue& value) {
  if (value.kind != JsonKind::Unsigned) return std::unexpected(invalid_type(value, "an unsigned integer"));
  return value.unsigned_value;
}

JsonResult<double> read_f64(const JsonValue& value) {
  switch (value.kind) {
    case JsonKind::Unsigned: return static_cast<double>(value.unsigned_value);
    case JsonKind::Negative: return static_cast<double>(value.negative_value);
    case JsonKind::Float: return value.float_value;
    default: return std::unexpected(invalid_type(value, "a number"));
  }
}

JsonResult<bool> read_bool(const JsonValue& value) {
  if (value.kind != JsonKind::Boolean) return std::unexpected(invalid_type(value, "a boolean"));
  return value.boolean;
}

JsonResult<std::size_t> read_tag(const JsonValue& value, std::string_view expected,
                                 std::string_view tag, std::span<const std::string_view> variants) {
  if (value.kind != JsonKind::Object) return std::unexpected(invalid_type(value, expected));
  std::optional<std::size_t> found;
  for (const JsonMember& member : value.members) {
    if (member.key != tag) continue;
    if (found) return std::unexpected(duplicate_field(member));
    auto index = read_variant(member.value, variants);
    if (!index) return std::unexpected(std::move(index.error()));
    found = *index;
  }
  if (!found) return std::unexpected(missing_field(tag, value));
  return *found;
}

JsonResult<CountOrText> read_count_or_text(const JsonValue& value, std::string_view name) {
  if (value.kind == JsonKind::Unsigned) return CountOrText{value.unsigned_value};
  if (value.kind == JsonKind::String) return CountOrText{value.text};
  return std::unexpected(
      JsonError{fmt::format("data did not match any variant of untagged enum {}", name), value.end_offset});
}

JsonError unknown_field(const JsonMember& member, std::span<const std::string_view> keys,
                        std::span<const bool> listed) {
  std::vector<std::string_view> names;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (listed[i]) names.push_back(keys[i]);
  }
  const std::string expected =
      names.empty() ? "there are no fields" : "expected " + expected_names(names);
  return JsonError{fmt::format("unknown field `{}`, {}", member.key, expected), member.key_offset};
}

JsonError missing_field(std::string_view key, const JsonValue& object) {
  return JsonError{fmt::format("missing field `{}`", key), object.end_offset};
}

JsonError duplicate_field(const JsonMember& member) {
  return JsonError{fmt::format("duplicate field `{}`", member.key), member.key_offset};
}

}  // namespace vorn::serde
