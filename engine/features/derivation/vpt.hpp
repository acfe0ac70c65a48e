// VptFeature: volume-price trend of the trades of one symbol, the running sum
// of (price - previous price) × quantity / previous price.
#pragma once

#include <cstddef>
#include <optional>

#include "engine/event.hpp"
#include "engine/features/derivation/event_field.hpp"
#include "engine/features/derivation/output_sink.hpp"
#include "engine/symbols.hpp"

namespace vorn {

struct VptFeature {
  std::optional<double> previous_price;
  double sum = 0.0;
  Symbol symbol;

  // A trade after a nonzero previous price adds to the sum; every trade
  // becomes the previous one and writes the sum (0.0 after the first).
  void update(const EventView& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink) {
    if (!is_own_trade(event, symbol)) return;
    if (previous_price && *previous_price != 0.0) {
      sum = sum + (event.price - *previous_price) * event.volume / *previous_price;
    }
    previous_price = event.price;
    write_outputs(sink, out_start, n_outputs, 1, [this](std::size_t) { return sum; });
  }
};

}  // namespace vorn
