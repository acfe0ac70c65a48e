// wire_from_spec: a spec's canonically ordered definitions regrouped into one
// group per symbol and one indicator per run of equal sort keys.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "engine/errors.hpp"
#include "engine/features/compiler.hpp"
#include "engine/features/serde/feature_extractor_spec_json.hpp"
#include "engine/features/serde/indicator_wire.hpp"

namespace vorn::serde {
namespace {

using namespace feature_key;

using Fail = std::unexpected<std::string>;

constexpr std::size_t kImbalanceOutputLimit = 16;

// What a second definition with the same sort key does to an indicator.
enum class JoinRule : std::uint8_t {
  Outputs,       // becomes one more output
  ScalarOutput,  // refused: "indicator {kind} has more than one scalar output"
  SingleOutput,  // refused as the reader would: "{kind} requires exactly one output"
};

// One definition as the indicator it would open, with its one output.
struct WrittenDefinition {
  IndicatorWire indicator;
  OutputWire output;
  JoinRule join = JoinRule::Outputs;
};

TextStatus checked_key(const FeatureKey& key) {
  if (auto grouped = compiler::group_key(0, key); !grouped) return Fail(to_string(grouped.error()));
  return {};
}

// Fills `w`, default-made, with the indicator parts of one key, by kind.
TextStatus write_key(const FeatureKey& key, WrittenDefinition& w) {
  w.indicator.kind = id_name(key);
  return std::visit(
      [&]<class K>(const K& k) -> TextStatus {
        constexpr FeatureKeyTag tag = K::kTag;
        if constexpr (requires { k.source; }) w.indicator.source = source_wire(k.source);
        if constexpr (requires { k.warmup; }) w.indicator.warmup_policy = k.warmup;
        if constexpr (is_order_book_tag(tag)) w.indicator.source = SourceWire{"order_book"};
        if constexpr (tag == FeatureKeyTag::Context) {
          if (auto status = checked_key(key); !status) return status;
          w.indicator.source = SourceWire{"context"};
          w.indicator.options = OptionsWire{.name = k.name};
          w.join = JoinRule::ScalarOutput;
        } else if constexpr (tag == FeatureKeyTag::OrderBookImbalance) {
          w.output.n_levels = k.n_levels;
        } else if constexpr (is_order_book_tag(tag)) {
          if (auto query = order_book_query_options(key)) {
            if (auto status = checked_key(key); !status) return status;
            w.indicator.options = std::move(query->options);
          }
          w.join = JoinRule::ScalarOutput;
        } else if constexpr (tag == FeatureKeyTag::Field) {
          w.indicator.source = source_wire(FeatureSource::field(k.field));
          w.join = JoinRule::SingleOutput;
        } else if constexpr (tag == FeatureKeyTag::Cvd || tag == FeatureKeyTag::Volatility) {
          w.output.window = k.window;
        } else if constexpr (tag == FeatureKeyTag::Return) {
          if (auto status = checked_key(key); !status) return status;
          w.output.lag = k.lag;
        } else if constexpr (requires { k.aggregation; }) {
          auto aggregation = format_duration(k.aggregation);
          if (!aggregation) return Fail(std::move(aggregation.error()));
          auto window = format_duration(k.window);
          if (!window) return Fail(std::move(window.error()));
          w.indicator.options = OptionsWire{.aggregation = std::move(*aggregation)};
          w.output.window = std::move(*window);
          if (tag == FeatureKeyTag::TradeCountTimed) w.join = JoinRule::SingleOutput;
        } else if constexpr (tag == FeatureKeyTag::TimeSinceFirstEventOfDay) {
          auto offset = format_utc_offset(k.utc_offset_ms);
          if (!offset) return Fail(std::move(offset.error()));
          w.indicator.options = OptionsWire{.utc_offset = std::move(*offset)};
          w.join = JoinRule::ScalarOutput;
        } else {
          static_assert(tag == FeatureKeyTag::Vpt || tag == FeatureKeyTag::DayOfWeek);
          w.join = tag == FeatureKeyTag::Vpt ? JoinRule::SingleOutput : JoinRule::ScalarOutput;
        }
        return {};
      },
      key.value);
}

// The scope and source rules the reader applies to this indicator.
TextStatus check_scope(const FeatureKey& key, const IndicatorWire& indicator) {
  const Symbol symbol = key.symbol();
  switch (key.tag()) {
    case FeatureKeyTag::Context: return {};
    case FeatureKeyTag::OrderBookImbalance: {
      if (auto status = validate_order_book_scope(symbol, indicator.source); !status) return status;
      if (std::get<OrderBookImbalance>(key.value).n_levels == 0) {
        return Fail("order_book_imbalance requires positive n_levels");
      }
      return {};
    }
    case FeatureKeyTag::Field:
      return validate_scope_and_source(symbol, indicator.kind, FeatureSource::field(std::get<Field>(key.value).field));
    default:
      if (is_order_book_tag(key.tag())) return validate_order_book_scope(symbol, indicator.source);
      return std::visit(
          [&]<class K>(const K& k) -> TextStatus {
            if constexpr (requires { k.source; }) {
              return validate_scope_and_source(symbol, indicator.kind, k.source);
            } else {
              return {};
            }
          },
          key.value);
  }
}

bool has_keys(const OutputWire& output) { return output.n_levels || output.lag || output.window || output.id; }

struct Accumulator {
  IndicatorWire indicator;
  CanonicalSortKey identity;
  JoinRule join = JoinRule::Outputs;
};

// The group of one symbol, built definition by definition.
struct OpenGroup {
  Symbol symbol;
  std::vector<Accumulator> indicators;

