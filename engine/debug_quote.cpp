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

// The characters that print nothing of their own: controls, format
// characters, surrogates, private-use and unassigned code points, and the
// separators other than the plain space.
#include "engine/non_printable_ranges.inc"

bool escaped(char32_t c) {
  const auto range = std::ranges::lower_bound(kNonPrintable, c, {}, &CodeRange::last);
  return range != kNonPrintable.end() && range->first <= c;
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
