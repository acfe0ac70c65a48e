// Debug quoting of a text, as messages and debug forms print it: "eth",
// "a\"b", "tab\there", "bell\u{7}".
#pragma once

#include <string>
#include <string_view>

namespace vorn {

// The text in double quotes. A backslash goes before `"` and `\`; tab,
// carriage return, line feed and NUL are written \t, \r, \n and \0; the other
// control characters (U+0001 to U+001F, U+007F to U+009F), the invisible
// format characters (soft hyphen, zero-width and bidirectional marks, byte
// order mark, ...) and the line and paragraph separators are written \u{hex}
// with lower-case digits. Everything else, non-ASCII letters and spaces
// included, is copied as it is, and so are bytes that are not valid UTF-8.
std::string debug_quoted(std::string_view text);

}  // namespace vorn
