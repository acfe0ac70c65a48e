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
#include <tuple>
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
      std::istringstream lines(read_file("all_kinds.ids"));
      for (const FeatureDefinition& definition : spec->definitions()) {
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(definition.id.text, line);
      }
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

  Decimal price(std::uint64_t low = 0) { return dec(fmt::format("{}.{}0", low + pick(0, 200), pick(0, 9))); }

  // A key of a random kind that passes the compiler's key rules, in the scope its kind needs.
  FeatureKey key() {
    FeatureKey key = default_key(pick(0, kFeatureKeyTagCount - 1), std::make_index_sequence<kFeatureKeyTagCount>{});
    std::visit(
        [&]<class K>(K& k) {
          constexpr FeatureKeyTag tag = K::kTag;
          k.symbol = symbols[pick(0, symbols.size() - 1)];
          if constexpr (requires { k.side; }) k.side = static_cast<Side>(pick(0, 1));
          if constexpr (requires { k.price; }) k.price = price();
          if constexpr (requires { k.size; }) k.size = price(1);
          if constexpr (requires { k.to_price; }) std::tie(k.from_price, k.to_price) = std::pair(price(), price(300));
          if constexpr (requires { k.n_levels; }) k.n_levels = pick(1, tag == FeatureKeyTag::OrderBookImbalance ? 20 : 5);
          if constexpr (requires { k.field; }) k.field = static_cast<ValueField>(pick(0, 3));
          if constexpr (requires { k.warmup; }) k.warmup = static_cast<WarmupPolicy>(pick(0, 1));
          if constexpr (requires { k.lag; }) std::tie(k.lag, k.kind) = std::pair(pick(1, 10), static_cast<ReturnKind>(pick(0, 1)));
          if constexpr (requires { k.aggregation; }) {
            const std::uint64_t ms = pick_of(std::array<std::uint64_t, 4>{1000, 1500, 60'000, 3'600'000});
            std::tie(k.aggregation, k.window) = std::pair(Duration::from_millis(ms), Duration::from_millis(ms * pick(1, 4)));
          } else if constexpr (requires { k.window; }) {
            k.window = pick(1, 100);
          }
          if constexpr (requires { k.source; }) {
            constexpr bool fields = tag == FeatureKeyTag::Return || tag == FeatureKeyTag::Volatility ||
                                    tag == FeatureKeyTag::SmaTimed || tag == FeatureKeyTag::VolatilityTimed;
            k.source = fields ? FeatureSource::field(static_cast<ValueField>(pick(0, 3))) : FeatureSource::event(EventKind::Trade);
          }
          if constexpr (tag == FeatureKeyTag::DayOfWeek || tag == FeatureKeyTag::TimeSinceFirstEventOfDay) {
            std::tie(k.symbol, k.source) = std::pair(Symbol::global(), FeatureSource::any_event());
          }
          if constexpr (requires { k.utc_offset_ms; }) k.utc_offset_ms = (static_cast<std::int64_t>(pick(0, 1680)) - 840) * 60'000;
          if constexpr (requires { k.name; }) {
            k.name = pick_of(std::array<std::string, 4>{"regime", "a:b", "\xc3\xa9t\xc3\xa9", "q\"\\\t"});
            if (pick(0, 1) == 0) k.symbol = Symbol::global();
          }
        },
        key.value);
    return key;
  }

  template <std::size_t... I>
  static FeatureKey default_key(std::size_t index, std::index_sequence<I...>) {
    FeatureKey::Variant key;
    ((I == index ? (void)key.emplace<I>() : void()), ...);
    return FeatureKey{key};
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

// An update policy given as an object holding only its word, with null, reads
// as that policy and is written back as the word.
TEST(FeatureExtractorSpecJson, UpdatePolicyObjectFormReadsAndWritesAsItsWord) {
  const auto document = [](std::string_view policy) {
    return fmt::format(R"({{"version":"2.0","capacity":0,"length":0,"required_events":[],"features":[],)"
                       R"("order_books":[{{"symbol":"eth","update_policy":{},"buffer_size":3}}]}})",
                       policy);
  };
  for (const auto& [policy, expected, word] :
       {std::tuple{R"({"contiguous":null})", UpdatePolicy::Contiguous, "contiguous"},
        std::tuple{R"({ "monotonic" : null })", UpdatePolicy::Monotonic, "monotonic"}}) {
    auto spec = deserialize_feature_extractor_spec(document(policy));
    ASSERT_TRUE(spec) << spec.error();
    ASSERT_EQ(spec->order_books().size(), 1u);
    EXPECT_EQ(spec->order_books()[0].update_policy, expected);
    const std::string written = serialize_feature_extractor_spec(*spec).value();
    EXPECT_NE(written.find(fmt::format(R"("update_policy": "{}",)", word)), std::string::npos) << written;
    EXPECT_EQ(written, serialize_feature_extractor_spec(
                           deserialize_feature_extractor_spec(document(fmt::format(R"("{}")", word))).value())
                           .value());
  }
}

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
    EXPECT_EQ(read->definitions(), spec.definitions());
    EXPECT_EQ(read->order_books(), spec.order_books());
    EXPECT_EQ(std::pair(read->checksum(), read->capacity()), std::pair(spec.checksum(), spec.capacity()));
  }
}

// ---- writer refusals --------------------------------------------------------------------------

TEST(FeatureExtractorSpecJson, WriterRefusesSpecsWithoutADocumentTheReaderTakes) {
  const Symbol eth = intern("eth");
  const Symbol empty = intern("");
  const FeatureSource trade = FeatureSource::event(EventKind::Trade);
  const Duration second = Duration::from_millis(1000);
  const auto one = [](FeatureKey key) { return std::vector{FeatureDefinition::with_default_id(std::move(key))}; };
  const auto twice = [](FeatureKey key) {
    return std::vector{FeatureDefinition::with_default_id(key), FeatureDefinition{FeatureId{"again"}, key}};
  };
  std::vector<FeatureDefinition> imbalances;
  for (std::uint64_t n = 1; n <= 17; ++n) imbalances.push_back(FeatureDefinition::with_default_id(OrderBookImbalance{eth, n}));
  const std::vector<std::pair<std::vector<FeatureDefinition>, std::string>> rows{
      // the key rule comes before the scope rule, and so does the offset writer
      {one(Return{Symbol::global(), trade, 0}), "invalid indicator definition at index 0: simple return: window must be at least 1"},
      {one(TimeSinceFirstEventOfDay{eth, trade, 90'000}), "UTC offset must use whole minutes in the range -14:00 through +14:00"},
      {one(SmaTimed{eth, FeatureSource::field(ValueField::Price), Duration{0, 1'500'000}, second}),
       "durations must be positive whole milliseconds"},
      {one(Cvd{eth, FeatureSource::field(ValueField::TradeVolume), 5}), "invalid symbol scope or source for indicator kind \"cvd\""},
      {one(OrderBookMidPrice{Symbol::global()}), "order_book source requires a symbol-specific scope and no event or field"},
      {twice(Context{eth, "x"}), "indicator context has more than one scalar output"},
      {twice(OrderBookNthSize{eth, Side::Ask, 2}), "indicator order_book_nth_size has more than one scalar output"},
      {imbalances, "order_book_imbalance exceeds 16 outputs"},
      // mended: each of these would be written as a document that the reader refuses with the same message
      {twice(Field{eth, ValueField::Price}), "field requires exactly one output"},
      {twice(Vpt{eth, trade}), "vpt requires exactly one output"},
      {twice(feature_key::TradeCountTimed{eth, trade, second, second}), "trade_count_timed requires exactly one output"},
      {one(OrderBookImbalance{eth, 0}), "order_book_imbalance requires positive n_levels"},
      {one(Field{empty, ValueField::Price}), "feature group symbol must not be empty"},
      {{}, "order-book symbol must not be empty"},
  };
  for (const auto& [definitions, message] : rows) {
    auto spec = FeatureExtractorSpec::with_metadata(definitions, 100, std::nullopt);
    std::vector<OrderBookConfig> books;
    if (definitions.empty()) books.push_back(OrderBookConfig{empty, UpdatePolicy::Monotonic, 1, std::nullopt});
    spec = FeatureExtractorSpec::with_order_books(std::move(spec.value()), books);
    auto text = serialize_feature_extractor_spec(spec.value());
    EXPECT_EQ(text ? "written" : text.error(), message);
  }
}

}  // namespace
}  // namespace vorn::serde
