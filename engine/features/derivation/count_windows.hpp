// Builder steps shared by the windowed derivations: the largest window
// length or period, and adding every window in order to an indicator.
#pragma once

#include <algorithm>
#include <cstdint>
#include <expected>
#include <span>
#include <utility>

#include "engine/errors.hpp"

namespace vorn {

// 0 for an empty list.
inline std::uint64_t largest_window(std::span<const std::uint64_t> windows) {
  return windows.empty() ? 0 : *std::ranges::max_element(windows);
}

// Adds the windows in order; the first refusal is returned.
template <class Indicator>
Status add_windows(Indicator& indicator, std::span<const std::uint64_t> windows) {
  for (const std::uint64_t window : windows) {
    if (auto added = indicator.add_window(window); !added) return added;
  }
  return {};
}

// A newly created indicator with the windows added in order, or the first
// error of either step.
template <class Indicator>
Result<Indicator> with_windows(Result<Indicator> indicator, std::span<const std::uint64_t> windows) {
  if (!indicator) return indicator;
  if (auto added = add_windows(*indicator, windows); !added) return std::unexpected(std::move(added.error()));
  return indicator;
}

// The derivation `make` builds around an indicator, or the indicator's error.
template <class Indicator, class Make>
auto into_feature(Result<Indicator> indicator, Make&& make) -> Result<decltype(make(std::move(*indicator)))> {
  if (!indicator) return std::unexpected(std::move(indicator.error()));
  return make(std::move(*indicator));
}

}  // namespace vorn
