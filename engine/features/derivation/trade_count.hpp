// TradeCountTimedFeature: the number of trades of one symbol inside one time
// window, from a TradeCountTimed counter made by TradeCountTimed::new_heap.
#pragma once

#include <cstddef>
#include <variant>

#include "engine/event.hpp"
#include "engine/features/derivation/output_sink.hpp"
#include "engine/features/derivation/timed.hpp"
#include "engine/indicators/counts/trade_count_timed.hpp"
#include "engine/symbols.hpp"

namespace vorn {

struct TradeCountTimedFeature {
  TradeCountTimed indicator;
  Symbol symbol;

  // A trade counts 1.0.
  bool feed(const EventView& event) {
    if (!event.is_trade()) return false;
    indicator.update(1.0, event.timestamp);
    return true;
  }
  // The count once ready; NaN before.
  double output(std::size_t) const { return indicator.ready() ? indicator.count() : kNoValue; }
};

// One window.
inline std::size_t timed_outputs(const TradeCountTimedFeature&) { return 1; }

}  // namespace vorn
