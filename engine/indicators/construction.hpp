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

}  // namespace vorn
