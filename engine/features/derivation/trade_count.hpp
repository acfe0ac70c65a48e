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

  void update(const Event& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink) {
    update_timed(*this, event, out_start, n_outputs, sink);
  }
  // A trade counts 1.0.
  bool feed(const Event& event) {
    if (!std::holds_alternative<Event::Trade>(event.value)) return false;
    indicator.update(1.0, event.timestamp());
    return true;
  }
  std::size_t window_count() const { return 1; }
  // The count once ready; NaN before.
  double output(std::size_t) const { return indicator.ready() ? indicator.count() : kNoValue; }
};

}  // namespace vorn
