#include "engine/event.hpp"

#include <cmath>

namespace vorn {
namespace {

Status require_finite(double value, ValueField field) {
  if (std::isfinite(value)) return {};
  return std::unexpected(VornError(InvalidArgumentError(argument_error::NonFiniteEventValue{field})));
}

}  // namespace

Status Event::non_finite_value() const {
  if (const auto* price = std::get_if<Price>(&value)) return require_finite(price->price, ValueField::Price);
  if (const auto* volume = std::get_if<Volume>(&value)) return require_finite(volume->volume, ValueField::Volume);
  if (const auto* trade = std::get_if<Trade>(&value)) {
    if (auto checked = require_finite(trade->price, ValueField::TradePrice); !checked) return checked;
    return require_finite(trade->volume, ValueField::TradeVolume);
  }
  return {};
}

std::optional<OrderBookUpdate> Event::into_order_book_update() const {
  if (const auto* delta = std::get_if<OrderBookDelta>(&value)) {
    return ::vorn::OrderBookDelta{delta->updates, delta->update_id};
  }
  if (const auto* snapshot = std::get_if<OrderBookSnapshot>(&value)) {
    return ::vorn::OrderBookSnapshot{snapshot->bids, snapshot->asks, snapshot->update_id};
  }
  return std::nullopt;
}

}  // namespace vorn