  TextStatus add(WrittenDefinition& written, CanonicalSortKey identity) {
    if (!indicators.empty() && indicators.back().identity == identity) {
      Accumulator& open = indicators.back();
      if (written.join == JoinRule::ScalarOutput) {
        return Fail(fmt::format("indicator {} has more than one scalar output", open.indicator.kind));
      }
      if (written.join == JoinRule::SingleOutput) {
        return Fail(fmt::format("{} requires exactly one output", open.indicator.kind));
      }
      auto& outputs = open.indicator.outputs;
      if (!outputs) outputs.emplace(1);  // the first output had nothing set
      outputs->push_back(std::move(written.output));
      return {};
    }
    if (has_keys(written.output)) written.indicator.outputs.emplace(1, std::move(written.output));
    indicators.push_back(Accumulator{std::move(written.indicator), std::move(identity), written.join});
    return {};
  }

  TextResult<FeatureGroupWire> close() && {
    FeatureGroupWire group{symbol.resolve_as_string(), {}};
    for (Accumulator& accumulator : indicators) {
      IndicatorWire& indicator = accumulator.indicator;
      if (indicator.kind == "order_book_imbalance" && indicator.outputs &&
          indicator.outputs->size() > kImbalanceOutputLimit) {
        return Fail("order_book_imbalance exceeds 16 outputs");
      }
      group.indicators.push_back(std::move(indicator));
    }
    return group;
  }
};

TextResult<OrderBookConfigWire> write_order_book(const OrderBookConfig& config) {
  std::string symbol = config.symbol.resolve_as_string();
  if (symbol.empty()) return Fail("order-book symbol must not be empty");
  OrderBookConfigWire wire{std::move(symbol), config.update_policy, config.buffer_size, std::nullopt};
  if (config.dense) {
    wire.dense = DenseBookConfigWire{config.dense->tick_size.to_normalized_string(),
                                     config.dense->min_price.to_normalized_string(),
                                     config.dense->max_price.to_normalized_string()};
  }
  return wire;
}

}  // namespace

TextResult<FeatureExtractorSpecWire> wire_from_spec(const FeatureExtractorSpec& spec) {
  FeatureExtractorSpecWire wire{"2.0", spec.capacity(), spec.definitions().size(), {}, spec.checksum(), {}};
  EventSet events;
  std::optional<OpenGroup> open;
  const auto close_open = [&]() -> TextStatus {
    if (!open) return {};
    auto group = std::move(*open).close();
    if (!group) return Fail(std::move(group.error()));
    wire.features.push_back(std::move(*group));
    return {};
  };
  for (const FeatureDefinition& definition : spec.definitions()) {
    const Symbol symbol = definition.key.symbol();
    if (!open || open->symbol != symbol) {
      if (auto status = close_open(); !status) return Fail(std::move(status.error()));
      // An empty name would make a group the reader refuses.
      if (symbol.resolve_as_string().empty()) return Fail("feature group symbol must not be empty");
      open.emplace(OpenGroup{symbol, {}});
    }
    WrittenDefinition written;
    if (auto status = write_key(definition.key, written); !status) return Fail(std::move(status.error()));
    if (definition.id != FeatureId::from_feature_key(definition.key)) written.output.id = definition.id.text;
    if (auto status = check_scope(definition.key, written.indicator); !status) return Fail(std::move(status.error()));
    add_required_events(symbol, written.indicator.source, events);
    if (auto status = open->add(written, canonical_sort_key(definition.key)); !status) {
      return Fail(std::move(status.error()));
    }
  }
  if (auto status = close_open(); !status) return Fail(std::move(status.error()));
  for (const auto& [symbol, event] : events) wire.required_events.push_back({symbol, event});
  for (const OrderBookConfig& config : spec.order_books()) {
    auto book = write_order_book(config);
    if (!book) return Fail(std::move(book.error()));
    wire.order_books.push_back(std::move(*book));
  }
  return wire;
}

}  // namespace vorn::serde
