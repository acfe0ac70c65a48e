#include "engine/types.hpp"

#include "engine/panic.hpp"

namespace vorn {

std::string_view display(EventKind kind) {
  switch (kind) {
    case EventKind::Price: return "price";
    case EventKind::Volume: return "volume";
    case EventKind::Trade: return "trade";
    case EventKind::OrderBookDelta: return "order book delta";
    case EventKind::OrderBookSnapshot: return "order book snapshot";
    case EventKind::Time: return "time";
  }
  unreachable("invalid event kind");
}

std::string_view json_word(EventKind kind) {
  switch (kind) {
    case EventKind::Price: return "price";
    case EventKind::Volume: return "volume";
    case EventKind::Trade: return "trade";
    case EventKind::OrderBookDelta: return "order_book_delta";
    case EventKind::OrderBookSnapshot: return "order_book_snapshot";
    case EventKind::Time: return "time";
  }
  unreachable("invalid event kind");
}

std::string_view debug_name(EventKind kind) {
  switch (kind) {
    case EventKind::Price: return "Price";
    case EventKind::Volume: return "Volume";
    case EventKind::Trade: return "Trade";
    case EventKind::OrderBookDelta: return "OrderBookDelta";
    case EventKind::OrderBookSnapshot: return "OrderBookSnapshot";
    case EventKind::Time: return "Time";
  }
  unreachable("invalid event kind");
}

std::string_view json_word(Side side) { return side == Side::Bid ? "bid" : "ask"; }
std::string_view debug_name(Side side) { return side == Side::Bid ? "Bid" : "Ask"; }

std::string_view json_word(WarmupPolicy policy) {
  return policy == WarmupPolicy::FirstValue ? "first_value" : "full_window";
}
std::string_view debug_name(WarmupPolicy policy) {
  return policy == WarmupPolicy::FirstValue ? "FirstValue" : "FullWindow";
}

std::string_view display(ValueField field) {
  switch (field) {
    case ValueField::Price: return "price";
    case ValueField::Volume: return "volume";
    case ValueField::TradePrice: return "trade price";
    case ValueField::TradeVolume: return "trade volume";
  }
  unreachable("invalid value field");
}

std::string_view json_word(ValueField field) {
  switch (field) {
    case ValueField::Price: return "price";
    case ValueField::Volume: return "volume";
    case ValueField::TradePrice: return "trade_price";
    case ValueField::TradeVolume: return "trade_volume";
  }
  unreachable("invalid value field");
}

std::string_view debug_name(ValueField field) {
  switch (field) {
    case ValueField::Price: return "Price";
    case ValueField::Volume: return "Volume";
    case ValueField::TradePrice: return "TradePrice";
    case ValueField::TradeVolume: return "TradeVolume";
  }
  unreachable("invalid value field");
}

}  // namespace vorn
