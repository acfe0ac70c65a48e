// Symbols: 16-bit ids into the one process-wide interner. Names are ASCII
// lower-cased before interning; id 0 is the global symbol "__global__".
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace vorn {

struct VornError;

struct Symbol {
  std::uint16_t id = 0;

  static constexpr Symbol global() { return Symbol{0}; }
  constexpr bool is_global() const { return id == 0; }

  // The stored name ("__global__" for id 0). Aborts for an id never handed out.
  std::string resolve_as_string() const;
  // "GLOBAL" for id 0, otherwise the interned name.
  std::string display() const;
  // Symbol("eth"), or Symbol(7) for an id the interner does not know.
  std::string debug() const;

  friend constexpr bool operator==(Symbol, Symbol) = default;
  friend constexpr auto operator<=>(Symbol, Symbol) = default;
};

inline constexpr std::size_t kSymbolLimit = 512;
inline constexpr std::string_view kGlobalSymbolName = "__global__";

namespace symbols {
// Interns a name (ASCII lower-cased first) and returns its id; ids are handed
// out densely in order of first interning. Fails with LimitExceeded once 512
// ids exist, leaving the interner unchanged. Any text is accepted, the empty
// one included. Thread-safe. Include errors.hpp to call.
std::expected<Symbol, VornError> intern(std::string_view name);
}  // namespace symbols

}  // namespace vorn

template <>
struct fmt::formatter<vorn::Symbol> : fmt::formatter<std::string_view> {
  auto format(vorn::Symbol symbol, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(symbol.display(), ctx);
  }
};
