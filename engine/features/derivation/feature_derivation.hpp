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
#include "engine/panic.hpp"

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
    update(EventView::of(event), out_start, n_outputs, sink);
  }
  // The same, for an event unpacked once for every derivation it reaches.
  // A switch over the alternatives, each update inlined in its case.
  void update(const EventView& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink) {
    static_assert(std::variant_size_v<Variant> == 14);
    switch (value.index()) {
      case 0: return apply<0>(event, out_start, n_outputs, sink);
      case 1: return apply<1>(event, out_start, n_outputs, sink);
      case 2: return apply<2>(event, out_start, n_outputs, sink);
      case 3: return apply<3>(event, out_start, n_outputs, sink);
      case 4: return apply<4>(event, out_start, n_outputs, sink);
      case 5: return apply<5>(event, out_start, n_outputs, sink);
      case 6: return apply<6>(event, out_start, n_outputs, sink);
      case 7: return apply<7>(event, out_start, n_outputs, sink);
      case 8: return apply<8>(event, out_start, n_outputs, sink);
      case 9: return apply<9>(event, out_start, n_outputs, sink);
      case 10: return apply<10>(event, out_start, n_outputs, sink);
      case 11: return apply<11>(event, out_start, n_outputs, sink);
      case 12: return apply<12>(event, out_start, n_outputs, sink);
      case 13: return apply<13>(event, out_start, n_outputs, sink);
      default: unreachable("derivation kind out of range");
    }
  }

  // The order-book query of a book feature group; null for the other kinds.
  const OrderBookQueryFeature* order_book_query() const { return std::get_if<OrderBookQueryFeature>(&value); }

private:
  template <std::size_t I>
  void apply(const EventView& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink) {
    auto& derivation = *std::get_if<I>(&value);
    if constexpr (TimedDerivation<std::remove_reference_t<decltype(derivation)>>) {
      update_timed(derivation, event, out_start, n_outputs, sink);
    } else {
      derivation.update(event, out_start, n_outputs, sink);
    }
  }
};

}  // namespace vorn
