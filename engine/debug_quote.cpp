#include "engine/debug_quote.hpp"

#include <fmt/format.h>

namespace vorn {

std::string debug_quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    switch (byte) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      case '\0': out += "\\0"; continue;
      default: break;
    }
    if (byte < 0x20 || byte == 0x7f) {
      fmt::format_to(std::back_inserter(out), "\\u{{{:x}}}", byte);
    } else if (byte == 0xc2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      // U+0080 to U+009F, encoded as C2 80 to C2 9F.
      fmt::format_to(std::back_inserter(out), "\\u{{{:x}}}", static_cast<unsigned char>(text[i + 1]));
      ++i;
    } else {
      out += static_cast<char>(byte);
    }
  }
  out += '"';
  return out;
}

}  // namespace vorn
