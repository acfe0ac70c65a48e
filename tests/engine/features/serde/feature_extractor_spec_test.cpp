#include "engine/features/serde/feature_extractor_spec.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/engine/features/feature_test_support.hpp"

namespace vorn {
namespace {

using namespace feature_test;

TEST(FeatureExtractorSpec, CanonicalOrderOfShuffledSpecsKeepsTiesInInputOrder) {
  const Symbol btc = sym("btc"), eth = sym("eth"), ethx = sym("ethx"), global = Symbol::global();
  // Indicators in canonical order, each with its outputs in input order.
  const std::vector<std::vector<FeatureDefinition>> indicators{
      {def(DayOfWeek{global, kAny})},
      {def(TimeSinceFirstEventOfDay{global, kAny, -3'600'000})},
      {def(TimeSinceFirstEventOfDay{global, kAny, 3'600'000})},
      {def(Cvd{btc, kTrades, 50, FV}), def(Cvd{btc, kTrades, 10, FV}), def(Cvd{btc, kTrades, 100, FV})},
      {def(SmaTimed{btc, kPrice, ms(1000), ms(60'000), FV}), def(SmaTimed{btc, kPrice, ms(1000), ms(5000), FV})},
      {def(SmaTimed{btc, kPrice, ms(2000), ms(60'000), FV})},
      {def(SmaTimed{btc, kPrice, ms(1000), ms(60'000), FW})},
      {def(feature_key::TradeCountTimed{btc, kTrades, ms(1000), ms(60'000), FV})},
      {def(feature_key::TradeCountTimed{btc, kTrades, ms(1000), ms(300'000), FV})},
      {def(OrderBookMidPrice{btc})},
      {def(OrderBookImbalance{btc, 5}), def(OrderBookImbalance{btc, 1})},
      {def(OrderBookLevelSize{btc, Side::Ask, dec("10")})},
      {def(OrderBookLevelSize{btc, Side::Bid, dec("10")})},
      {def("v2", Vpt{btc, kTrades}), def("v1", Vpt{btc, kTrades})},
      {def(Context{btc, "a"})},
      {def(Return{btc, kPrice, 2, ReturnKind::Simple})},
      {def(Return{btc, kPrice, 1, ReturnKind::Log})},
      {def(Cvd{eth, kTrades, 5, FV})},
      {def(Cvd{ethx, kTrades, 5, FV})},
  };
  std::vector<FeatureId> expected;
  std::vector<std::size_t> owners;  // the indicator of each definition
  for (std::size_t i = 0; i < indicators.size(); ++i) {
    for (const auto& definition : indicators[i]) {
      expected.push_back(definition.id);
      owners.push_back(i);
    }
  }
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::ranges::shuffle(owners, rng);
    std::vector<std::size_t> next(indicators.size());
    std::vector<FeatureDefinition> input;
    for (const std::size_t owner : owners) input.push_back(indicators[owner][next[owner]++]);
    const auto spec = FeatureExtractorSpec::with_metadata(input, input.size(), std::nullopt).value();
    std::vector<FeatureId> ids;
    for (const auto& definition : spec.definitions()) ids.push_back(definition.id);
    EXPECT_EQ(ids, expected) << "round " << round;
    EXPECT_EQ(spec.indicator_count(), indicators.size());
  }
  EXPECT_EQ(FeatureExtractorSpec().indicator_count(), 0u);
}

TEST(FeatureExtractorSpec, ChecksOfEveryStepInTheirOrder) {
  const Symbol btc = sym("btc"), eth = sym("eth");
  const auto ok = def(Cvd{btc, kTrades, 5, FV});
  const auto invalid = def(Cvd{btc, kTrades, 0, FV});
  const auto spec = [](std::vector<FeatureDefinition> definitions, std::size_t capacity,
                       std::vector<OrderBookConfig> books = {}) -> Result<FeatureExtractorSpec> {
    auto made = FeatureExtractorSpec::with_metadata(std::move(definitions), capacity, "sum");
    if (!made) return made;
    return FeatureExtractorSpec::with_order_books(std::move(*made), std::move(books));
  };
  const auto book = [](Symbol symbol, std::size_t buffer = 8) {
    return OrderBookConfig{symbol, UpdatePolicy::Monotonic, buffer, std::nullopt};
  };
  const auto reserved = [](std::string id) { return def(std::move(id), Vpt{Symbol::global(), kTrades}); };
  const std::vector<std::pair<std::string, std::string>> cases{
      {text_of(spec({ok, reserved("__reserved_x")}, 1)),
       "invalid argument: feature vector capacity 1 is smaller than active length 2"},
      {text_of(spec({ok, reserved("__reserved_b"), reserved("__reserved_a")}, 3)),
       "invalid argument: feature definition at index 1 uses the reserved namespace for feature IDs"},
      {text_of(spec({ok}, 1)), "ok"},
      {text_of(spec({}, 0, {book(btc), book(Symbol::global())})),
       "invalid argument: order books require a non-global symbol"},
      {text_of(spec({}, 0, {book(eth), book(btc), book(eth)})), "more than one order book is configured for symbol eth"},
      {text_of(spec({}, 0, {OrderBookConfig{btc, UpdatePolicy::Monotonic, 8, DenseBookConfig{dec("0"), dec("1"), dec("2")}}})),
       "order-book update failed: invalid dense order-book grid: tick 0, range [1, 2]"},
      {text_of(spec({invalid}, 2)->build(VecFeatureVector::new_of_length(3, 1))),
       "output storage has capacity 3, but the feature-vector spec requires capacity 2"},
      {text_of(spec({invalid}, 2)->build(VecFeatureVector::new_of_length(2, 2))),
       "output storage has 2 cells, but compilation requires exactly 1"},
      {text_of(spec({invalid}, 2, {book(btc, SIZE_MAX)})->build(VecFeatureVector::new_of_length(2, 1))),
       "invalid indicator definition at index 0: CVD: window must be at least 1"},
      {text_of(spec({ok}, 2, {book(btc, SIZE_MAX)})->build()),
       "order-book update failed: order-book update buffer capacity 18446744073709551615 cannot be allocated"},
      {text_of(spec({def(OrderBookMidPrice{btc})}, 1, {book(eth)})->build()),
       "no order book is configured for symbol btc"},
      // Any capacity is a valid spec; storage that cannot be had is an error, not an abort.
      {text_of(spec({ok}, std::size_t{1} << 62)->build()),
       "cannot allocate the feature vector: 4611686018427387904 cells"},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
  const auto sorted = spec({}, 0, {book(eth), book(btc)}).value();
  ASSERT_EQ(sorted.order_books().size(), 2u);
  EXPECT_EQ(sorted.order_books()[0].symbol, btc);
  EXPECT_EQ(sorted.checksum(), "sum");
}

// A capacity that passes every check but exceeds memory: the build reports
// the storage it could not obtain, and the same definitions build afterwards.
TEST(FeatureExtractorSpec, FeatureVectorThatCannotBeAllocatedIsReportedAsSuch) {
  const std::vector<FeatureDefinition> field{def(Field{sym("btc"), ValueField::Price})};
  constexpr std::size_t kHuge = std::size_t{1} << 44;
  const auto huge = FeatureExtractorSpec::with_metadata(field, kHuge, std::nullopt).value().build();
  ASSERT_FALSE(huge);
  EXPECT_EQ(huge.error(), VornError(vorn_error::StorageUnavailable{StorageTarget::FeatureVector, kHuge}));
  EXPECT_EQ(to_string(huge.error()), "cannot allocate the feature vector: 17592186044416 cells");
  const auto fits = FeatureExtractorSpec::with_metadata(field, 3, std::nullopt).value().build();
  ASSERT_TRUE(fits) << to_string(fits.error());
  EXPECT_EQ(fits->values().capacity(), 3u);
}

}  // namespace
}  // namespace vorn
