#include "engine/features/serde/feature_extractor_spec_json.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "engine/errors.hpp"

namespace vorn::serde {
namespace {

using namespace feature_key;

std::string read_file(const std::string& name) {
  std::ifstream file(std::string(VORN_TEST_DATA_DIR "/specs/") + name);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

Symbol intern(std::string_view name) { return symbols::intern(name).value(); }
Decimal dec(std::string_view text) { return Decimal::parse(text).value(); }

std::vector<std::string> ids_of(const FeatureExtractorSpec& spec) {
  std::vector<std::string> ids;
  for (const FeatureDefinition& definition : spec.definitions()) ids.push_back(definition.id.text);
  return ids;
}

void expect_same_spec(const FeatureExtractorSpec& a, const FeatureExtractorSpec& b) {
  EXPECT_EQ(a.definitions(), b.definitions());
  EXPECT_EQ(a.order_books(), b.order_books());
  EXPECT_EQ(a.checksum(), b.checksum());
  EXPECT_EQ(a.capacity(), b.capacity());
}

TEST(FeatureExtractorSpecJson, GoldenDocumentsReadAndWriteBackByteForByte) {
  for (const std::string name : {"all_kinds", "empty"}) {
    SCOPED_TRACE(name);
    const std::string text = read_file(name + ".json");
    ASSERT_FALSE(text.empty());
    auto spec = deserialize_feature_extractor_spec(text);
    ASSERT_TRUE(spec) << spec.error();
    EXPECT_TRUE(spec->build()) << "a golden document describes a spec that compiles";
    EXPECT_EQ(serialize_feature_extractor_spec(*spec).value(), text);
    if (name == "all_kinds") {
      std::vector<std::string> expected;
      std::istringstream lines(read_file("all_kinds.ids"));
      for (std::string line; std::getline(lines, line);) expected.push_back(line);
      EXPECT_EQ(ids_of(*spec), expected);
      EXPECT_EQ(spec->capacity(), 64u);
      EXPECT_EQ(spec->indicator_count(), 43u);
    }
  }
}

TEST(FeatureExtractorSpecJson, ReadingPutsAShuffledDocumentInCanonicalOrder) {
  const std::string golden = read_file("all_kinds.json");
  std::mt19937_64 rng(7);
  for (int round = 0; round < 8; ++round) {
    nlohmann::ordered_json document = nlohmann::ordered_json::parse(golden);
    const auto shuffle = [&](nlohmann::ordered_json& list) { std::shuffle(list.begin(), list.end(), rng); };
    shuffle(document["features"]);
    for (auto& group : document["features"]) shuffle(group["indicators"]);
    shuffle(document["required_events"]);
    shuffle(document["order_books"]);
    auto spec = deserialize_feature_extractor_spec(document.dump());
    ASSERT_TRUE(spec) << spec.error();
    EXPECT_EQ(serialize_feature_extractor_spec(*spec).value(), golden);
  }
}

// ---- round trip over generated specs ----------------------------------------------------

struct SpecGenerator {
  std::mt19937_64 rng;
  std::vector<Symbol> symbols{intern("btc"), intern("eth"), intern("a"), intern("ab"), intern("\xc3\xbc")};

  std::uint64_t pick(std::uint64_t low, std::uint64_t high) {
    return std::uniform_int_distribution<std::uint64_t>(low, high)(rng);
  }
  template <class T, std::size_t N>
  T pick_of(const std::array<T, N>& items) { return items[pick(0, N - 1)]; }

  Decimal price() { return dec(fmt::format("{}.{}0", pick(0, 200), pick(0, 9))); }
  Decimal size() { return dec(fmt::format("{}.{}0", pick(1, 9), pick(0, 9))); }

  // A key that passes the compiler's key rules, in the scope its kind needs.
  FeatureKey key() {
    const auto tag = static_cast<FeatureKeyTag>(pick(0, kFeatureKeyTagCount - 1));
    const Symbol s = symbols[pick(0, symbols.size() - 1)];
    const Side side = pick(0, 1) == 0 ? Side::Bid : Side::Ask;
    const FeatureSource trade = FeatureSource::event(EventKind::Trade);
    const FeatureSource field = FeatureSource::field(static_cast<ValueField>(pick(0, 3)));
    const auto warmup = static_cast<WarmupPolicy>(pick(0, 1));
    const std::uint64_t aggregation_ms = pick_of(std::array<std::uint64_t, 4>{1000, 1500, 60'000, 3'600'000});
    const Duration aggregation = Duration::from_millis(aggregation_ms);
    const Duration window = Duration::from_millis(aggregation_ms * pick(1, 4));
    switch (tag) {
      case FeatureKeyTag::Context:
        return Context{pick(0, 1) == 0 ? Symbol::global() : s,
                       pick_of(std::array<std::string, 4>{"regime", "a:b", "\xc3\xa9t\xc3\xa9", "q\"\\\t"})};
      case FeatureKeyTag::OrderBookLevelSize: return OrderBookLevelSize{s, side, price()};
      case FeatureKeyTag::OrderBookNthPrice: return OrderBookNthPrice{s, side, pick(1, 5)};
      case FeatureKeyTag::OrderBookNthSize: return OrderBookNthSize{s, side, pick(1, 5)};
      case FeatureKeyTag::OrderBookDepthUntilPrice: return OrderBookDepthUntilPrice{s, side, price()};
      case FeatureKeyTag::OrderBookDepthUntilSizePriceFrom: return OrderBookDepthUntilSizePriceFrom{s, side, size()};
      case FeatureKeyTag::OrderBookDepthUntilSizePriceTo: return OrderBookDepthUntilSizePriceTo{s, side, size()};
      case FeatureKeyTag::OrderBookDepthUntilSizeTotalSize: return OrderBookDepthUntilSizeTotalSize{s, side, size()};
      case FeatureKeyTag::OrderBookVolumeBetweenPrices: {
        const std::uint64_t low = pick(0, 100);
        return OrderBookVolumeBetweenPrices{s, side, dec(fmt::format("{}.5", low)),
                                            dec(fmt::format("{}.50", low + pick(1, 3)))};
      }
      case FeatureKeyTag::OrderBookBestBidPrice: return OrderBookBestBidPrice{s};
      case FeatureKeyTag::OrderBookBestBidSize: return OrderBookBestBidSize{s};
      case FeatureKeyTag::OrderBookBestAskPrice: return OrderBookBestAskPrice{s};
      case FeatureKeyTag::OrderBookBestAskSize: return OrderBookBestAskSize{s};
      case FeatureKeyTag::OrderBookMidPrice: return OrderBookMidPrice{s};
      case FeatureKeyTag::OrderBookSpread: return OrderBookSpread{s};
      case FeatureKeyTag::OrderBookSpreadBps: return OrderBookSpreadBps{s};
      case FeatureKeyTag::OrderBookWeightedMidPrice: return OrderBookWeightedMidPrice{s};
      case FeatureKeyTag::OrderBookMicroprice: return OrderBookMicroprice{s};
      case FeatureKeyTag::OrderBookImbalance: return OrderBookImbalance{s, pick(1, 20)};
      case FeatureKeyTag::Field: return Field{s, *field.value_field()};
      case FeatureKeyTag::Cvd: return Cvd{s, trade, pick(1, 100), warmup};
      case FeatureKeyTag::Return:
        return Return{s, field, pick(1, 10), pick(0, 1) == 0 ? ReturnKind::Simple : ReturnKind::Log};
      case FeatureKeyTag::Volatility: return Volatility{s, field, pick(1, 100), warmup};
      case FeatureKeyTag::SmaTimed: return SmaTimed{s, field, aggregation, window, warmup};
      case FeatureKeyTag::VolatilityTimed: return VolatilityTimed{s, field, aggregation, window, warmup};
      case FeatureKeyTag::ObvTimed: return ObvTimed{s, trade, aggregation, window, warmup};
      case FeatureKeyTag::Vpt: return Vpt{s, trade};
      case FeatureKeyTag::TradeCountTimed: return feature_key::TradeCountTimed{s, trade, aggregation, window, warmup};
      case FeatureKeyTag::TradeVolumeTimed: return TradeVolumeTimed{s, trade, aggregation, window, warmup};
      case FeatureKeyTag::VwapTimed: return VwapTimed{s, trade, aggregation, window, warmup};
      case FeatureKeyTag::DayOfWeek: return DayOfWeek{Symbol::global(), FeatureSource::any_event()};
      case FeatureKeyTag::TimeSinceFirstEventOfDay: {
        const auto minutes = static_cast<std::int64_t>(pick(0, 1680)) - 840;
        return TimeSinceFirstEventOfDay{Symbol::global(), FeatureSource::any_event(), minutes * 60'000};
      }
    }
    return Vpt{s, trade};
  }

  // Unique keys, at most 16 imbalance depths per symbol, ids explicit,
  // default or explicitly canonical; books sparse and dense.
  FeatureExtractorSpec spec() {
    std::vector<FeatureDefinition> definitions;
    std::unordered_set<FeatureKey> keys;
    std::array<int, 8> imbalances{};
    const std::uint64_t count = pick(0, 60);
    for (std::uint64_t i = 0; i < count; ++i) {
      FeatureKey k = key();
      if (k.tag() == FeatureKeyTag::OrderBookImbalance && ++imbalances[k.symbol().id % 8] > 16) continue;
      if (!keys.insert(k).second) continue;
      switch (pick(0, 3)) {
        case 0: definitions.push_back({FeatureId{fmt::format("id{}", i)}, k}); break;
        case 1: definitions.push_back({FeatureId::from_feature_key(k), k}); break;
        default: definitions.push_back(FeatureDefinition::with_default_id(k));
      }
    }
    std::ranges::shuffle(definitions, rng);
    const std::size_t capacity = pick(0, 9) == 0 ? std::numeric_limits<std::size_t>::max()
                                                 : definitions.size() + pick(0, 3);
    std::optional<std::string> checksum;
    if (pick(0, 1) == 0) checksum = pick_of(std::array<std::string, 3>{"", "sha256:ab", "\xc3\xa9\"\\\n\x01"});
    std::vector<OrderBookConfig> books;
    for (std::size_t i = 1; i < symbols.size(); ++i) {
      if (pick(0, 1) == 0) continue;
      OrderBookConfig config{symbols[i], static_cast<UpdatePolicy>(pick(0, 1)),
                             pick(0, 4) == 0 ? std::numeric_limits<std::size_t>::max() : pick(0, 1000), std::nullopt};
      if (pick(0, 1) == 0) config.dense = DenseBookConfig{dec("0.50"), dec("100.0"), dec("200")};
      books.push_back(config);
    }
    std::ranges::shuffle(books, rng);
    auto spec = FeatureExtractorSpec::with_metadata(std::move(definitions), capacity, std::move(checksum));
    return FeatureExtractorSpec::with_order_books(std::move(spec.value()), std::move(books)).value();
  }
};

TEST(FeatureExtractorSpecJson, WrittenSpecsReadBackEqualWithOneIndicatorPerSortKeyRun) {
  SpecGenerator generator{std::mt19937_64(20240611)};
  for (int round = 0; round < 200; ++round) {
    const FeatureExtractorSpec spec = generator.spec();
    auto wire = wire_from_spec(spec);
    ASSERT_TRUE(wire) << wire.error();
    std::size_t indicators = 0;
    for (const FeatureGroupWire& group : wire->features) indicators += group.indicators.size();
    EXPECT_EQ(indicators, spec.indicator_count());
    const std::string text = pretty_text(write_feature_extractor_spec_wire(*wire));
    auto read = deserialize_feature_extractor_spec(text);
    ASSERT_TRUE(read) << read.error() << "\n" << text;
    expect_same_spec(*read, spec);
  }
}

// ---- writer refusals --------------------------------------------------------------------------

TEST(FeatureExtractorSpecJson, WriterRefusesSpecsWithoutADocumentTheReaderTakes) {
  const Symbol eth = intern("eth");
  const Symbol empty = intern("");
  const Symbol global = Symbol::global();
  const FeatureSource trade = FeatureSource::event(EventKind::Trade);
  const FeatureSource any = FeatureSource::any_event();
  const Duration second = Duration::from_millis(1000);
  const auto d = [](FeatureKey key, std::string id = "") {
    return id.empty() ? FeatureDefinition::with_default_id(std::move(key)) : FeatureDefinition{FeatureId{id}, key};
  };
  std::vector<FeatureDefinition> imbalances;
  for (std::uint64_t n = 1; n <= 17; ++n) imbalances.push_back(d(OrderBookImbalance{eth, n}));
  struct Row {
    std::vector<FeatureDefinition> definitions;
    std::string message;
    std::vector<OrderBookConfig> books{};
  };
  const std::vector<Row> rows{
      {{d(Context{eth, ""})}, "invalid indicator definition at index 0: context: context name must not be empty"},
      // the key rule comes before the scope rule
      {{d(Return{global, trade, 0, ReturnKind::Simple})},
       "invalid indicator definition at index 0: simple return: window must be at least 1"},
      {{d(SmaTimed{eth, FeatureSource::field(ValueField::Price), Duration{0, 1'500'000}, second})},
       "durations must be positive whole milliseconds"},
      {{d(TradeVolumeTimed{eth, trade, second, Duration{std::numeric_limits<std::uint64_t>::max(), 0}})},
       "duration exceeds the serialized range"},
      // the offset is written before the scope is checked
      {{d(TimeSinceFirstEventOfDay{eth, any, 90'000})},
       "UTC offset must use whole minutes in the range -14:00 through +14:00"},
      {{d(Cvd{eth, FeatureSource::field(ValueField::TradeVolume), 5})},
       "invalid symbol scope or source for indicator kind \"cvd\""},
      {{d(DayOfWeek{eth, any})}, "invalid symbol scope or source for indicator kind \"day_of_week\""},
      {{d(OrderBookMidPrice{global})}, "order_book source requires a symbol-specific scope and no event or field"},
      {{d(Context{eth, "x"}), d(Context{eth, "x"}, "y")}, "indicator context has more than one scalar output"},
      {{d(DayOfWeek{global, any}), d(DayOfWeek{global, any}, "again")},
       "indicator day_of_week has more than one scalar output"},
      {{d(OrderBookNthSize{eth, Side::Ask, 2}), d(OrderBookNthSize{eth, Side::Ask, 2}, "again")},
       "indicator order_book_nth_size has more than one scalar output"},
      {imbalances, "order_book_imbalance exceeds 16 outputs"},
      // mended: these would write documents that the reader refuses with these messages
      {{d(Field{eth, ValueField::Price}), d(Field{eth, ValueField::Price}, "again")}, "field requires exactly one output"},
      {{d(Vpt{eth, trade}), d(Vpt{eth, trade}, "again")}, "vpt requires exactly one output"},
      {{d(feature_key::TradeCountTimed{eth, trade, second, second}),
        d(feature_key::TradeCountTimed{eth, trade, second, second}, "again")},
       "trade_count_timed requires exactly one output"},
      {{d(OrderBookImbalance{eth, 0})}, "order_book_imbalance requires positive n_levels"},
      {{d(Field{empty, ValueField::Price})}, "feature group symbol must not be empty"},
      {{}, "order-book symbol must not be empty", {OrderBookConfig{empty, UpdatePolicy::Monotonic, 1, std::nullopt}}},
  };
  for (const Row& row : rows) {
    auto spec = FeatureExtractorSpec::with_metadata(row.definitions, 100, std::nullopt);
    spec = FeatureExtractorSpec::with_order_books(std::move(spec.value()), row.books);
    auto text = serialize_feature_extractor_spec(spec.value());
    EXPECT_EQ(text ? "written" : text.error(), row.message);
  }
}

}  // namespace
}  // namespace vorn::serde
