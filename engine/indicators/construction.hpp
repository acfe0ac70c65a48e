// Construction steps shared by the rolling indicators: ring storage obtained
// without aborting, the error that reports storage which could not be had, and
// the argument errors their window checks return.
#pragma once

#include <cstddef>
#include <expected>
#include <utility>

#include "engine/errors.hpp"
#include "engine/ring_buffer.hpp"

namespace vorn {

// Every multi-window indicator holds at most this many windows.
inline constexpr std::size_t kMaxWindows = 16;

// Ring storage that cannot be obtained (a window of 2^40 samples, say) is not
// an argument error: it is reported as
// VornError::InvalidIndicatorDefinition{index 0, kind, ConstructionFailed}
// ("indicator construction failed"). The indicator does not know the index
// of the definition it serves; the compiler reports every builder error other
// than InvalidArgument as ConstructionFailed at the group's own index.
inline VornError construction_failed(IndicatorKind kind) {
  return VornError{vorn_error::InvalidIndicatorDefinition{
      0, kind, InvalidIndicatorDefinitionError{definition_error::ConstructionFailed{}}}};
}

// The ring for `capacity` elements; its memory is not touched until used. A
// capacity of 0 is a broken invariant of the caller (see HeapRingBuffer).
template <class T>
Result<HeapRingBuffer<T>> try_ring(std::size_t capacity, IndicatorKind kind) {
  auto ring = HeapRingBuffer<T>::try_new(capacity);
  if (!ring) return std::unexpected(construction_failed(kind));
  return std::move(*ring);
}

// `return argument_failure(argument_error::WindowPeriodZero{});`
template <class Reason>
std::unexpected<VornError> argument_failure(Reason reason) {
  return std::unexpected(VornError{InvalidArgumentError{std::move(reason)}});
}

// Checks a new window of the last `length` samples of a count indicator
// holding `window_count` windows and a ring of `capacity`: a 17th window
// (WindowLimitReached), a length of 0, a length above the capacity, a sample
// already recorded (WindowAddedAfterData). A length of 0 never exceeds the
// capacity, so the two middle checks may come in either order.
inline Status check_count_window(std::size_t window_count, std::size_t length,
                                 std::size_t capacity, bool holds_data) {
  if (window_count == kMaxWindows) {
    return argument_failure(argument_error::WindowLimitReached{kMaxWindows});
  }
  if (length == 0) return argument_failure(argument_error::WindowPeriodZero{});
  if (length > capacity) {
    return argument_failure(argument_error::WindowPeriodExceedsCapacity{length, capacity});
  }
  if (holds_data) return argument_failure(argument_error::WindowAddedAfterData{});
  return {};
}

}  // namespace vorn
