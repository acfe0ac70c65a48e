#include "engine/features/serde/indicator_wire.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include <fmt/format.h>

#include "engine/debug_quote.hpp"
#include "engine/errors.hpp"
#include "engine/features/compiler.hpp"

namespace vorn::serde {
namespace {

using namespace feature_key;

using Fail = std::unexpected<std::string>;

template <class... Args>
Fail fail(fmt::format_string<Args...> format, Args&&... args) {
  return Fail(fmt::format(format, std::forward<Args>(args)...));
}

Fail fail_with(const VornError& error) { return Fail(to_string(error)); }

std::optional<std::string_view> view(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

// ---- sources -----------------------------------------------------------------------

struct FieldPair {
  ValueField field;
  std::string_view event;
  std::string_view name;
};
constexpr std::array<FieldPair, 4> kFieldPairs{{
    {ValueField::Price, "price", "value"},
    {ValueField::Volume, "volume", "value"},
    {ValueField::TradePrice, "trade", "price"},
    {ValueField::TradeVolume, "trade", "volume"},
}};

TextResult<FeatureSource> read_feature_source(const SourceWire& source) {
  if (source.type == "field") {
    if (!source.event) return fail("field source requires event");
    if (!source.field) return fail("field source requires field");
    for (const FieldPair& pair : kFieldPairs) {
      if (*source.event == pair.event && *source.field == pair.name) return FeatureSource::field(pair.field);
    }
    return fail("invalid field source event/field pair {}/{}", debug_quoted(*source.event),
                debug_quoted(*source.field));
  }
  if (source.type == "event") {
    if (source.field) return fail("event source does not allow field");
    if (!source.event) return fail("event source requires event");
    auto kind = parse_event(*source.event);
    if (!kind) return Fail(std::move(kind.error()));
    return FeatureSource::event(*kind);
  }
  if (source.type == "any_event") {
    if (source.event || source.field) return fail("any_event source does not allow event or field");
    return FeatureSource::any_event();
  }
  return fail("unknown source type {}", debug_quoted(source.type));
}

// ---- scope and source of the kinds read from a feature source ----------------------

enum class Scope : std::uint8_t { SymbolSpecific, Global };
enum class SourceRule : std::uint8_t { Field, TradeEvents, AnyEvent };

struct GeneralKind {
  std::string_view name;
  Scope scope;
  SourceRule source;
};
constexpr std::array<GeneralKind, 16> kGeneralKinds{{
    {"field", Scope::SymbolSpecific, SourceRule::Field},
    {"sma", Scope::SymbolSpecific, SourceRule::Field},
    {"ema", Scope::SymbolSpecific, SourceRule::Field},
    {"simple_return", Scope::SymbolSpecific, SourceRule::Field},
    {"log_return", Scope::SymbolSpecific, SourceRule::Field},
    {"volatility", Scope::SymbolSpecific, SourceRule::Field},
    {"sma_timed", Scope::SymbolSpecific, SourceRule::Field},
    {"volatility_timed", Scope::SymbolSpecific, SourceRule::Field},
    {"cvd", Scope::SymbolSpecific, SourceRule::TradeEvents},
    {"vpt", Scope::SymbolSpecific, SourceRule::TradeEvents},
    {"obv_timed", Scope::SymbolSpecific, SourceRule::TradeEvents},
    {"vwap_timed", Scope::SymbolSpecific, SourceRule::TradeEvents},
    {"trade_count_timed", Scope::SymbolSpecific, SourceRule::TradeEvents},
    {"trade_volume_timed", Scope::SymbolSpecific, SourceRule::TradeEvents},
    {"day_of_week", Scope::Global, SourceRule::AnyEvent},
    {"time_since_first_event_of_day", Scope::Global, SourceRule::AnyEvent},
}};

bool fits(SourceRule rule, FeatureSource source) {
  switch (rule) {
    case SourceRule::Field: return source.kind == FeatureSourceKind::Field;
    case SourceRule::TradeEvents: return source.is_trade_events();
    case SourceRule::AnyEvent: return source.kind == FeatureSourceKind::AnyEvent;
  }
  return false;
}

// ---- what every kind shares ----------------------------------------------------------

// One indicator being read: its options and outputs with absent read as empty.
struct Reading {
  Symbol symbol;
  const IndicatorWire& indicator;
  std::string_view kind;
  OptionsWire options;
  std::vector<OutputWire> outputs;
  std::vector<FeatureDefinition>& definitions;

  void append(FeatureKey key, const std::optional<std::string>& id) const {
    definitions.push_back(id ? FeatureDefinition{FeatureId{*id}, std::move(key)}
                             : FeatureDefinition::with_default_id(std::move(key)));
  }

  TextResult<WarmupPolicy> required_warmup() const {
    if (!indicator.warmup_policy) return fail("{} requires warmup_policy", kind);
    return *indicator.warmup_policy;
  }
  TextStatus reject_warmup() const {
    if (indicator.warmup_policy) return fail("{} does not allow warmup_policy", kind);
    return {};
  }
  TextStatus require_empty_options() const {
    if (options.any()) return fail("{} does not allow options", kind);
    return {};
  }
  // The one definition of a single-valued kind.
  TextStatus scalar_definition(FeatureKey key) const {
    if (outputs.size() != 1) return fail("{} requires exactly one output", kind);
    const OutputWire& output = outputs.front();
    if (output.window || output.lag || output.n_levels) {
      return fail("{} output does not allow window, lag, or n_levels", kind);
    }
    append(std::move(key), output.id);
    return {};
  }
};

// ---- context -------------------------------------------------------------------------

TextStatus read_context(const Reading& r) {
  if (auto status = r.reject_warmup(); !status) return status;
  const SourceWire& source = r.indicator.source;
  if (source.type != "context" || source.event || source.field) {
    return fail("context requires a context source without event or field");
  }
  if (!r.options.name) return fail("context requires options.name");
  OptionsWire others = r.options;
  others.name.reset();
  if (others.any()) return fail("{} does not allow options", r.kind);
  FeatureKey key = Context{r.symbol, *r.options.name};
  if (auto grouped = compiler::group_key(0, key); !grouped) return fail_with(grouped.error());
  return r.scalar_definition(std::move(key));
}

// ---- kinds read from a feature source ---------------------------------------------------

TextStatus read_returns(const Reading& r, FeatureSource source) {
  const ReturnKind flavour = r.kind == "log_return" ? ReturnKind::Log : ReturnKind::Simple;
  for (const OutputWire& output : r.outputs) {
    if (output.window) return fail("{} output does not allow window", r.kind);
    if (!output.lag) return fail("{} output requires an integer lag", r.kind);
    FeatureKey key = Return{r.symbol, source, *output.lag, flavour};
    if (auto valid = compiler::validate_key(key); !valid) return fail_with(valid.error());
    r.append(std::move(key), output.id);
  }
  return {};
}

template <class Key>
TextStatus read_counted(const Reading& r, FeatureSource source) {
  auto warmup = r.required_warmup();
  if (!warmup) return Fail(std::move(warmup.error()));
  if (auto status = r.require_empty_options(); !status) return status;
  for (const OutputWire& output : r.outputs) {
    if (output.lag) return fail("{} output does not allow lag", r.kind);
    const auto* window = output.window ? std::get_if<std::uint64_t>(&*output.window) : nullptr;
    if (window == nullptr) return fail("{} output requires an integer window", r.kind);
    r.append(Key{r.symbol, source, *window, *warmup}, output.id);
  }
  return {};
}

template <class Key>
TextStatus read_timed(const Reading& r, FeatureSource source) {
  auto warmup = r.required_warmup();
  if (!warmup) return Fail(std::move(warmup.error()));
  if (r.options.utc_offset) return fail("{} options do not allow utc_offset", r.kind);
  if (!r.options.aggregation) return fail("{} options require aggregation", r.kind);
  auto aggregation = parse_duration(*r.options.aggregation);
  if (!aggregation) return Fail(std::move(aggregation.error()));
  if (Key::kTag == FeatureKeyTag::TradeCountTimed && r.outputs.size() != 1) {
    return fail("trade_count_timed requires exactly one output");
  }
  for (const OutputWire& output : r.outputs) {
    if (output.lag) return fail("{} output does not allow lag", r.kind);
    const auto* text = output.window ? std::get_if<std::string>(&*output.window) : nullptr;
    if (text == nullptr) return fail("{} output requires a duration window", r.kind);
    auto window = parse_duration(*text);
    if (!window) return Fail(std::move(window.error()));
    r.append(Key{r.symbol, source, *aggregation, *window, *warmup}, output.id);
  }
  return {};
}

TextStatus read_time_since_first_event(const Reading& r, FeatureSource source) {
  if (auto status = r.reject_warmup(); !status) return status;
  if (r.options.aggregation) return fail("time_since_first_event_of_day options do not allow aggregation");
  if (!r.options.utc_offset) return fail("time_since_first_event_of_day options require utc_offset");
  auto offset = parse_utc_offset(*r.options.utc_offset);
  if (!offset) return Fail(std::move(offset.error()));
  return r.scalar_definition(TimeSinceFirstEventOfDay{r.symbol, source, *offset});
}

// Field, vpt and day of week: no warm-up, no options, one output.
TextStatus read_plain_scalar(const Reading& r, FeatureKey key) {
  if (auto status = r.reject_warmup(); !status) return status;
  if (auto status = r.require_empty_options(); !status) return status;
  return r.scalar_definition(std::move(key));
}

TextStatus read_by_kind(const Reading& r, FeatureSource source) {
  const std::string_view kind = r.kind;
  if (kind == "field") return read_plain_scalar(r, Field{r.symbol, *source.value_field()});
  if (kind == "vpt") return read_plain_scalar(r, Vpt{r.symbol, source});
  if (kind == "day_of_week") return read_plain_scalar(r, DayOfWeek{r.symbol, source});
  if (kind == "time_since_first_event_of_day") return read_time_since_first_event(r, source);
  if (kind == "simple_return" || kind == "log_return") {
    if (auto status = r.reject_warmup(); !status) return status;
    if (auto status = r.require_empty_options(); !status) return status;
    return read_returns(r, source);
  }
  if (kind == "cvd") return read_counted<Cvd>(r, source);
  if (kind == "volatility") return read_counted<Volatility>(r, source);
  if (kind == "sma_timed") return read_timed<SmaTimed>(r, source);
  if (kind == "volatility_timed") return read_timed<VolatilityTimed>(r, source);
  if (kind == "obv_timed") return read_timed<ObvTimed>(r, source);
  if (kind == "vwap_timed") return read_timed<VwapTimed>(r, source);
  if (kind == "trade_volume_timed") return read_timed<TradeVolumeTimed>(r, source);
  if (kind == "trade_count_timed") return read_timed<feature_key::TradeCountTimed>(r, source);
  // "sma" and "ema" are all that is left.
  return fail("sample averages moved to transformers; use field extraction plus an sma/ema pipeline transformation");
}

TextStatus read_general(const Reading& r) {
  const OptionsWire& o = r.options;
  if (o.side || o.price || o.size || o.from_price || o.to_price || o.n_levels) {
    return fail("{} does not allow order-book query parameters", r.kind);
  }
  auto source = read_feature_source(r.indicator.source);
  if (!source) return Fail(std::move(source.error()));
  if (auto status = validate_scope_and_source(r.symbol, r.kind, *source); !status) return status;
  if (std::ranges::any_of(r.outputs, [](const OutputWire& output) { return output.n_levels.has_value(); })) {
    return fail("{} output does not allow n_levels", r.kind);
  }
  return read_by_kind(r, *source);
}

// ---- order-book kinds -------------------------------------------------------------------

TextResult<Decimal> book_decimal(const std::optional<std::string>& text, std::string_view name) {
  return parse_book_decimal(view(text), name);
}

// Reads a query's parameters after its side; `Key` picks which.
template <class Key>
TextResult<FeatureKey> query_key(const Reading& r, Side side) {
  const OptionsWire& o = r.options;
  if constexpr (requires(Key k) { k.price; }) {
    auto price = book_decimal(o.price, "price");
    if (!price) return Fail(std::move(price.error()));
    return Key{r.symbol, side, *price};
  } else if constexpr (requires(Key k) { k.size; }) {
    auto size = book_decimal(o.size, "size");
    if (!size) return Fail(std::move(size.error()));
    return Key{r.symbol, side, *size};
  } else if constexpr (requires(Key k) { k.from_price; }) {
    auto from = book_decimal(o.from_price, "from_price");
    if (!from) return Fail(std::move(from.error()));
    auto to = book_decimal(o.to_price, "to_price");
    if (!to) return Fail(std::move(to.error()));
    return Key{r.symbol, side, *from, *to};
  } else {
    if (!o.n_levels) return fail("{} requires n_levels", r.kind);
    return Key{r.symbol, side, *o.n_levels};
  }
}

// Only presence is compared, so "1.50" and "1.5" both match.
bool same_options(const OptionsWire& given, const OptionsWire& canonical) {
  const auto same = [](const auto& a, const auto& b) { return a.has_value() == b.has_value(); };
  return !given.aggregation && !given.utc_offset && same(given.side, canonical.side) &&
         same(given.price, canonical.price) && same(given.size, canonical.size) &&
         same(given.from_price, canonical.from_price) && same(given.to_price, canonical.to_price) &&
         same(given.n_levels, canonical.n_levels);
}

template <class Key>
TextStatus read_query(const Reading& r) {
  auto side = parse_book_side(view(r.options.side));
  if (!side) return Fail(std::move(side.error()));
  auto key = query_key<Key>(r, *side);
  if (!key) return Fail(std::move(key.error()));
  if (auto valid = compiler::validate_key(*key); !valid) return fail_with(valid.error());
  if (!same_options(r.options, order_book_query_options(*key)->options)) {
    return fail("{} has unexpected options", r.kind);
  }
  return r.scalar_definition(std::move(*key));
}

TextStatus read_imbalance(const Reading& r) {
  if (r.outputs.size() > 16) return fail("order_book_imbalance exceeds 16 outputs");
  for (const OutputWire& output : r.outputs) {
    if (output.window || output.lag) return fail("order_book_imbalance output does not allow window or lag");
    if (!output.n_levels || *output.n_levels == 0) return fail("order_book_imbalance requires positive n_levels");
    r.append(OrderBookImbalance{r.symbol, *output.n_levels}, output.id);
  }
  return {};
}

using BookReader = TextStatus (*)(const Reading&);

template <class Key>
TextStatus read_book_top(const Reading& r) {
  if (auto status = r.require_empty_options(); !status) return status;
  return r.scalar_definition(Key{r.symbol});
}

TextStatus read_book_imbalance(const Reading& r) {
  if (auto status = r.require_empty_options(); !status) return status;
  return read_imbalance(r);
}

constexpr std::array<std::pair<std::string_view, BookReader>, 18> kBookKinds{{
    {"order_book_level_size", &read_query<OrderBookLevelSize>},
    {"order_book_nth_price", &read_query<OrderBookNthPrice>},
    {"order_book_nth_size", &read_query<OrderBookNthSize>},
    {"order_book_depth_until_price", &read_query<OrderBookDepthUntilPrice>},
    {"order_book_depth_until_size_price_from", &read_query<OrderBookDepthUntilSizePriceFrom>},
    {"order_book_depth_until_size_price_to", &read_query<OrderBookDepthUntilSizePriceTo>},
    {"order_book_depth_until_size_total_size", &read_query<OrderBookDepthUntilSizeTotalSize>},
    {"order_book_volume_between_prices", &read_query<OrderBookVolumeBetweenPrices>},
    {"order_book_best_bid_price", &read_book_top<OrderBookBestBidPrice>},
    {"order_book_best_bid_size", &read_book_top<OrderBookBestBidSize>},
    {"order_book_best_ask_price", &read_book_top<OrderBookBestAskPrice>},
    {"order_book_best_ask_size", &read_book_top<OrderBookBestAskSize>},
    {"order_book_mid_price", &read_book_top<OrderBookMidPrice>},
    {"order_book_spread", &read_book_top<OrderBookSpread>},
    {"order_book_spread_bps", &read_book_top<OrderBookSpreadBps>},
    {"order_book_weighted_mid_price", &read_book_top<OrderBookWeightedMidPrice>},
    {"order_book_microprice", &read_book_top<OrderBookMicroprice>},
    {"order_book_imbalance", &read_book_imbalance},
}};

TextStatus read_order_book_kind(const Reading& r) {
  if (auto status = validate_order_book_scope(r.symbol, r.indicator.source); !status) return status;
  if (auto status = r.reject_warmup(); !status) return status;
  const auto* entry = std::ranges::find(kBookKinds, r.kind, &std::pair<std::string_view, BookReader>::first);
  if (entry != kBookKinds.end()) return entry->second(r);
  if (auto status = r.require_empty_options(); !status) return status;
  return fail("invalid indicator kind {} for order_book source", debug_quoted(r.kind));
}

// ---- canonical query options ----------------------------------------------------------------

std::string decimal_text(const Decimal& value) { return value.to_normalized_string(); }
std::string side_text(Side side) { return std::string(json_word(side)); }

template <FeatureKeyTag T>
OptionsWire query_options(const BookPrice<T>& k) {
  return {.side = side_text(k.side), .price = decimal_text(k.price)};
}
template <FeatureKeyTag T>
OptionsWire query_options(const BookLevel<T>& k) {
  return {.side = side_text(k.side), .n_levels = k.n_levels};
}
template <FeatureKeyTag T>
OptionsWire query_options(const BookSize<T>& k) {
  return {.side = side_text(k.side), .size = decimal_text(k.size)};
}
OptionsWire query_options(const OrderBookVolumeBetweenPrices& k) {
  return {.side = side_text(k.side), .from_price = decimal_text(k.from_price), .to_price = decimal_text(k.to_price)};
}

}  // namespace

TextStatus validate_scope_and_source(Symbol symbol, std::string_view kind, FeatureSource source) {
  const auto* entry = std::ranges::find(kGeneralKinds, kind, &GeneralKind::name);
  if (entry == kGeneralKinds.end()) return fail("unknown indicator kind {}", debug_quoted(kind));
  const bool scope_fits = symbol.is_global() == (entry->scope == Scope::Global);
  if (!scope_fits || !fits(entry->source, source)) {
    return fail("invalid symbol scope or source for indicator kind {}", debug_quoted(kind));
  }
  return {};
}

TextStatus validate_order_book_scope(Symbol symbol, const SourceWire& source) {
  if (symbol.is_global() || source.event || source.field) {
    return fail("order_book source requires a symbol-specific scope and no event or field");
  }
  return {};
}

std::optional<BookQueryOptions> order_book_query_options(const FeatureKey& key) {
  const FeatureKeyTag tag = key.tag();
  if (tag < FeatureKeyTag::OrderBookLevelSize || tag > FeatureKeyTag::OrderBookVolumeBetweenPrices) {
    return std::nullopt;
  }
  OptionsWire options = std::visit(
      []<class K>(const K& k) -> OptionsWire {
        if constexpr (requires { query_options(k); }) {
          return query_options(k);
        } else {
          return {};
        }
      },
      key.value);
  return BookQueryOptions{id_name(key), std::move(options)};
}

SourceWire source_wire(FeatureSource source) {
  if (const auto field = source.value_field()) {
    const FieldPair& pair = *std::ranges::find(kFieldPairs, *field, &FieldPair::field);
    return {"field", std::string(pair.event), std::string(pair.name)};
  }
  if (const auto kind = source.event_kind()) return {"event", std::string(json_word(*kind))};
  return {"any_event"};
}

void add_required_events(Symbol symbol, const SourceWire& source, EventSet& events) {
  if (source.type == "order_book") {
    const std::string name = symbol.resolve_as_string();
    events.emplace(name, "order_book_delta");
    events.emplace(name, "order_book_snapshot");
  } else if (source.type == "any_event") {
    events.emplace(std::string(kGlobalSymbolName), "time");
  } else if (source.event) {
    events.emplace(symbol.resolve_as_string(), *source.event);
  }
}

TextStatus deserialize_indicator(Symbol symbol, const IndicatorWire& indicator,
                                 std::vector<FeatureDefinition>& definitions) {
  if (indicator.outputs && indicator.outputs->empty()) return fail("{} outputs must not be empty", indicator.kind);
  const Reading reading{symbol,
                        indicator,
                        indicator.kind,
                        indicator.options.value_or(OptionsWire{}),
                        indicator.outputs.value_or(std::vector<OutputWire>(1)),
                        definitions};
  if (indicator.kind == "context") return read_context(reading);
  if (reading.options.name) return fail("only context allows options.name");
  if (indicator.source.type == "order_book") return read_order_book_kind(reading);
  return read_general(reading);
}

}  // namespace vorn::serde
