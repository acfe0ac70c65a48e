#include "engine/features/event_router.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "engine/panic.hpp"

namespace vorn {
namespace {

using Routes = std::vector<std::pair<Symbol, EventRoute>>;
using List = std::vector<std::uint16_t>;

List as_list(std::span<const std::uint16_t> slice) { return List(slice.begin(), slice.end()); }

EventRouter build(const Routes& routes) {
  auto router = EventRouter::from_routes(routes);
  EXPECT_TRUE(router.has_value());
  return std::move(*router);
}

constexpr Symbol kS{7};
constexpr Symbol kT{3};
constexpr EventKind kAllKinds[] = {EventKind::Price, EventKind::Volume, EventKind::Trade,
                                   EventKind::OrderBookDelta, EventKind::OrderBookSnapshot, EventKind::Time};

// Every (symbol, kind) list against a model that asks each route directly
// whether it wants the event (a time event belongs to the global symbol).
TEST(EventRouter, ListsMatchARouteByRouteModel) {
  const Routes routes{
      {kS, EventRoute::Trade},     {kS, EventRoute::AnyEventOfSymbol}, {kS, EventRoute::Price},
      {kT, EventRoute::Trade},     {kS, EventRoute::OrderBook},        {Symbol::global(), EventRoute::AnyEvent},
      {kT, EventRoute::AnyEventOfSymbol}, {kS, EventRoute::Time},     {Symbol::global(), EventRoute::Time},
      {kT, EventRoute::OrderBook}, {kS, EventRoute::OrderBookDelta},  {Symbol::global(), EventRoute::AnyEvent},
      {Symbol::global(), EventRoute::AnyEventOfSymbol},
  };
  const EventRouter router = build(routes);
  for (Symbol symbol : {Symbol::global(), kT, kS, Symbol{4}, Symbol{500}}) {
    for (EventKind kind : kAllKinds) {
      List expected;
      for (std::size_t i = 0; i < routes.size(); ++i) {
        const auto [own, route] = routes[i];
        if (own == symbol && (route == route_of(kind) || route == EventRoute::AnyEventOfSymbol)) {
          expected.push_back(static_cast<std::uint16_t>(i));
        }
      }
      EXPECT_EQ(as_list(router.for_event(symbol, kind)), expected) << symbol.id << " " << static_cast<int>(kind);
    }
  }
  EXPECT_EQ(as_list(router.order_book_features(kS)), (List{4}));
  EXPECT_EQ(as_list(router.order_book_features(kT)), (List{9}));
  EXPECT_EQ(as_list(router.global_subscribers()), (List{5, 11}));
  // The symbol table reaches the largest non-global symbol.
  EXPECT_EQ(router.symbol_table().size(), 8u);
}

TEST(EventRouter, RecordsFollowFirstAppearance) {
  const Symbol b{9};
  const Symbol a{2};
  const EventRouter router = build({{b, EventRoute::Price}, {a, EventRoute::Price}, {b, EventRoute::Volume}});
  ASSERT_EQ(router.records().size(), 2u);
  EXPECT_EQ(router.record(b), &router.records()[0]);
  EXPECT_EQ(router.record(a), &router.records()[1]);
  EXPECT_EQ(router.record(Symbol{5}), nullptr);
  EXPECT_EQ(router.record(Symbol{10}), nullptr);
  // A record without book features has an empty range at position 6.
  EXPECT_EQ(router.record(a)->ranges[kOrderBookPosition].len, 0);
  EXPECT_TRUE(router.order_book_features(a).empty());
  // Routes to every event alone leave no table and no record.
  const EventRouter global = build({{Symbol::global(), EventRoute::AnyEvent}, {Symbol::global(), EventRoute::AnyEvent}});
  EXPECT_TRUE(global.symbol_table().empty());
  EXPECT_TRUE(global.records().empty());
}

TEST(EventRouter, Limits) {
  struct Case {
    Routes routes;
    const char* message;  // empty: builds
  };
  // Derivation indices run up to 65535; one list holds at most 65535.
  Routes too_many(65537, {Symbol::global(), EventRoute::AnyEvent});
  Routes long_list(65536, {Symbol::global(), EventRoute::AnyEvent});
  Routes at_limit(65535, {Symbol::global(), EventRoute::AnyEvent});
  Routes split = long_list;
  split[0] = {kS, EventRoute::Price};
  // 13108 derivations listed in six kind lists: the sixth list would start
  // at 5 × 13108 = 65540. With 10922 the book list and the global list start
  // at 65532, every start fits.
  Routes wide(13108, {kS, EventRoute::AnyEventOfSymbol});
  Routes narrower(10922, {kS, EventRoute::AnyEventOfSymbol});
  const std::vector<Case> cases{
      {too_many, "invalid argument: runtime feature count 65537 exceeds limit 65535"},
      {long_list, "invalid argument: subscriber group count 65536 exceeds limit 65535"},
      {wide, "invalid argument: subscriber count 65540 exceeds limit 65535"},
      {at_limit, ""}, {split, ""}, {narrower, ""},
  };
  for (const auto& c : cases) {
    auto router = EventRouter::from_routes(c.routes);
    EXPECT_EQ(router ? "" : to_string(router.error()), c.message) << c.routes.size();
  }
}

TEST(EventRouter, SliceEndingPastTheListIsABrokenInvariant) {
  const std::vector<std::uint16_t> subscribers{1, 2, 3};
  const SubscriberRange inside{1, 2};
  EXPECT_EQ(as_list(inside.as_slice(subscribers)), (List{2, 3}));
  const SubscriberRange past{2, 2};
  EXPECT_THROW((void)past.as_slice(subscribers), Panic);
}

}  // namespace
}  // namespace vorn
