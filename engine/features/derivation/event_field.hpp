// The value an event carries for a ValueField, and EventFieldFeature, the
// derivation that copies that value into its one cell.
#pragma once

#include <cstddef>
#include <optional>

#include "engine/event.hpp"
#include "engine/features/derivation/output_sink.hpp"
#include "engine/types.hpp"

namespace vorn {

// Price: a price event's price; Volume: a volume event's volume; TradePrice
// and TradeVolume: a trade's price or quantity. None for other events.
inline std::optional<double> field_value(const EventView& event, ValueField field) {
  switch (field) {
    case ValueField::Price:
      if (event.kind == EventKind::Price) return event.price;
      break;
    case ValueField::Volume:
      if (event.kind == EventKind::Volume) return event.volume;
      break;
    case ValueField::TradePrice:
      if (event.kind == EventKind::Trade) return event.price;
      break;
    case ValueField::TradeVolume:
      if (event.kind == EventKind::Trade) return event.volume;
      break;
  }
  return std::nullopt;
}

inline std::optional<double> field_value(const Event& event, ValueField field) {
  return field_value(EventView::of(event), field);
}

// True for a trade that belongs to `symbol`.
inline bool is_own_trade(const EventView& event, Symbol symbol) {
  return event.kind == EventKind::Trade && event.symbol == symbol;
}

// Copies the field of every event that carries it; the router delivers only
// the events of the group's symbol.
struct EventFieldFeature {
  ValueField field = ValueField::Price;

  void update(const EventView& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink) {
    const auto value = field_value(event, field);
    if (!value) return;
    write_outputs(sink, out_start, n_outputs, 1, [&](std::size_t) { return *value; });
  }
};

}  // namespace vorn
