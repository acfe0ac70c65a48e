#include "engine/errors.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <vector>

namespace vorn {
namespace {

Decimal dec(std::string_view text) { return Decimal::parse(text).value(); }

// One row: an error, its display text and its debug form.
template <class E>
struct Row {
  E error;
  std::string text;
  std::string debug;
};

// Checks every row and that the rows cover every variant of the union.
template <class E>
void expect_rows(const std::vector<Row<E>>& rows) {
  std::set<std::size_t> covered;
  for (const auto& row : rows) {
    covered.insert(row.error.value.index());
    EXPECT_EQ(to_string(row.error), row.text);
    EXPECT_EQ(debug_string(row.error), row.debug);
    EXPECT_EQ(fmt::format("{}", row.error), row.text);
  }
  EXPECT_EQ(covered.size(), std::variant_size_v<typename E::Variant>);
}

TEST(OrderBookUpdateError, TextsAndDebugForms) {
  using namespace book_error;
  expect_rows<OrderBookUpdateError>({
      {SequenceGap{103, 104}, "expected update ID 103, received 104", "SequenceGap { expected: 103, received: 104 }"},
      {SnapshotHistoryGap{3, 4, 5}, "snapshot 3 requires update ID 4, received 5",
       "SnapshotHistoryGap { snapshot_update_id: 3, expected: 4, received: 5 }"},
      {BufferCapacityExceeded{0}, "order-book update buffer capacity 0 was exceeded",
       "BufferCapacityExceeded { capacity: 0 }"},
      {StaleSnapshot{100, 99}, "snapshot 99 is not newer than current snapshot 100",
       "StaleSnapshot { current_snapshot_update_id: 100, received_snapshot_update_id: 99 }"},
      {InvalidDenseConfiguration{dec("0.010"), dec("1"), dec("0.5")},
       "invalid dense order-book grid: tick 0.010, range [1, 0.5]",
       "InvalidDenseConfiguration { tick_size: 0.010, min_price: 1, max_price: 0.5 }"},
      {DenseCapacityExceeded{}, "dense order-book price range cannot be allocated", "DenseCapacityExceeded"},
      {InvalidUpdate{Side::Ask, dec("10"), dec("-1")}, "invalid Ask level update with price 10 and size -1",
       "InvalidUpdate { side: Ask, price: 10, size: -1 }"},
      {InvalidUpdate{Side::Bid, dec("-0.50"), dec("2.000")},
       "invalid Bid level update with price -0.50 and size 2.000",
       "InvalidUpdate { side: Bid, price: -0.50, size: 2.000 }"},
      {SequenceGap{0, std::numeric_limits<std::uint64_t>::max()},
       "expected update ID 0, received 18446744073709551615",
       "SequenceGap { expected: 0, received: 18446744073709551615 }"},
      {BufferAllocationFailed{1024}, "order-book update buffer capacity 1024 cannot be allocated",
       "BufferAllocationFailed { capacity: 1024 }"},
  });
}

TEST(InvalidArgumentError, TextsAndDebugForms) {
  using namespace argument_error;
  expect_rows<InvalidArgumentError>({
      {GlobalOrderBookSymbol{}, "order books require a non-global symbol", "GlobalOrderBookSymbol"},
      {NonFiniteEventValue{ValueField::Price}, "event price must be finite", "NonFiniteEventValue { field: Price }"},
      {NonFiniteEventValue{ValueField::Volume}, "event volume must be finite",
       "NonFiniteEventValue { field: Volume }"},
      {NonFiniteEventValue{ValueField::TradePrice}, "event trade price must be finite",
       "NonFiniteEventValue { field: TradePrice }"},
      {NonFiniteEventValue{ValueField::TradeVolume}, "event trade volume must be finite",
       "NonFiniteEventValue { field: TradeVolume }"},
      {FeatureVectorIndexOutOfBounds{7, 3}, "index 7 is out of bounds for feature vector of length 3",
       "FeatureVectorIndexOutOfBounds { index: 7, length: 3 }"},
      {SourceValuesTooShort{5, 2}, "requested size 5 exceeds the 2 provided values",
       "SourceValuesTooShort { requested: 5, available: 2 }"},
      {FeatureVectorRangeOverflow{18446744073709551615u, 2},
       "range starting at 18446744073709551615 with size 2 overflows usize",
       "FeatureVectorRangeOverflow { start: 18446744073709551615, length: 2 }"},
      {FeatureVectorRangeOutOfBounds{2, 9, 8}, "range 2..9 is out of bounds for feature vector capacity 8",
       "FeatureVectorRangeOutOfBounds { start: 2, end: 9, capacity: 8 }"},
      {LimitExceeded{LimitTarget::Symbols, 513, 512}, "symbol count 513 exceeds limit 512",
       "LimitExceeded { target: Symbols, count: 513, limit: 512 }"},
      {LimitExceeded{LimitTarget::OrderBooks, 65537, 65536}, "order-book count 65537 exceeds limit 65536",
       "LimitExceeded { target: OrderBooks, count: 65537, limit: 65536 }"},
      {FeatureVectorCapacityTooSmall{2, 3}, "feature vector capacity 2 is smaller than active length 3",
       "FeatureVectorCapacityTooSmall { capacity: 2, active_length: 3 }"},
      {ReservedFeatureId{4}, "feature definition at index 4 uses the reserved namespace for feature IDs",
       "ReservedFeatureId { definition_index: 4 }"},
      {RingBufferCapacityZero{}, "ring buffer capacity must be greater than 0", "RingBufferCapacityZero"},
      {WindowLimitReached{16}, "maximum number of windows (16) reached", "WindowLimitReached { limit: 16 }"},
      {WindowAddedAfterData{}, "cannot add a window after data has been added", "WindowAddedAfterData"},
      {WindowPeriodZero{}, "window period must be greater than 0", "WindowPeriodZero"},
      {WindowPeriodExceedsCapacity{11, 10}, "window period 11 cannot exceed ring buffer capacity 10",
       "WindowPeriodExceedsCapacity { period: 11, capacity: 10 }"},
      {WindowPeriodMustBeLessThanCapacity{10, 10}, "window period 10 must be less than ring buffer capacity 10",
       "WindowPeriodMustBeLessThanCapacity { period: 10, capacity: 10 }"},
      {AggregationTooShort{}, "aggregation duration must be at least 1 millisecond", "AggregationTooShort"},
      {DurationPrecision{ArgumentDurationField::Aggregation},
       "aggregation duration must use whole-millisecond precision", "DurationPrecision { field: Aggregation }"},
      {DurationPrecision{ArgumentDurationField::TimedWindow},
       "timed window durations must use whole-millisecond precision",
       "DurationPrecision { field: TimedWindow }"},
      {DurationOutOfRange{ArgumentDurationField::Window}, "window duration must fit signed 64-bit milliseconds",
       "DurationOutOfRange { field: Window }"},
      {WindowShorterThanAggregation{}, "window cannot be shorter than aggregation", "WindowShorterThanAggregation"},
      {WindowNotMultipleOfAggregation{}, "window must be a multiple of aggregation",
       "WindowNotMultipleOfAggregation"},
      {WindowPeriodOutOfRange{WindowPeriodTarget::Signed64}, "window period must fit signed 64-bit",
       "WindowPeriodOutOfRange { target: Signed64 }"},
      {WindowPeriodOutOfRange{WindowPeriodTarget::Usize}, "window period must fit usize",
       "WindowPeriodOutOfRange { target: Usize }"},
      {WindowDurationOutOfRange{}, "window duration must fit signed 64-bit milliseconds", "WindowDurationOutOfRange"},
      {TimedPeriodTooLarge{IndicatorKind::TradeCountTimed}, "timed trade count timed period is too large",
       "TimedPeriodTooLarge { indicator: TradeCountTimed }"},
  });
}

TEST(InvalidIndicatorDefinitionError, TextsAndDebugForms) {
  using namespace definition_error;
  const Duration one_ms_one_ns{0, 1'000'001};
  expect_rows<InvalidIndicatorDefinitionError>({
      {EmptyContextName{}, "context name must not be empty", "EmptyContextName"},
      {OrderBookPriceNegative{}, "order-book query prices must be nonnegative", "OrderBookPriceNegative"},
      {OrderBookSizeNotPositive{}, "order-book target size must be positive", "OrderBookSizeNotPositive"},
      {OrderBookPriceRangeInvalid{}, "order-book query requires from_price < to_price", "OrderBookPriceRangeInvalid"},
      {OrderBookDepthZero{}, "order-book depth must be positive", "OrderBookDepthZero"},
      {CompatibleGroupOutputLimitExceeded{16}, "compatible feature group exceeds 16 outputs",
       "CompatibleGroupOutputLimitExceeded { limit: 16 }"},
      {DuplicateScalarDerivation{}, "duplicates a scalar runtime derivation", "DuplicateScalarDerivation"},
      {DuplicateFeatureKey{}, "duplicates an earlier feature key", "DuplicateFeatureKey"},
      {DuplicateFeatureId{}, "duplicates an earlier feature ID", "DuplicateFeatureId"},
      {ScalarEventFieldSourceRequired{}, "requires a scalar event-field source", "ScalarEventFieldSourceRequired"},
      {TradeEventSourceRequired{}, "requires Event(Trade) as its source", "TradeEventSourceRequired"},
      {WindowTooShort{}, "window must be at least 1", "WindowTooShort"},
      {WindowTooLarge{}, "window is too large", "WindowTooLarge"},
      {AggregationTooShort{}, "aggregation must be at least 1 millisecond", "AggregationTooShort"},
      {WindowShorterThanAggregation{60000, 1000}, "window must be at least aggregation 60000ms, got 1000ms",
       "WindowShorterThanAggregation { aggregation_millis: 60000, window_millis: 1000 }"},
      {WindowNotMultipleOfAggregation{60000, 90000},
       "window must be an exact multiple of aggregation 60000ms, got 90000ms",
       "WindowNotMultipleOfAggregation { aggregation_millis: 60000, window_millis: 90000 }"},
      {BucketPeriodOutOfRange{}, "derived bucket period does not fit usize", "BucketPeriodOutOfRange"},
      {DurationPrecision{DefinitionDurationField::Aggregation, one_ms_one_ns},
       "aggregation must use whole-millisecond precision, got 1.000001ms",
       "DurationPrecision { field: Aggregation, duration: 1.000001ms }"},
      {DurationOutOfRange{DefinitionDurationField::Window, Duration{std::numeric_limits<std::uint64_t>::max(), 0}},
       "window must fit signed 64-bit milliseconds, got 18446744073709551615s",
       "DurationOutOfRange { field: Window, duration: 18446744073709551615s }"},
      {UtcOffsetOutOfRange{-50460000}, "UTC offset must be within -14h..=+14h, got -50460000ms",
       "UtcOffsetOutOfRange { offset_millis: -50460000 }"},
      {UtcOffsetPrecision{90001}, "UTC offset must use whole-minute precision, got 90001ms",
       "UtcOffsetPrecision { offset_millis: 90001 }"},
      {InvalidArgument{argument_error::WindowPeriodZero{}}, "invalid argument: window period must be greater than 0",
       "InvalidArgument(WindowPeriodZero)"},
      {ConstructionFailed{}, "indicator construction failed", "ConstructionFailed"},
  });
}

TEST(VornError, TextsAndDebugForms) {
  using namespace vorn_error;
  const Symbol eth = symbols::intern("ETHUSDT").value();
  const InvalidArgumentError limit = argument_error::LimitExceeded{LimitTarget::Symbols, 513, 512};
  expect_rows<VornError>({
      {InvalidContextUpdate{2, "value must be finite"}, "context update 2: value must be finite",
       "InvalidContextUpdate { index: 2, reason: \"value must be finite\" }"},
      {limit, "invalid argument: symbol count 513 exceeds limit 512",
       "InvalidArgument(LimitExceeded { target: Symbols, count: 513, limit: 512 })"},
      {InvalidPriceRange{dec("1.50"), dec("1.5")},
       "invalid price range: from price 1.50 must be less than to price 1.5",
       "InvalidPriceRange { from_price: 1.50, to_price: 1.5 }"},
      {InvalidIndicatorDefinition{3, IndicatorKind::SmaTimed,
                                  definition_error::WindowNotMultipleOfAggregation{60000, 90000}},
       "invalid indicator definition at index 3: timed SMA: window must be an exact multiple of aggregation "
       "60000ms, got 90000ms",
       "InvalidIndicatorDefinition { index: 3, indicator: SmaTimed, reason: WindowNotMultipleOfAggregation { "
       "aggregation_millis: 60000, window_millis: 90000 } }"},
      {InvalidIndicatorDefinition{0, IndicatorKind::Cvd, definition_error::InvalidArgument{limit}},
       "invalid indicator definition at index 0: CVD: invalid argument: symbol count 513 exceeds limit 512",
       "InvalidIndicatorDefinition { index: 0, indicator: Cvd, reason: InvalidArgument(LimitExceeded { "
       "target: Symbols, count: 513, limit: 512 }) }"},
      {InvalidTransformationDefinition{1, InvalidTransformationDefinitionError::LagWindowTooLarge},
       "invalid transformation definition at index 1: lag window exceeds the maximum of 10000 values",
       "InvalidTransformationDefinition { index: 1, reason: LagWindowTooLarge }"},
      {InvalidPipelineStage{4, "column \"a\" is missing"}, "invalid pipeline stage 4: column \"a\" is missing",
       "InvalidPipelineStage { index: 4, reason: \"column \\\"a\\\" is missing\" }"},
      {OutputCountMismatch{5, 6}, "output storage has 6 cells, but compilation requires exactly 5",
       "OutputCountMismatch { expected: 5, actual: 6 }"},
      {FeatureVectorCapacityMismatch{8, 4},
       "output storage has capacity 4, but the feature-vector spec requires capacity 8",
       "FeatureVectorCapacityMismatch { expected: 8, actual: 4 }"},
      {ModelVectorLengthMismatch{3, 2},
       "model-input storage has 2 active cells, but the model-input spec requires exactly 3",
       "ModelVectorLengthMismatch { expected: 3, actual: 2 }"},
      {ModelVectorCapacityMismatch{10, 12},
       "model-input storage has capacity 12, but the model-input spec requires capacity 10",
       "ModelVectorCapacityMismatch { expected: 10, actual: 12 }"},
      {TimestampOutOfOrder{eth, EventKind::OrderBookSnapshot, 999, 1000},
       "timestamp 999 for order book snapshot event for symbol ethusdt is earlier than previous timestamp 1000",
       "TimestampOutOfOrder { symbol: Symbol(\"ethusdt\"), event_kind: OrderBookSnapshot, timestamp: 999, "
       "previous_timestamp: 1000 }"},
      {TimestampOutOfOrder{Symbol::global(), EventKind::Time, -5, 0},
       "timestamp -5 for time event for symbol GLOBAL is earlier than previous timestamp 0",
       "TimestampOutOfOrder { symbol: Symbol(\"__global__\"), event_kind: Time, timestamp: -5, "
       "previous_timestamp: 0 }"},
      {vorn_error::OrderBookUpdateError{book_error::SequenceGap{103, 104}},
       "order-book update failed: expected update ID 103, received 104",
       "OrderBookUpdateError(SequenceGap { expected: 103, received: 104 })"},
      {::vorn::OrderBookUpdateError(book_error::DenseCapacityExceeded{}),
       "order-book update failed: dense order-book price range cannot be allocated",
       "OrderBookUpdateError(DenseCapacityExceeded)"},
      {OrderBookNotConfigured{eth}, "no order book is configured for symbol ethusdt",
       "OrderBookNotConfigured { symbol: Symbol(\"ethusdt\") }"},
      {DuplicateOrderBook{eth}, "more than one order book is configured for symbol ethusdt",
       "DuplicateOrderBook { symbol: Symbol(\"ethusdt\") }"},
      {StorageUnavailable{StorageTarget::FeatureVector, 17592186044416},
       "cannot allocate the feature vector: 17592186044416 cells",
       "StorageUnavailable { target: FeatureVector, cells: 17592186044416 }"},
      {StorageUnavailable{StorageTarget::ModelVector, 3}, "cannot allocate the model vector: 3 cells",
       "StorageUnavailable { target: ModelVector, cells: 3 }"},
      {StorageUnavailable{StorageTarget::StageBuffer, 0}, "cannot allocate a stage buffer: 0 cells",
       "StorageUnavailable { target: StageBuffer, cells: 0 }"},
  });
}

TEST(InvalidTransformationDefinitionError, TextsAndDebugNames) {
  using enum InvalidTransformationDefinitionError;
  const std::vector<std::tuple<InvalidTransformationDefinitionError, std::string_view, std::string_view>> rows{
      {WindowZero, "average window must be positive", "WindowZero"},
      {TooManyAverageOutputs, "too many compatible average outputs (maximum 16)", "TooManyAverageOutputs"},
      {InputFeatureNotFound, "input feature ID does not exist in the preceding layout", "InputFeatureNotFound"},
      {DuplicateOutputFeature, "output feature ID duplicates an earlier output", "DuplicateOutputFeature"},
      {ReservedOutputFeature, "output feature ID uses the reserved namespace", "ReservedOutputFeature"},
      {MeanNotFinite, "standard-scaler mean must be finite", "MeanNotFinite"},
      {ScaleNotFinite, "standard-scaler scale must be finite", "ScaleNotFinite"},
      {ScaleNotPositive, "standard-scaler scale must be positive", "ScaleNotPositive"},
      {InverseScaleNotFinite, "standard-scaler inverse scale must be finite", "InverseScaleNotFinite"},
      {LagWindowZero, "lag window must be positive", "LagWindowZero"},
      {LagWindowTooLarge, "lag window exceeds the maximum of 10000 values", "LagWindowTooLarge"},
      {StorageUnavailable, "transformation storage cannot be allocated", "StorageUnavailable"},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& [value, text, name] = rows[i];
    EXPECT_EQ(static_cast<std::size_t>(value), i);
    EXPECT_EQ(display(value), text);
    EXPECT_EQ(debug_name(value), name);
  }
}

TEST(IndicatorKind, WordsAndDebugNamesInOrder) {
  const std::vector<std::pair<std::string_view, std::string_view>> rows{
      {"Context", "context"}, {"Field", "field"},
      {"OrderBookBestBidPrice", "order-book best bid price"}, {"OrderBookBestBidSize", "order-book best bid size"},
      {"OrderBookBestAskPrice", "order-book best ask price"}, {"OrderBookBestAskSize", "order-book best ask size"},
      {"OrderBookLevelSize", "order book level size"}, {"OrderBookNthPrice", "order book nth price"},
      {"OrderBookNthSize", "order book nth size"}, {"OrderBookDepthUntilPrice", "order book depth until price"},
      {"OrderBookDepthUntilSizePriceFrom", "order book depth until size price from"},
      {"OrderBookDepthUntilSizePriceTo", "order book depth until size price to"},
      {"OrderBookDepthUntilSizeTotalSize", "order book depth until size total size"},
      {"OrderBookVolumeBetweenPrices", "order book volume between prices"},
      {"OrderBookMidPrice", "order-book mid-price"}, {"OrderBookSpread", "order-book spread"},
      {"OrderBookSpreadBps", "order-book spread in basis points"},
      {"OrderBookWeightedMidPrice", "order-book weighted mid-price"},
      {"OrderBookMicroprice", "order-book microprice"}, {"OrderBookImbalance", "order-book imbalance"},
      {"Sma", "SMA"}, {"Ema", "EMA"}, {"Cvd", "CVD"}, {"SimpleReturn", "simple return"}, {"LogReturn", "log return"},
      {"Volatility", "rolling volatility"}, {"SmaTimed", "timed SMA"}, {"ObvTimed", "timed OBV"},
      {"VolatilityTimed", "timed rolling volatility"}, {"Vpt", "VPT"}, {"TradeCountTimed", "timed trade count"},
      {"TradeVolumeTimed", "timed trade volume"}, {"VwapTimed", "timed VWAP"}, {"DayOfWeek", "day of week"},
      {"TimeSinceFirstEventOfDay", "time since first event of day"},
  };
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kIndicatorKindCount));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto kind = static_cast<IndicatorKind>(i);
    EXPECT_EQ(debug_name(kind), rows[i].first);
    EXPECT_EQ(display(kind), rows[i].second);
  }
}

