// Display and debug texts of VornError and its nested reasons.
//
// Every variant is described once, by `render`: its name, its message and its
// fields. The display text is the message with each placeholder filled by the
// field's display (a nested error writes its own display in place). The debug
// form uses one struct-like format for every enumeration:
//   a variant without fields      WindowZero
//   a variant wrapping one value  InvalidArgument(RingBufferCapacityZero)
//   a variant with named fields   LimitExceeded { target: Symbols, count: 513, limit: 512 }
// where field values print in their debug form: integers in decimal, decimals
// as stored, symbols as Symbol("eth"), enumerations by variant name, durations
// as in messages ("1.5s"), texts debug-quoted, nested errors in this format.
#include "engine/errors.hpp"

#include <array>
#include <concepts>

#include "engine/debug_quote.hpp"
#include "engine/panic.hpp"

namespace vorn {
namespace {

using Out = fmt::appender;

// A field of a variant; an empty name marks the one value of a wrapper.
template <class T>
struct Field {
  std::string_view name;
  const T& value;
};
template <class T>
Field<T> field(std::string_view name, const T& value) { return {name, value}; }
template <class T>
Field<T> wrapped(const T& value) { return {{}, value}; }

// A field value placed into a message: formatted by its display.
template <class T>
struct Shown {
  const T& value;
};

Out copy(Out out, std::string_view text) { return std::copy(text.begin(), text.end(), out); }

// write_value(out, value, debug): the value's display or debug text.
template <std::integral T>
Out write_value(Out out, T value, bool) { return fmt::format_to(out, "{}", value); }
template <class E>
  requires std::is_enum_v<E>
Out write_value(Out out, E value, bool debug) { return copy(out, debug ? debug_name(value) : display(value)); }
// Book sides print their variant name in messages too ("invalid Ask level update ...").
Out write_value(Out out, Side side, bool) { return copy(out, debug_name(side)); }
Out write_value(Out out, const Decimal& value, bool) { return copy(out, value.to_string()); }
Out write_value(Out out, Symbol symbol, bool debug) { return copy(out, debug ? symbol.debug() : symbol.display()); }
Out write_value(Out out, Duration duration, bool) { return copy(out, format_duration_for_message(duration)); }
Out write_value(Out out, std::string_view text, bool debug) { return copy(out, debug ? debug_quoted(text) : text); }
Out write_value(Out out, const InvalidArgumentError& error, bool debug);
Out write_value(Out out, const InvalidIndicatorDefinitionError& error, bool debug);
Out write_value(Out out, const OrderBookUpdateError& error, bool debug);
Out write_value(Out out, const VornError& error, bool debug);

}  // namespace
}  // namespace vorn

template <class T>
struct fmt::formatter<vorn::Shown<T>> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  auto format(const vorn::Shown<T>& shown, fmt::format_context& ctx) const {
    return vorn::write_value(ctx.out(), shown.value, false);
  }
};

namespace vorn {
namespace {

// Writes one variant in display or debug form.
struct Writer {
  Out out;
  bool debug;

