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
      {"no\u00a0break \u202f\u3000 \U0001F600", "\"no\u00a0break \u202f\u3000 \U0001F600\""},  // spaces, emoji as is
      {"\xff\xc0\x80\xe2\x80", "\"\xff\xc0\x80\xe2\x80\""},  // not UTF-8: bytes as they are
  };
  for (const auto& [text, quoted] : rows) EXPECT_EQ(debug_quoted(text), quoted);
}

}  // namespace
}  // namespace vorn
