// UTF-8 decoding for code that walks a text character by character and must
// cope with bytes that are not UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorn {

struct Utf8Char {
  char32_t code = 0;
  std::size_t length = 0;  // 0: no well-formed character starts here
};

// The character starting at byte `i`; overlong forms, surrogates, values above
// U+10FFFF and truncated sequences are not well formed.
Utf8Char decode_utf8(std::string_view text, std::size_t i);

// The text with every byte that starts no well-formed character replaced by
// U+FFFD.
std::string to_valid_utf8(std::string_view text);

}  // namespace vorn
