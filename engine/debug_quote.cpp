#include "engine/debug_quote.hpp"

#include <algorithm>
#include <array>
#include <iterator>

#include <fmt/format.h>

#include "engine/utf8.hpp"

namespace vorn {
namespace {

struct CodeRange {
  char32_t first;
  char32_t last;
};

// Characters that print nothing visible or act on the layout: the format
// characters (soft hyphen, zero-width and bidirectional controls, the byte
// order mark, tag characters, ...) and the line and paragraph separators.
constexpr std::array<CodeRange, 21> kInvisible{{
    {0xAD, 0xAD}, {0x600, 0x605}, {0x61C, 0x61C}, {0x6DD, 0x6DD}, {0x70F, 0x70F},
    {0x890, 0x891}, {0x8E2, 0x8E2}, {0x180E, 0x180E}, {0x200B, 0x200F}, {0x2028, 0x202E},
    {0x2060, 0x2064}, {0x2066, 0x206F}, {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFB}, {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
    {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
}};

bool escaped(char32_t c) {
  if (c < 0x20 || (c >= 0x7f && c <= 0x9f)) return true;
  const auto range = std::ranges::lower_bound(kInvisible, c, {}, &CodeRange::last);
  return range != kInvisible.end() && range->first <= c;
}

}  // namespace

std::string debug_quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const Utf8Char c = decode_utf8(text, i);
    if (c.length == 0) {  // not UTF-8: the byte as it is
      out += text[i++];
      continue;
    }
    switch (c.code) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\0': out += "\\0"; break;
      default:
        if (escaped(c.code)) {
          fmt::format_to(std::back_inserter(out), "\\u{{{:x}}}", static_cast<std::uint32_t>(c.code));
        } else {
          out.append(text.substr(i, c.length));
        }
    }
    i += c.length;
  }
  out += '"';
  return out;
}

}  // namespace vorn