// The words that fill placeholders: display text, then debug name.
TEST(PlaceholderEnumerations, WordsAndDebugNames) {
  const auto words = [](auto value) { return std::string(display(value)) + "/" + std::string(debug_name(value)); };
  const std::vector<std::pair<std::string, std::string>> rows{
      {words(LimitTarget::Symbols), "symbol/Symbols"},
      {words(LimitTarget::RuntimeFeatures), "runtime feature/RuntimeFeatures"},
      {words(LimitTarget::SymbolRouters), "symbol router/SymbolRouters"},
      {words(LimitTarget::Subscribers), "subscriber/Subscribers"},
      {words(LimitTarget::SubscriberGroup), "subscriber group/SubscriberGroup"},
      {words(LimitTarget::OrderBooks), "order-book/OrderBooks"},
      {words(DefinitionDurationField::Aggregation), "aggregation/Aggregation"},
      {words(DefinitionDurationField::Window), "window/Window"},
      {words(ArgumentDurationField::Aggregation), "aggregation duration/Aggregation"},
      {words(ArgumentDurationField::Window), "window duration/Window"},
      {words(ArgumentDurationField::TimedWindow), "timed window durations/TimedWindow"},
      {words(WindowPeriodTarget::Signed64), "signed 64-bit/Signed64"},
      {words(WindowPeriodTarget::Usize), "usize/Usize"},
      {words(StorageTarget::FeatureVector), "the feature vector/FeatureVector"},
      {words(StorageTarget::ModelVector), "the model vector/ModelVector"},
      {words(StorageTarget::StageBuffer), "a stage buffer/StageBuffer"},
  };
  for (const auto& [got, expected] : rows) EXPECT_EQ(got, expected);
}

TEST(DurationForMessage, LargestUnitWithExactFraction) {
  const std::vector<std::pair<Duration, std::string_view>> rows{
      {Duration{0, 0}, "0ns"}, {Duration{0, 999}, "999ns"}, {Duration{0, 1'000}, "1\u00b5s"},
      {Duration{0, 1'500}, "1.5\u00b5s"}, {Duration{0, 999'999}, "999.999\u00b5s"},
      {Duration{0, 1'000'001}, "1.000001ms"}, {Duration{0, 2'000'000}, "2ms"},
      {Duration{0, 999'999'999}, "999.999999ms"}, {Duration{1, 0}, "1s"}, {Duration{1, 500'000'000}, "1.5s"},
      {Duration{1, 1}, "1.000000001s"}, {Duration{90, 0}, "90s"},
      {Duration{std::numeric_limits<std::uint64_t>::max(), 999'999'999}, "18446744073709551615.999999999s"},
  };
  for (const auto& [duration, text] : rows) {
    EXPECT_EQ(format_duration_for_message(duration), text) << duration.seconds << "s " << duration.nanos << "ns";
  }
}

}  // namespace
}  // namespace vorn
