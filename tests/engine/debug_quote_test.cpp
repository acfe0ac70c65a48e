#include "engine/debug_quote.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace vorn {
namespace {

TEST(DebugQuoted, EscapesQuotesBackslashesAndControls) {
  using namespace std::string_literals;
  const std::vector<std::pair<std::string, std::string>> rows{
      {"", R"("")"},
      {"eth", R"("eth")"},
      {R"(a"b\c)", R"("a\"b\\c")"},
      {"t\tr\rn\n", R"("t\tr\rn\n")"},
      {"nul\0end"s, R"("nul\0end")"},
      {"\x01\x1f\x7f", R"("\u{1}\u{1f}\u{7f}")"},
      {"next\u0085line", R"("next\u{85}line")"},           // a C1 control
      {"caf\u00e9 \u00b5s \u20ac", "\"caf\u00e9 \u00b5s \u20ac\""},  // printable non-ASCII as is
      {"'single'", R"("'single'")"},
      // invisible format characters and separators
      {"a\u00adb\u200b\u200e\u2028\ufeff\U000E0041", R"("a\u{ad}b\u{200b}\u{200e}\u{2028}\u{feff}\u{e0041}")"},
      // spaces other than the plain one written as code points, an emoji as is
      {"no\u00a0break \u202f\u3000 \U0001F600", "\"no\\u{a0}break \\u{202f}\\u{3000} \U0001F600\""},
      {"\xff\xc0\x80\xe2\x80", "\"\xff\xc0\x80\xe2\x80\""},  // not UTF-8: bytes as they are
  };
  for (const auto& [text, quoted] : rows) EXPECT_EQ(debug_quoted(text), quoted);
}

// Every general category that does not print, and its neighbours that do.
TEST(DebugQuoted, WritesCharactersThatDoNotPrintAsCodePoints) {
  const std::vector<std::pair<std::string, std::string>> rows{
      // spaces other than the plain one (Zs)
      {"\u00a0", R"("\u{a0}")"}, {"\u1680", R"("\u{1680}")"}, {"\u2000", R"("\u{2000}")"},
      {"\u2009", R"("\u{2009}")"}, {"\u200a", R"("\u{200a}")"}, {"\u202f", R"("\u{202f}")"},
      {"\u205f", R"("\u{205f}")"}, {"\u3000", R"("\u{3000}")"},
      {"\u2028\u2029", R"("\u{2028}\u{2029}")"},                          // line and paragraph separators
      {"\u009f\u00ad\u200b\U000E0001", R"("\u{9f}\u{ad}\u{200b}\u{e0001}")"},  // controls and format
      // private use (Co), first and last of each area
      {"\ue000\uf8ff", R"("\u{e000}\u{f8ff}")"},
      {"\U000F0000\U0010FFFD", R"("\u{f0000}\u{10fffd}")"},
      // unassigned (Cn)
      {"\u0378\u0379", R"("\u{378}\u{379}")"}, {"\ufffe\uffff", R"("\u{fffe}\u{ffff}")"},
      {"\U000E0000\U000E01F0\U0010FFFF", R"("\u{e0000}\u{e01f0}\u{10ffff}")"},
  };
  for (const auto& [text, quoted] : rows) EXPECT_EQ(debug_quoted(text), quoted) << quoted;
}

TEST(DebugQuoted, CopiesPrintableCharactersAsTheyAre) {
  const std::vector<std::string> rows{
      "plain space and letters",
      "\u00a1\u00ac\u00ae",          // beside the no-break space and the soft hyphen
      "\u00e9\u0301\u0377\u037a",   // a letter, a combining mark, beside the unassigned U+0378..U+0379
      "\uf900\ufffd\U0001F600",      // after the private-use area, the replacement character, an emoji
      "\U000E01EF",                   // the last variation selector, before the unassigned end of plane 14
  };
  for (const auto& text : rows) EXPECT_EQ(debug_quoted(text), "\"" + text + "\"") << text;
}

// A surrogate cannot be encoded in UTF-8: its three bytes are copied as they are.
TEST(DebugQuoted, SurrogateBytesAreNotUtf8) {
  EXPECT_EQ(debug_quoted("\xed\xa0\x80"), "\"\xed\xa0\x80\"");
}

}  // namespace
}  // namespace vorn
