// The one assertion of the fuzz targets: a broken property prints what broke
// and aborts, which libFuzzer reports as a crash together with the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace vorn::fuzz {

inline void check(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "broken property: %s\n", property);
  std::abort();
}

}  // namespace vorn::fuzz
