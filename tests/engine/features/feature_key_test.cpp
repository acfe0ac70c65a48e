#include "engine/features/feature_key.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace vorn {
namespace {

using namespace feature_key;

Decimal dec(std::string_view text) { return Decimal::parse(text).value(); }

constexpr Symbol kSym{1};
constexpr auto kTrades = FeatureSource::event(EventKind::Trade);

TEST(FeatureKey, DecimalsCompareAndHashByValue) {
  struct Case {
    FeatureKey a;
    FeatureKey b;
    bool equal;
  };
  const std::vector<Case> cases{
      {OrderBookLevelSize{kSym, Side::Bid, dec("100.50")}, OrderBookLevelSize{kSym, Side::Bid, dec("100.5")}, true},
      {OrderBookLevelSize{kSym, Side::Bid, dec("0")}, OrderBookLevelSize{kSym, Side::Bid, dec("-0.00")}, true},
      {OrderBookVolumeBetweenPrices{kSym, Side::Ask, dec("1.0"), dec("2")},
       OrderBookVolumeBetweenPrices{kSym, Side::Ask, dec("1"), dec("2.000")}, true},
      {OrderBookLevelSize{kSym, Side::Bid, dec("100.5")}, OrderBookLevelSize{kSym, Side::Ask, dec("100.5")}, false},
      {OrderBookLevelSize{kSym, Side::Bid, dec("100.5")}, OrderBookLevelSize{kSym, Side::Bid, dec("100.05")}, false},
      // Same fields, different kind.
      {OrderBookLevelSize{kSym, Side::Bid, dec("1")}, OrderBookDepthUntilPrice{kSym, Side::Bid, dec("1")}, false},
      {OrderBookBestBidPrice{kSym}, OrderBookBestAskPrice{kSym}, false},
      {OrderBookBestBidPrice{kSym}, OrderBookBestBidPrice{Symbol{2}}, false},
      {Cvd{kSym, kTrades, 10, WarmupPolicy::FirstValue}, Cvd{kSym, kTrades, 10, WarmupPolicy::FullWindow}, false},
      {Return{kSym, kTrades, 1, ReturnKind::Simple}, Return{kSym, kTrades, 1, ReturnKind::Log}, false},
      {SmaTimed{kSym, kTrades, Duration{1, 0}, Duration{2, 0}, WarmupPolicy::FirstValue},
       SmaTimed{kSym, kTrades, Duration{1, 0}, Duration{2, 0}, WarmupPolicy::FirstValue}, true},
      {SmaTimed{kSym, kTrades, Duration{1, 0}, Duration{2, 0}, WarmupPolicy::FirstValue},
       SmaTimed{kSym, kTrades, Duration{1, 0}, Duration{2, 1}, WarmupPolicy::FirstValue}, false},
      {Context{kSym, "a"}, Context{kSym, "a"}, true},
      {Context{kSym, "a"}, Context{kSym, "A"}, false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    EXPECT_EQ(c.a == c.b, c.equal) << "case " << i;
    if (c.equal) {
      EXPECT_EQ(std::hash<FeatureKey>{}(c.a), std::hash<FeatureKey>{}(c.b)) << "case " << i;
    }
  }
}

TEST(FeatureKey, CopyOwnsItsName) {
  FeatureKey original = Context{kSym, "regime"};
  const FeatureKey copy = original;
  std::get<Context>(original.value).name = "other";
  EXPECT_EQ(std::get<Context>(copy.value).name, "regime");
}

TEST(FeatureKey, IndicatorKindByTagAndReturnKind) {
  EXPECT_EQ(FeatureKey(Return{kSym, kTrades, 1, ReturnKind::Simple}).indicator_kind(), IndicatorKind::SimpleReturn);
  EXPECT_EQ(FeatureKey(Return{kSym, kTrades, 1, ReturnKind::Log}).indicator_kind(), IndicatorKind::LogReturn);
  EXPECT_EQ(display(FeatureKey(OrderBookMicroprice{kSym}).indicator_kind()),
            display(IndicatorKind::OrderBookMicroprice));
  // One key per tag plus the log return name 33 distinct kinds.
  std::set<IndicatorKind> kinds{IndicatorKind::LogReturn};
  const std::vector<FeatureKey> keys{
      Context{}, OrderBookLevelSize{}, OrderBookNthPrice{}, OrderBookNthSize{}, OrderBookDepthUntilPrice{},
      OrderBookDepthUntilSizePriceFrom{}, OrderBookDepthUntilSizePriceTo{}, OrderBookDepthUntilSizeTotalSize{},
      OrderBookVolumeBetweenPrices{}, OrderBookBestBidPrice{}, OrderBookBestBidSize{}, OrderBookBestAskPrice{},
      OrderBookBestAskSize{}, OrderBookMidPrice{}, OrderBookSpread{}, OrderBookSpreadBps{},
      OrderBookWeightedMidPrice{}, OrderBookMicroprice{}, OrderBookImbalance{}, Field{}, Cvd{}, Return{},
      Volatility{}, SmaTimed{}, VolatilityTimed{}, ObvTimed{}, Vpt{}, TradeCountTimed{}, TradeVolumeTimed{},
      VwapTimed{}, DayOfWeek{}, TimeSinceFirstEventOfDay{},
  };
  for (const auto& key : keys) kinds.insert(key.indicator_kind());
  EXPECT_EQ(kinds.size(), 33u);
  EXPECT_FALSE(kinds.contains(IndicatorKind::Sma));
  EXPECT_FALSE(kinds.contains(IndicatorKind::Ema));
}

}  // namespace
}  // namespace vorn
