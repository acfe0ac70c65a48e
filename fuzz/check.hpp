// The one assertion of the fuzz targets: a broken property prints what broke
// and aborts, which libFuzzer reports as a crash together with the input.
// `as_text` hands the input to a target over text and turns a broken
// internal invariant into the same kind of crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "engine/panic.hpp"

namespace vorn::fuzz {

inline void check(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "broken property: %s\n", property);
  std::abort();
}

template <class Target>
int as_text(const std::uint8_t* data, std::size_t size, Target target) {
  try {
    target(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const Panic& panic) {
    std::fprintf(stderr, "panic: %s\n", panic.what());
    std::abort();
  }
  return 0;
}

}  // namespace vorn::fuzz
