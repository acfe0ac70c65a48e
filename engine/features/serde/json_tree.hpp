// A parsed JSON text as a small tree for the typed record readers: object
// members in document order (repeated keys kept), the kind of every number,
// and the byte offset of every value so that errors can name a line and
// column. Nesting is capped at kMaxJsonDepth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::serde {

inline constexpr std::size_t kMaxJsonDepth = 128;

enum class JsonKind : std::uint8_t { Null, Boolean, Unsigned, Negative, Float, String, Array, Object };

struct JsonMember;

struct JsonValue {
  JsonKind kind = JsonKind::Null;
  bool boolean = false;
  std::uint64_t unsigned_value = 0;  // Unsigned
  std::int64_t negative_value = 0;   // Negative (always below zero)
  double float_value = 0.0;          // Float
  std::string text;                  // String: the content; Float: the token as written
  std::vector<JsonValue> items;      // Array
  std::vector<JsonMember> members;   // Object, in document order
  // Where errors about this value point: the last byte of a scalar token, the
  // opening bracket of an array or object.
  std::size_t offset = 0;
  // The last byte of the value: the closing bracket of an array or object.
  std::size_t end_offset = 0;
};

struct JsonMember {
  std::string key;
  std::size_t key_offset = 0;  // the key's closing quote
  JsonValue value;
};

// One reading error: the message and, for errors about the text, the byte
// offset it refers to. Messages about the meaning of a whole document carry
// no offset.
struct JsonError {
  std::string message;
  std::optional<std::size_t> offset;
};

template <class T>
using JsonResult = std::expected<T, JsonError>;

// Parses one JSON value; only white space may follow it. The whole text is
// read: a NUL byte is refused where it stands. Syntax errors keep the
// parser's own wording.
JsonResult<JsonValue> parse_json(std::string_view text);

// 1-based line and column (in bytes) of the byte at `offset`; an offset at
// the end of the text names the place just after the last byte.
struct TextPosition {
  std::size_t line = 1;
  std::size_t column = 1;
};
TextPosition text_position(std::string_view text, std::size_t offset);

// The message, followed by " at line {line} column {column}" when the error
// has an offset.
std::string error_text(const JsonError& error, std::string_view text);

}  // namespace vorn::serde
