// FeatureDerivation: the runtime state of one feature group, a closed tagged
// union of the derivation kinds. The feature extractor hands it each event
// the router routes to it; it updates its indicator and writes its output
// cells through the sink. Dispatch is a switch over the alternatives.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>
#include <variant>

#include "engine/event.hpp"
#include "engine/features/derivation/clock.hpp"
#include "engine/features/derivation/cvd.hpp"
#include "engine/features/derivation/event_field.hpp"
#include "engine/features/derivation/order_book_query.hpp"
#include "engine/features/derivation/output_sink.hpp"
#include "engine/features/derivation/returns.hpp"
#include "engine/features/derivation/timed.hpp"
#include "engine/features/derivation/trade_count.hpp"
#include "engine/features/derivation/volatility.hpp"
#include "engine/features/derivation/vpt.hpp"

namespace vorn {

struct FeatureDerivation {
  using Variant = std::variant<CvdFeature, EventFieldFeature, SmaTimedFeature, ObvTimedFeature,
                               TradeCountTimedFeature, TradeVolumeTimedFeature, VwapTimedFeature, ReturnsFeature,
                               VolatilityFeature, VolatilityTimedFeature, VptFeature, DayOfWeekFeature,
                               TimeSinceFirstEventOfDayFeature, OrderBookQueryFeature>;
  Variant value;

  template <class T>
    requires(std::is_constructible_v<Variant, T &&> &&
             !std::is_same_v<std::remove_cvref_t<T>, FeatureDerivation>)
  FeatureDerivation(T&& alternative) : value(std::forward<T>(alternative)) {}

  // Applies one routed event: cells out_start .. out_start + n_outputs - 1
  // are written (value and flag) or, when the event does not concern this
  // derivation, left untouched. Never fails.
  void update(const Event& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink) {
    std::visit(
        [&]<class D>(D& derivation) {
          if constexpr (TimedDerivation<D>) {
            update_timed(derivation, event, out_start, n_outputs, sink);
          } else {
            derivation.update(event, out_start, n_outputs, sink);
          }
        },
        value);
  }

  // The order-book query of a book feature group; null for the other kinds.
  const OrderBookQueryFeature* order_book_query() const { return std::get_if<OrderBookQueryFeature>(&value); }
};

}  // namespace vorn
