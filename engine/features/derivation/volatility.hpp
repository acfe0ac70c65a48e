// VolatilityFeature: rolling volatility of the simple returns of one value
// field of one symbol, over up to 16 windows of the last n returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/errors.hpp"
#include "engine/event.hpp"
#include "engine/features/derivation/output_sink.hpp"
#include "engine/indicators/volatility/rolling_volatility.hpp"
#include "engine/symbols.hpp"
#include "engine/types.hpp"

namespace vorn {

struct VolatilityFeature {
  RollingVolatility volatility;
  WarmupPolicy warmup = WarmupPolicy::FirstValue;
  Symbol symbol;
  ValueField field = ValueField::Price;

  void update(const EventView& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink);
  // Window k's population volatility, NaN without returns; FullWindow also
  // needs the window's length of returns held, FirstValue a previous value.
  double output(std::size_t k) const;
};

namespace volatility {
// A ring of the largest window (0, or an empty list, is a broken
// invariant), then the windows in order (RollingVolatility::add_window's
// checks).
Result<VolatilityFeature> build(Symbol symbol, ValueField field, std::span<const std::uint64_t> windows,
                                WarmupPolicy warmup);
}  // namespace volatility

}  // namespace vorn
