#include "engine/features/serde/json_tree.hpp"

#include <algorithm>
#include <iterator>
#include <utility>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "engine/panic.hpp"
#include "engine/utf8.hpp"

namespace vorn::serde {
namespace {

// The parser takes a NUL byte outside a string for the end of the text (as in
// a C string) and would stop there, so such a byte reaches it as this stand-in,
// which it refuses like any other stray control character. Inside a string
// the parser refuses a NUL by itself.
constexpr char kNulStandIn = '\x01';

// What the parser has taken of the text: the byte count, so that each parser
// callback knows where its token ended, and whether the next byte stands
// inside a string.
struct Progress {
  std::size_t consumed = 0;
  bool in_string = false;
  bool escaped = false;  // the previous byte was a backslash inside a string

  void take(char byte) {
    ++consumed;
    if (escaped) {
      escaped = false;
    } else if (byte == '"') {
      in_string = !in_string;
    } else if (in_string && byte == '\\') {
      escaped = true;
    }
  }
};

// Input iterator over the whole text, NUL bytes included.
class TextIterator {
public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = char;

  TextIterator(const char* position, Progress* progress) : position_(position), progress_(progress) {}
  char operator*() const { return *position_ == '\0' && !progress_->in_string ? kNulStandIn : *position_; }
  TextIterator& operator++() {
    progress_->take(*position_);
    ++position_;
    return *this;
  }
  TextIterator operator++(int) {
    TextIterator before = *this;
    ++*this;
    return before;
  }
  friend bool operator==(const TextIterator& a, const TextIterator& b) { return a.position_ == b.position_; }

private:
  const char* position_;
  Progress* progress_;
};

// The parser's text without its "[json.exception...] " prefix and without its
// own " at line L, column C" (the caller appends the position in our form).
// The bytes it quotes from the input may end inside a character, so broken
// sequences become U+FFFD. When the refused byte is a NUL, the stand-in it
// quotes is shown as the NUL it stands for (any other such byte before it would
// have been refused first).
std::string parser_message(std::string_view what, bool at_nul) {
  if (what.starts_with("[json.exception.")) {
    const std::size_t end = what.find("] ");
    if (end != std::string_view::npos) what.remove_prefix(end + 2);
  }
  std::string out(what);
  const std::size_t at = out.find(" at line ");
  if (at != std::string::npos) {
    std::size_t end = at + 9;
    auto skip_digits = [&] {
      while (end < out.size() && out[end] >= '0' && out[end] <= '9') ++end;
    };
    skip_digits();
    if (out.compare(end, 9, ", column ") == 0) {
      end += 9;
      skip_digits();
      out.erase(at, end - at);
    }
  }
  if (at_nul) {
    for (std::size_t shown = out.find("<U+0001>"); shown != std::string::npos; shown = out.find("<U+0001>", shown)) {
      out.replace(shown, 8, "<U+0000>");
    }
  }
  return to_valid_utf8(out);
}

// Builds the tree from the parser's callbacks. Open containers wait on a
// stack with the key they were opened under.
class TreeBuilder {
public:
  TreeBuilder(std::string_view text, const std::size_t* consumed)
      : text_(text), consumed_(consumed) {}

  bool null() { return scalar(JsonValue{}); }
  bool boolean(bool value) {
    JsonValue v;
    v.kind = JsonKind::Boolean;
    v.boolean = value;
    return scalar(std::move(v));
  }
  bool number_integer(std::int64_t value) {
    JsonValue v;
    if (value < 0) {
      v.kind = JsonKind::Negative;
      v.negative_value = value;
    } else {  // "-0"
      v.kind = JsonKind::Unsigned;
    }
    return number(std::move(v));
  }
  bool number_unsigned(std::uint64_t value) {
    JsonValue v;
    v.kind = JsonKind::Unsigned;
    v.unsigned_value = value;
    return number(std::move(v));
  }
  bool number_float(double value, const std::string& token) {
    JsonValue v;
    v.kind = JsonKind::Float;
    v.float_value = value;
    v.text = token;
    return number(std::move(v));
  }
  bool string(std::string& value) {
    JsonValue v;
    v.kind = JsonKind::String;
    v.text = std::move(value);
    return scalar(std::move(v));
  }
  bool binary(nlohmann::json::binary_t&) { return false; }  // not produced by JSON text

