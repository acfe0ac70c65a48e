// ReturnsFeature: simple or log returns of one value field of one symbol over
// up to 16 lags, from a ring of the last (largest lag + 1) values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/errors.hpp"
#include "engine/event.hpp"
#include "engine/features/derivation/output_sink.hpp"
#include "engine/features/feature_key.hpp"
#include "engine/indicators/construction.hpp"
#include "engine/ring_buffer.hpp"
#include "engine/symbols.hpp"
#include "engine/types.hpp"

namespace vorn {

struct ReturnsFeature {
  HeapRingBuffer<double> values;  // oldest first
  std::array<std::uint64_t, kMaxWindows> lags{};
  std::size_t lag_count = 0;
  ReturnKind kind = ReturnKind::Simple;
  Symbol symbol;
  ValueField field = ValueField::Price;

  void update(const EventView& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink);
  // The return over lag k once lag + 1 values are held: simple
  // (current - past) / past, NaN when past is 0; log ln(current) - ln(past),
  // NaN unless both are positive.
  double output(std::size_t k) const;
};

namespace returns {
// A ring of the largest lag + 1 values, then each lag in order: a 17th
// (WindowLimitReached), 0 (WindowPeriodZero), not below the capacity.
Result<ReturnsFeature> build(Symbol symbol, ValueField field, ReturnKind kind, std::span<const std::uint64_t> lags);
}  // namespace returns

}  // namespace vorn
