// Debug quoting of a text, as messages and debug forms print it: "eth",
// "a\"b", "tab\there", "bell\u{7}".
#pragma once

#include <string>
#include <string_view>

namespace vorn {

// The text in double quotes. A backslash goes before `"` and `\`; tab,
// carriage return, line feed and NUL are written \t, \r, \n and \0; every other
// character that does not print is written \u{hex} with lower-case digits:
// the controls, the format characters (soft hyphen, zero-width and
// bidirectional marks, byte order mark, ...), private-use and unassigned code
// points, the line and paragraph separators and every space other than the
// plain one (no-break, thin, ideographic, ...). Everything else, non-ASCII
// letters, marks and symbols included, is copied as it is, and so are bytes
// that are not valid UTF-8.
std::string debug_quoted(std::string_view text);

}  // namespace vorn
