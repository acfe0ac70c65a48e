#include "python/order_book_event.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace vorn::py {
namespace {

using TextLevel = OrderBookEvent::TextLevel;
using TextChange = OrderBookEvent::TextChange;

Decimal dec(std::string_view text) { return Decimal::parse(text).value(); }

TEST(OrderBookEventValue, SnapshotKeepsLevelsAsGivenAndViewsThemInItsEvent) {
  const std::vector<TextLevel> bids{{"101.50", "2"}, {"99", "0"}, {"101.50", "3"}};
  const std::vector<TextLevel> asks{{"100", "1.000"}};  // crossed and unsorted: kept
  const OrderBookEvent event =
      OrderBookEvent::snapshot("OBE-BTC", -5, std::numeric_limits<std::uint64_t>::max(), bids, asks).value();

  EXPECT_EQ(event.symbol(), symbols::intern("obe-btc").value());
  EXPECT_EQ(event.timestamp(), -5);
  const auto& snapshot = std::get<OrderBookEvent::Snapshot>(event.payload());
  EXPECT_EQ(snapshot.bids, (std::vector<Level>{{dec("101.50"), dec("2")}, {dec("99"), dec("0")},
                                               {dec("101.50"), dec("3")}}));
  EXPECT_EQ(snapshot.bids[0].price.scale(), 2u);  // stored as parsed
  EXPECT_EQ(snapshot.asks, (std::vector<Level>{{dec("100"), dec("1.000")}}));
  EXPECT_EQ(snapshot.bids.capacity(), 3u);
  EXPECT_EQ(snapshot.update_id, std::numeric_limits<std::uint64_t>::max());

  for (int application = 0; application < 2; ++application) {
    const Event core = event.event();
    ASSERT_EQ(core.kind(), EventKind::OrderBookSnapshot);
    EXPECT_EQ(core.timestamp(), -5);
    EXPECT_EQ(core.symbol(), event.symbol());
    const auto& view = std::get<Event::OrderBookSnapshot>(core.value);
    EXPECT_EQ(view.bids.data(), snapshot.bids.data());
    EXPECT_EQ(view.bids.size(), 3u);
    EXPECT_EQ(view.asks.data(), snapshot.asks.data());
    EXPECT_EQ(view.update_id, std::numeric_limits<std::uint64_t>::max());
  }
}

TEST(OrderBookEventValue, DeltaKeepsChangesInOrderWithTheirSides) {
  const std::vector<TextChange> changes{{"ask", "10.5", "0"}, {"bid", "0", "1"}, {"ask", "10.5", "2"}};
  const OrderBookEvent event = OrderBookEvent::delta("obe-eth", 7, 0, changes).value();
  const auto& delta = std::get<OrderBookEvent::Delta>(event.payload());
  EXPECT_EQ(delta.updates, (std::vector<LevelUpdate>{{dec("10.5"), dec("0"), Side::Ask},
                                                     {dec("0"), dec("1"), Side::Bid},
                                                     {dec("10.5"), dec("2"), Side::Ask}}));
  const Event core = event.event();
  ASSERT_EQ(core.kind(), EventKind::OrderBookDelta);
  const auto& view = std::get<Event::OrderBookDelta>(core.value);
  EXPECT_EQ(view.updates.data(), delta.updates.data());
  EXPECT_EQ(view.updates.size(), 3u);
  EXPECT_EQ(view.update_id, 0u);
  EXPECT_EQ(view.timestamp, 7);
  EXPECT_EQ(view.symbol, symbols::intern("OBE-ETH").value());
}

TEST(OrderBookEventValue, FirstBadTextWinsInListOrder) {
  const std::string nonnegative = "book prices and sizes must be nonnegative";
  const std::string bad_text = "invalid exact decimal: Invalid decimal: unknown character";
  const std::string bad_side = "book side must be bid or ask";
  const std::vector<TextLevel> ok{{"1", "1"}};

  // A bad second bid beats a bad first ask; a price before its size.
  EXPECT_EQ(OrderBookEvent::snapshot("obe", 0, 0, std::vector<TextLevel>{{"1", "1"}, {"x", "-1"}},
                                     std::vector<TextLevel>{{"-1", "1"}})
                .error(),
            bad_text);
  EXPECT_EQ(OrderBookEvent::snapshot("obe", 0, 0, ok, std::vector<TextLevel>{{"1", "-2"}, {"y", "1"}}).error(),
            nonnegative);
  // Side, then price, then size.
  EXPECT_EQ(OrderBookEvent::delta("obe", 0, 0, std::vector<TextChange>{{"BID", "x", "-1"}}).error(), bad_side);
  EXPECT_EQ(OrderBookEvent::delta("obe", 0, 0, std::vector<TextChange>{{"bids", "1", "1"}}).error(), bad_side);
  EXPECT_EQ(OrderBookEvent::delta("obe", 0, 0, std::vector<TextChange>{{"ask", "-1", "x"}}).error(),
            nonnegative);
  EXPECT_EQ(OrderBookEvent::delta("obe", 0, 0,
                                  std::vector<TextChange>{{"ask", "1", "1"}, {"bid", "1", " 1"}, {"x", "1", "1"}})
                .error(),
            bad_text);
}

}  // namespace
}  // namespace vorn::py