  bool key(std::string& key) {
    key_ = std::move(key);
    key_offset_ = last_byte();
    return true;
  }
  bool start_object(std::size_t) { return open(JsonKind::Object); }
  bool start_array(std::size_t) { return open(JsonKind::Array); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool parse_error(std::size_t byte, const std::string&, const nlohmann::detail::exception& ex) {
    const std::size_t offset = byte > 0 ? byte - 1 : 0;
    const bool at_nul = offset < text_.size() && text_[offset] == '\0';
    error_ = JsonError{parser_message(ex.what(), at_nul), offset};
    return false;
  }

  JsonResult<JsonValue> finish(bool accepted) {
    if (error_) return std::unexpected(std::move(*error_));
    if (!accepted) unreachable("the JSON parser stopped without an error");
    return std::move(root_);
  }

private:
  struct Open {
    JsonValue value;
    std::string key;
    std::size_t key_offset;
  };

  std::size_t last_byte() const { return *consumed_ > 0 ? *consumed_ - 1 : 0; }

  bool scalar(JsonValue value) {
    value.offset = value.end_offset = last_byte();
    attach(std::move(value), std::move(key_), key_offset_);
    return true;
  }

  // The parser reads one byte past a number unless the number ends the text;
  // the last byte of a number is always a digit.
  bool number(JsonValue value) {
    const std::size_t end = last_byte();
    const bool read_past = end > 0 && (text_[end] < '0' || text_[end] > '9');
    value.offset = value.end_offset = read_past ? end - 1 : end;
    attach(std::move(value), std::move(key_), key_offset_);
    return true;
  }

  bool open(JsonKind kind) {
    if (stack_.size() == kMaxJsonDepth) {
      error_ = JsonError{"recursion limit exceeded", last_byte()};
      return false;
    }
    JsonValue value;
    value.kind = kind;
    value.offset = last_byte();
    stack_.push_back(Open{std::move(value), std::move(key_), key_offset_});
    return true;
  }

  bool close() {
    Open done = std::move(stack_.back());
    stack_.pop_back();
    done.value.end_offset = last_byte();
    attach(std::move(done.value), std::move(done.key), done.key_offset);
    return true;
  }

  void attach(JsonValue value, std::string key, std::size_t key_offset) {
    if (stack_.empty()) {
      root_ = std::move(value);
    } else if (JsonValue& parent = stack_.back().value; parent.kind == JsonKind::Array) {
      parent.items.push_back(std::move(value));
    } else {
      parent.members.push_back(JsonMember{std::move(key), key_offset, std::move(value)});
    }
  }

  std::string_view text_;
  const std::size_t* consumed_;
  std::vector<Open> stack_;
  std::string key_;
  std::size_t key_offset_ = 0;
  JsonValue root_;
  std::optional<JsonError> error_;
};

}  // namespace

JsonResult<JsonValue> parse_json(std::string_view text) {
  Progress progress;
  TreeBuilder builder(text, &progress.consumed);
  const char* begin = text.data();
  const bool accepted = nlohmann::json::sax_parse(TextIterator(begin, &progress),
                                                  TextIterator(begin + text.size(), &progress), &builder);
  return builder.finish(accepted);
}

TextPosition text_position(std::string_view text, std::size_t offset) {
  const std::string_view before = text.substr(0, std::min(offset, text.size()));
  const std::size_t newline = before.rfind('\n');
  const std::size_t line_start = newline == std::string_view::npos ? 0 : newline + 1;
  return TextPosition{static_cast<std::size_t>(std::ranges::count(before, '\n')) + 1,
                      offset - line_start + 1};
}

std::string error_text(const JsonError& error, std::string_view text) {
  if (!error.offset) return error.message;
  const TextPosition at = text_position(text, *error.offset);
  return fmt::format("{} at line {} column {}", error.message, at.line, at.column);
}

}  // namespace vorn::serde
