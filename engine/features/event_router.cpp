#include "engine/features/event_router.hpp"

#include <algorithm>
#include <expected>
#include <string>

#include "engine/panic.hpp"

namespace vorn {
namespace {

constexpr std::size_t kLimit = 65535;

std::unexpected<VornError> limit_exceeded(LimitTarget target, std::size_t count) {
  return std::unexpected(VornError{InvalidArgumentError{argument_error::LimitExceeded{target, count, kLimit}}});
}

}  // namespace

std::span<const std::uint16_t> SubscriberRange::as_slice(std::span<const std::uint16_t> subscribers) const {
  const std::size_t end = std::size_t{start} + len;
  if (end > subscribers.size()) {
    panic("range end index " + std::to_string(end) + " out of range for slice of length " +
          std::to_string(subscribers.size()));
  }
  return subscribers.subspan(start, len);
}

const RouteRecord* EventRouter::record(Symbol symbol) const {
  if (symbol.id >= symbol_table_.size()) return nullptr;
  const SymbolSlot& slot = symbol_table_[symbol.id];
  return slot.present != 0 ? &records_[slot.index] : nullptr;
}

Result<EventRouter> EventRouter::from_routes(std::span<const std::pair<Symbol, EventRoute>> routes) {
  EventRouter router;
  std::size_t table_length = 0;
  for (const auto& [symbol, route] : routes) {
    if (route != EventRoute::AnyEvent) table_length = std::max(table_length, std::size_t{symbol.id} + 1);
  }
  router.symbol_table_.assign(table_length, SymbolSlot{});

  // The lists before flattening: seven per record, then the global one.
  using Lists = std::array<std::vector<std::uint16_t>, 7>;
  std::vector<Lists> lists;
  std::vector<std::uint16_t> global;
  for (std::size_t i = 0; i < routes.size(); ++i) {
    if (i > kLimit) return limit_exceeded(LimitTarget::RuntimeFeatures, routes.size());
    const auto index = static_cast<std::uint16_t>(i);
    const auto [symbol, route] = routes[i];
    if (route == EventRoute::AnyEvent) {
      global.push_back(index);
      continue;
    }
    SymbolSlot& slot = router.symbol_table_[symbol.id];
    if (slot.present == 0) {
      if (lists.size() > kLimit) return limit_exceeded(LimitTarget::SymbolRouters, lists.size() + 1);
      slot = SymbolSlot{1, static_cast<std::uint16_t>(lists.size())};
      lists.emplace_back();
    }
    Lists& own = lists[slot.index];
    switch (route) {
      case EventRoute::Price:
      case EventRoute::Volume:
      case EventRoute::Trade:
      case EventRoute::OrderBookDelta:
      case EventRoute::OrderBookSnapshot:
      case EventRoute::Time: own[static_cast<std::size_t>(route)].push_back(index); break;
      case EventRoute::AnyEventOfSymbol:
        for (std::size_t kind = 0; kind < kEventKindCount; ++kind) own[kind].push_back(index);
        break;
      case EventRoute::OrderBook: own[kOrderBookPosition].push_back(index); break;
      case EventRoute::AnyEvent: break;
      default: unreachable("event route code out of range");
    }
  }

  // Flatten: every list of every record in order, then the global list.
  const auto append = [&router](const std::vector<std::uint16_t>& list) -> Result<SubscriberRange> {
    const std::size_t start = router.subscribers_.size();
    if (start > kLimit) return limit_exceeded(LimitTarget::Subscribers, start);
    if (list.size() > kLimit) return limit_exceeded(LimitTarget::SubscriberGroup, list.size());
    router.subscribers_.insert(router.subscribers_.end(), list.begin(), list.end());
    return SubscriberRange{static_cast<std::uint16_t>(start), static_cast<std::uint16_t>(list.size())};
  };
  router.records_.reserve(lists.size());
  for (const Lists& own : lists) {
    RouteRecord& record = router.records_.emplace_back();
    for (std::size_t position = 0; position < own.size(); ++position) {
      auto range = append(own[position]);
      if (!range) return std::unexpected(std::move(range.error()));
      record.ranges[position] = *range;
    }
  }
  auto range = append(global);
  if (!range) return std::unexpected(std::move(range.error()));
  router.global_ = *range;
  return router;
}

}  // namespace vorn