  template <class... T>
  void variant(std::string_view name, fmt::format_string<Shown<T>...> message, Field<T>... fields) {
    if (!debug) {
      out = fmt::format_to(out, message, Shown<T>{fields.value}...);
      return;
    }
    out = copy(out, name);
    if constexpr (sizeof...(T) > 0) {
      const bool tuple = (fields.name.empty() && ...);
      out = copy(out, tuple ? "(" : " { ");
      bool first = true;
      auto write_field = [&](std::string_view field_name, const auto& value) {
        if (!first) out = copy(out, ", ");
        first = false;
        if (!tuple) out = fmt::format_to(out, "{}: ", field_name);
        out = write_value(out, value, true);
      };
      (write_field(fields.name, fields.value), ...);
      out = copy(out, tuple ? ")" : " }");
    }
  }
};

// ---- order-book update failures -------------------------------------------------

void render(Writer& w, const book_error::SequenceGap& e) {
  w.variant("SequenceGap", "expected update ID {}, received {}", field("expected", e.expected),
            field("received", e.received));
}
void render(Writer& w, const book_error::SnapshotHistoryGap& e) {
  w.variant("SnapshotHistoryGap", "snapshot {} requires update ID {}, received {}",
            field("snapshot_update_id", e.snapshot_update_id), field("expected", e.expected),
            field("received", e.received));
}
void render(Writer& w, const book_error::BufferCapacityExceeded& e) {
  w.variant("BufferCapacityExceeded", "order-book update buffer capacity {} was exceeded",
            field("capacity", e.capacity));
}
void render(Writer& w, const book_error::StaleSnapshot& e) {
  w.variant("StaleSnapshot", "snapshot {1} is not newer than current snapshot {0}",
            field("current_snapshot_update_id", e.current_snapshot_update_id),
            field("received_snapshot_update_id", e.received_snapshot_update_id));
}
void render(Writer& w, const book_error::InvalidDenseConfiguration& e) {
  w.variant("InvalidDenseConfiguration", "invalid dense order-book grid: tick {}, range [{}, {}]",
            field("tick_size", e.tick_size), field("min_price", e.min_price),
            field("max_price", e.max_price));
}
void render(Writer& w, const book_error::DenseCapacityExceeded&) {
  w.variant("DenseCapacityExceeded", "dense order-book price range cannot be allocated");
}
void render(Writer& w, const book_error::InvalidUpdate& e) {
  w.variant("InvalidUpdate", "invalid {} level update with price {} and size {}",
            field("side", e.side), field("price", e.price), field("size", e.size));
}
void render(Writer& w, const book_error::BufferAllocationFailed& e) {
  w.variant("BufferAllocationFailed", "order-book update buffer capacity {} cannot be allocated",
            field("capacity", e.capacity));
}

// ---- argument errors ----------------------------------------------------------------

void render(Writer& w, const argument_error::GlobalOrderBookSymbol&) {
  w.variant("GlobalOrderBookSymbol", "order books require a non-global symbol");
}
void render(Writer& w, const argument_error::NonFiniteEventValue& e) {
  w.variant("NonFiniteEventValue", "event {} must be finite", field("field", e.field));
}
void render(Writer& w, const argument_error::FeatureVectorIndexOutOfBounds& e) {
  w.variant("FeatureVectorIndexOutOfBounds", "index {} is out of bounds for feature vector of length {}",
            field("index", e.index), field("length", e.length));
}
void render(Writer& w, const argument_error::SourceValuesTooShort& e) {
  w.variant("SourceValuesTooShort", "requested size {} exceeds the {} provided values",
            field("requested", e.requested), field("available", e.available));
}
void render(Writer& w, const argument_error::FeatureVectorRangeOverflow& e) {
  w.variant("FeatureVectorRangeOverflow", "range starting at {} with size {} overflows usize",
            field("start", e.start), field("length", e.length));
}
void render(Writer& w, const argument_error::FeatureVectorRangeOutOfBounds& e) {
  w.variant("FeatureVectorRangeOutOfBounds", "range {}..{} is out of bounds for feature vector capacity {}",
            field("start", e.start), field("end", e.end), field("capacity", e.capacity));
}
void render(Writer& w, const argument_error::LimitExceeded& e) {
  w.variant("LimitExceeded", "{} count {} exceeds limit {}", field("target", e.target),
            field("count", e.count), field("limit", e.limit));
}
void render(Writer& w, const argument_error::FeatureVectorCapacityTooSmall& e) {
  w.variant("FeatureVectorCapacityTooSmall", "feature vector capacity {} is smaller than active length {}",
            field("capacity", e.capacity), field("active_length", e.active_length));
}
void render(Writer& w, const argument_error::ReservedFeatureId& e) {
  w.variant("ReservedFeatureId",
            "feature definition at index {} uses the reserved namespace for feature IDs",
            field("definition_index", e.definition_index));
}
void render(Writer& w, const argument_error::RingBufferCapacityZero&) {
  w.variant("RingBufferCapacityZero", "ring buffer capacity must be greater than 0");
}
void render(Writer& w, const argument_error::WindowLimitReached& e) {
  w.variant("WindowLimitReached", "maximum number of windows ({}) reached", field("limit", e.limit));
}
void render(Writer& w, const argument_error::WindowAddedAfterData&) {
  w.variant("WindowAddedAfterData", "cannot add a window after data has been added");
}
void render(Writer& w, const argument_error::WindowPeriodZero&) {
  w.variant("WindowPeriodZero", "window period must be greater than 0");
}
void render(Writer& w, const argument_error::WindowPeriodExceedsCapacity& e) {
  w.variant("WindowPeriodExceedsCapacity", "window period {} cannot exceed ring buffer capacity {}",
            field("period", e.period), field("capacity", e.capacity));
}
void render(Writer& w, const argument_error::WindowPeriodMustBeLessThanCapacity& e) {
  w.variant("WindowPeriodMustBeLessThanCapacity", "window period {} must be less than ring buffer capacity {}",
            field("period", e.period), field("capacity", e.capacity));
}
void render(Writer& w, const argument_error::AggregationTooShort&) {
  w.variant("AggregationTooShort", "aggregation duration must be at least 1 millisecond");
}
void render(Writer& w, const argument_error::DurationPrecision& e) {
  w.variant("DurationPrecision", "{} must use whole-millisecond precision", field("field", e.field));
}
void render(Writer& w, const argument_error::DurationOutOfRange& e) {
  w.variant("DurationOutOfRange", "{} must fit signed 64-bit milliseconds", field("field", e.field));
}
void render(Writer& w, const argument_error::WindowShorterThanAggregation&) {
  w.variant("WindowShorterThanAggregation", "window cannot be shorter than aggregation");
}
void render(Writer& w, const argument_error::WindowNotMultipleOfAggregation&) {
  w.variant("WindowNotMultipleOfAggregation", "window must be a multiple of aggregation");
}
void render(Writer& w, const argument_error::WindowPeriodOutOfRange& e) {
  w.variant("WindowPeriodOutOfRange", "window period must fit {}", field("target", e.target));
}
void render(Writer& w, const argument_error::WindowDurationOutOfRange&) {
  w.variant("WindowDurationOutOfRange", "window duration must fit signed 64-bit milliseconds");
}
void render(Writer& w, const argument_error::TimedPeriodTooLarge& e) {
  w.variant("TimedPeriodTooLarge", "{} timed period is too large", field("indicator", e.indicator));
}

// ---- indicator-definition errors ------------------------------------------------------

void render(Writer& w, const definition_error::EmptyContextName&) {
  w.variant("EmptyContextName", "context name must not be empty");
}
void render(Writer& w, const definition_error::OrderBookPriceNegative&) {
  w.variant("OrderBookPriceNegative", "order-book query prices must be nonnegative");
}
void render(Writer& w, const definition_error::OrderBookSizeNotPositive&) {
  w.variant("OrderBookSizeNotPositive", "order-book target size must be positive");
}
void render(Writer& w, const definition_error::OrderBookPriceRangeInvalid&) {
  w.variant("OrderBookPriceRangeInvalid", "order-book query requires from_price < to_price");
}
void render(Writer& w, const definition_error::OrderBookDepthZero&) {
  w.variant("OrderBookDepthZero", "order-book depth must be positive");
}
void render(Writer& w, const definition_error::CompatibleGroupOutputLimitExceeded& e) {
  w.variant("CompatibleGroupOutputLimitExceeded", "compatible feature group exceeds {} outputs",
            field("limit", e.limit));
}
void render(Writer& w, const definition_error::DuplicateScalarDerivation&) {
  w.variant("DuplicateScalarDerivation", "duplicates a scalar runtime derivation");
}
void render(Writer& w, const definition_error::DuplicateFeatureKey&) {
  w.variant("DuplicateFeatureKey", "duplicates an earlier feature key");
}
void render(Writer& w, const definition_error::DuplicateFeatureId&) {
  w.variant("DuplicateFeatureId", "duplicates an earlier feature ID");
}
void render(Writer& w, const definition_error::ScalarEventFieldSourceRequired&) {
  w.variant("ScalarEventFieldSourceRequired", "requires a scalar event-field source");
}
void render(Writer& w, const definition_error::TradeEventSourceRequired&) {
  w.variant("TradeEventSourceRequired", "requires Event(Trade) as its source");
}
void render(Writer& w, const definition_error::WindowTooShort&) {
  w.variant("WindowTooShort", "window must be at least 1");
}
void render(Writer& w, const definition_error::WindowTooLarge&) {
  w.variant("WindowTooLarge", "window is too large");
}
void render(Writer& w, const definition_error::AggregationTooShort&) {
  w.variant("AggregationTooShort", "aggregation must be at least 1 millisecond");
}
void render(Writer& w, const definition_error::WindowShorterThanAggregation& e) {
  w.variant("WindowShorterThanAggregation", "window must be at least aggregation {}ms, got {}ms",
            field("aggregation_millis", e.aggregation_millis), field("window_millis", e.window_millis));
}
void render(Writer& w, const definition_error::WindowNotMultipleOfAggregation& e) {
  w.variant("WindowNotMultipleOfAggregation",
            "window must be an exact multiple of aggregation {}ms, got {}ms",
            field("aggregation_millis", e.aggregation_millis), field("window_millis", e.window_millis));
}
void render(Writer& w, const definition_error::BucketPeriodOutOfRange&) {
  w.variant("BucketPeriodOutOfRange", "derived bucket period does not fit usize");
}
void render(Writer& w, const definition_error::DurationPrecision& e) {
  w.variant("DurationPrecision", "{} must use whole-millisecond precision, got {}",
            field("field", e.field), field("duration", e.duration));
}
void render(Writer& w, const definition_error::DurationOutOfRange& e) {
  w.variant("DurationOutOfRange", "{} must fit signed 64-bit milliseconds, got {}",
            field("field", e.field), field("duration", e.duration));
}
void render(Writer& w, const definition_error::UtcOffsetOutOfRange& e) {
  w.variant("UtcOffsetOutOfRange", "UTC offset must be within -14h..=+14h, got {}ms",
            field("offset_millis", e.offset_millis));
}
void render(Writer& w, const definition_error::UtcOffsetPrecision& e) {
  w.variant("UtcOffsetPrecision", "UTC offset must use whole-minute precision, got {}ms",
            field("offset_millis", e.offset_millis));
}
void render(Writer& w, const definition_error::InvalidArgument& e) {
  w.variant("InvalidArgument", "invalid argument: {}", wrapped(e.error));
}
void render(Writer& w, const definition_error::ConstructionFailed&) {
  w.variant("ConstructionFailed", "indicator construction failed");
}

// ---- VornError ----------------------------------------------------------------------------

void render(Writer& w, const vorn_error::InvalidContextUpdate& e) {
  w.variant("InvalidContextUpdate", "context update {}: {}", field("index", e.index),
            field("reason", e.reason));
}
void render(Writer& w, const vorn_error::InvalidArgument& e) {
  w.variant("InvalidArgument", "invalid argument: {}", wrapped(e.error));
}
void render(Writer& w, const vorn_error::InvalidPriceRange& e) {
  w.variant("InvalidPriceRange", "invalid price range: from price {} must be less than to price {}",
            field("from_price", e.from_price), field("to_price", e.to_price));
}
void render(Writer& w, const vorn_error::InvalidIndicatorDefinition& e) {
  w.variant("InvalidIndicatorDefinition", "invalid indicator definition at index {}: {}: {}",
            field("index", e.index), field("indicator", e.indicator), field("reason", e.reason));
}
void render(Writer& w, const vorn_error::InvalidTransformationDefinition& e) {
  w.variant("InvalidTransformationDefinition", "invalid transformation definition at index {}: {}",
            field("index", e.index), field("reason", e.reason));
}
void render(Writer& w, const vorn_error::InvalidPipelineStage& e) {
  w.variant("InvalidPipelineStage", "invalid pipeline stage {}: {}", field("index", e.index),
            field("reason", e.reason));
}
// The four size mismatches keep `expected` first and print `actual` first.
void render(Writer& w, const vorn_error::OutputCountMismatch& e) {
  w.variant("OutputCountMismatch", "output storage has {1} cells, but compilation requires exactly {0}",
            field("expected", e.expected), field("actual", e.actual));
}
void render(Writer& w, const vorn_error::FeatureVectorCapacityMismatch& e) {
  w.variant("FeatureVectorCapacityMismatch",
            "output storage has capacity {1}, but the feature-vector spec requires capacity {0}",
            field("expected", e.expected), field("actual", e.actual));
}
void render(Writer& w, const vorn_error::ModelVectorLengthMismatch& e) {
  w.variant("ModelVectorLengthMismatch",
            "model-input storage has {1} active cells, but the model-input spec requires exactly {0}",
            field("expected", e.expected), field("actual", e.actual));
}
void render(Writer& w, const vorn_error::ModelVectorCapacityMismatch& e) {
  w.variant("ModelVectorCapacityMismatch",
            "model-input storage has capacity {1}, but the model-input spec requires capacity {0}",
            field("expected", e.expected), field("actual", e.actual));
}
void render(Writer& w, const vorn_error::TimestampOutOfOrder& e) {
  w.variant("TimestampOutOfOrder",
            "timestamp {2} for {1} event for symbol {0} is earlier than previous timestamp {3}",
            field("symbol", e.symbol), field("event_kind", e.event_kind), field("timestamp", e.timestamp),
            field("previous_timestamp", e.previous_timestamp));
}
void render(Writer& w, const vorn_error::OrderBookUpdateError& e) {
  w.variant("OrderBookUpdateError", "order-book update failed: {}", wrapped(e.error));
}
void render(Writer& w, const vorn_error::OrderBookNotConfigured& e) {
  w.variant("OrderBookNotConfigured", "no order book is configured for symbol {}", field("symbol", e.symbol));
}
void render(Writer& w, const vorn_error::DuplicateOrderBook& e) {
  w.variant("DuplicateOrderBook", "more than one order book is configured for symbol {}",
            field("symbol", e.symbol));
}
void render(Writer& w, const vorn_error::StorageUnavailable& e) {
  w.variant("StorageUnavailable", "cannot allocate {}: {} cells", field("target", e.target), field("cells", e.cells));
}

template <class Union>
Out write_union(Out out, const Union& error, bool debug) {
  Writer writer{out, debug};
  std::visit([&](const auto& alternative) { render(writer, alternative); }, error.value);
  return writer.out;
}

Out write_value(Out out, const InvalidArgumentError& error, bool debug) { return write_union(out, error, debug); }
Out write_value(Out out, const InvalidIndicatorDefinitionError& error, bool debug) {
  return write_union(out, error, debug);
}
Out write_value(Out out, const OrderBookUpdateError& error, bool debug) { return write_union(out, error, debug); }
Out write_value(Out out, const VornError& error, bool debug) { return write_union(out, error, debug); }

template <class T>
std::string text_of(const T& error, bool debug) {
  fmt::memory_buffer buffer;
  write_value(fmt::appender(buffer), error, debug);
  return fmt::to_string(buffer);
}

// ---- words of the small enumerations ----------------------------------------------------

struct Words {
  std::string_view debug;
  std::string_view display;
};

template <std::size_t N, class E>
const Words& words_of(const std::array<Words, N>& table, E value) {
  const auto index = static_cast<std::size_t>(value);
  if (index >= N) unreachable("enumeration value out of range");
  return table[index];
}

constexpr std::array<Words, 6> kLimitTargetWords{{
    {"Symbols", "symbol"},
    {"RuntimeFeatures", "runtime feature"},
    {"SymbolRouters", "symbol router"},
    {"Subscribers", "subscriber"},
    {"SubscriberGroup", "subscriber group"},
    {"OrderBooks", "order-book"},
}};

constexpr std::array<Words, 2> kDefinitionDurationFieldWords{{
    {"Aggregation", "aggregation"},
    {"Window", "window"},
}};

constexpr std::array<Words, 3> kArgumentDurationFieldWords{{
    {"Aggregation", "aggregation duration"},
    {"Window", "window duration"},
    {"TimedWindow", "timed window durations"},
}};

constexpr std::array<Words, 2> kWindowPeriodTargetWords{{
    {"Signed64", "signed 64-bit"},
    {"Usize", "usize"},
}};

constexpr std::array<Words, 3> kStorageTargetWords{{
    {"FeatureVector", "the feature vector"},
    {"ModelVector", "the model vector"},
    {"StageBuffer", "a stage buffer"},
}};

constexpr std::array<Words, kIndicatorKindCount> kIndicatorKindWords{{
    {"Context", "context"},
    {"Field", "field"},
    {"OrderBookBestBidPrice", "order-book best bid price"},
    {"OrderBookBestBidSize", "order-book best bid size"},
    {"OrderBookBestAskPrice", "order-book best ask price"},
    {"OrderBookBestAskSize", "order-book best ask size"},
    {"OrderBookLevelSize", "order book level size"},
    {"OrderBookNthPrice", "order book nth price"},
    {"OrderBookNthSize", "order book nth size"},
    {"OrderBookDepthUntilPrice", "order book depth until price"},
    {"OrderBookDepthUntilSizePriceFrom", "order book depth until size price from"},
    {"OrderBookDepthUntilSizePriceTo", "order book depth until size price to"},
    {"OrderBookDepthUntilSizeTotalSize", "order book depth until size total size"},
    {"OrderBookVolumeBetweenPrices", "order book volume between prices"},
    {"OrderBookMidPrice", "order-book mid-price"},
    {"OrderBookSpread", "order-book spread"},
    {"OrderBookSpreadBps", "order-book spread in basis points"},
    {"OrderBookWeightedMidPrice", "order-book weighted mid-price"},
    {"OrderBookMicroprice", "order-book microprice"},
    {"OrderBookImbalance", "order-book imbalance"},
    {"Sma", "SMA"},
    {"Ema", "EMA"},
    {"Cvd", "CVD"},
    {"SimpleReturn", "simple return"},
    {"LogReturn", "log return"},
    {"Volatility", "rolling volatility"},
    {"SmaTimed", "timed SMA"},
    {"ObvTimed", "timed OBV"},
    {"VolatilityTimed", "timed rolling volatility"},
    {"Vpt", "VPT"},
    {"TradeCountTimed", "timed trade count"},
    {"TradeVolumeTimed", "timed trade volume"},
    {"VwapTimed", "timed VWAP"},
    {"DayOfWeek", "day of week"},
    {"TimeSinceFirstEventOfDay", "time since first event of day"},
}};

constexpr std::array<Words, 12> kTransformationErrorWords{{
    {"WindowZero", "average window must be positive"},
    {"TooManyAverageOutputs", "too many compatible average outputs (maximum 16)"},
    {"InputFeatureNotFound", "input feature ID does not exist in the preceding layout"},
    {"DuplicateOutputFeature", "output feature ID duplicates an earlier output"},
    {"ReservedOutputFeature", "output feature ID uses the reserved namespace"},
    {"MeanNotFinite", "standard-scaler mean must be finite"},
    {"ScaleNotFinite", "standard-scaler scale must be finite"},
    {"ScaleNotPositive", "standard-scaler scale must be positive"},
    {"InverseScaleNotFinite", "standard-scaler inverse scale must be finite"},
    {"LagWindowZero", "lag window must be positive"},
    {"LagWindowTooLarge", "lag window exceeds the maximum of 10000 values"},
    {"StorageUnavailable", "transformation storage cannot be allocated"},
}};

// "1.5" from whole 1, fraction 5 of 10: the fraction without trailing zeros.
std::string with_fraction(unsigned __int128 whole, std::uint64_t fraction, int digits) {
  std::string text = fmt::format("{}", whole);
  if (fraction == 0) return text;
  std::string decimals = fmt::format("{:0{}}", fraction, digits);
  decimals.erase(decimals.find_last_not_of('0') + 1);
  return text + "." + decimals;
}

}  // namespace

std::string_view display(LimitTarget value) { return words_of(kLimitTargetWords, value).display; }
std::string_view display(DefinitionDurationField value) { return words_of(kDefinitionDurationFieldWords, value).display; }
std::string_view display(ArgumentDurationField value) { return words_of(kArgumentDurationFieldWords, value).display; }
std::string_view display(WindowPeriodTarget value) { return words_of(kWindowPeriodTargetWords, value).display; }
std::string_view display(StorageTarget value) { return words_of(kStorageTargetWords, value).display; }
std::string_view display(IndicatorKind value) { return words_of(kIndicatorKindWords, value).display; }
std::string_view display(InvalidTransformationDefinitionError value) {
  return words_of(kTransformationErrorWords, value).display;
}
std::string_view debug_name(LimitTarget value) { return words_of(kLimitTargetWords, value).debug; }
std::string_view debug_name(DefinitionDurationField value) { return words_of(kDefinitionDurationFieldWords, value).debug; }
std::string_view debug_name(ArgumentDurationField value) { return words_of(kArgumentDurationFieldWords, value).debug; }
std::string_view debug_name(WindowPeriodTarget value) { return words_of(kWindowPeriodTargetWords, value).debug; }
std::string_view debug_name(StorageTarget value) { return words_of(kStorageTargetWords, value).debug; }
std::string_view debug_name(IndicatorKind value) { return words_of(kIndicatorKindWords, value).debug; }
std::string_view debug_name(InvalidTransformationDefinitionError value) {
  return words_of(kTransformationErrorWords, value).debug;
}

std::string format_duration_for_message(Duration duration) {
  constexpr std::uint64_t kNanosPerSecond = 1'000'000'000;
  const unsigned __int128 total = duration.total_nanos();
  if (total >= kNanosPerSecond) {
    return with_fraction(total / kNanosPerSecond, static_cast<std::uint64_t>(total % kNanosPerSecond), 9) + "s";
  }
  const auto nanos = static_cast<std::uint64_t>(total);
  if (nanos >= 1'000'000) return with_fraction(nanos / 1'000'000, nanos % 1'000'000, 6) + "ms";
  if (nanos >= 1'000) return with_fraction(nanos / 1'000, nanos % 1'000, 3) + "\u00b5s";
  return fmt::format("{}ns", nanos);
}

std::string to_string(const VornError& error) { return text_of(error, false); }
std::string to_string(const InvalidArgumentError& error) { return text_of(error, false); }
std::string to_string(const InvalidIndicatorDefinitionError& error) { return text_of(error, false); }
std::string to_string(const OrderBookUpdateError& error) { return text_of(error, false); }

std::string debug_string(const VornError& error) { return text_of(error, true); }
std::string debug_string(const InvalidArgumentError& error) { return text_of(error, true); }
std::string debug_string(const InvalidIndicatorDefinitionError& error) { return text_of(error, true); }
std::string debug_string(const OrderBookUpdateError& error) { return text_of(error, true); }

}  // namespace vorn
