// VornError, the one error value of every fallible core operation, with its
// nested reason enumerations. Each type has a fixed English display text
// (fmt "{}" or to_string) and a debug form naming the variant (debug_string).
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include <fmt/format.h>

#include "engine/decimal.hpp"
#include "engine/symbols.hpp"
#include "engine/types.hpp"

namespace vorn {

// ---- small enumerations that fill placeholders -----------------------------

enum class LimitTarget : std::uint8_t {
  Symbols, RuntimeFeatures, SymbolRouters, Subscribers, SubscriberGroup, OrderBooks,
};
enum class DefinitionDurationField : std::uint8_t { Aggregation, Window };
enum class ArgumentDurationField : std::uint8_t { Aggregation, Window, TimedWindow };
enum class WindowPeriodTarget : std::uint8_t { Signed64, Usize };
// Storage of vectors that is sized from a spec and obtained when it is built.
enum class StorageTarget : std::uint8_t { FeatureVector, ModelVector, StageBuffer };

enum class IndicatorKind : std::uint8_t {
  Context, Field,
  OrderBookBestBidPrice, OrderBookBestBidSize, OrderBookBestAskPrice, OrderBookBestAskSize,
  OrderBookLevelSize, OrderBookNthPrice, OrderBookNthSize, OrderBookDepthUntilPrice,
  OrderBookDepthUntilSizePriceFrom, OrderBookDepthUntilSizePriceTo,
  OrderBookDepthUntilSizeTotalSize, OrderBookVolumeBetweenPrices,
  OrderBookMidPrice, OrderBookSpread, OrderBookSpreadBps, OrderBookWeightedMidPrice,
  OrderBookMicroprice, OrderBookImbalance,
  Sma, Ema, Cvd, SimpleReturn, LogReturn, Volatility, SmaTimed, ObvTimed, VolatilityTimed,
  Vpt, TradeCountTimed, TradeVolumeTimed, VwapTimed, DayOfWeek, TimeSinceFirstEventOfDay,
};
inline constexpr int kIndicatorKindCount = 35;

std::string_view display(LimitTarget value);
std::string_view display(DefinitionDurationField value);
std::string_view display(ArgumentDurationField value);
std::string_view display(WindowPeriodTarget value);
std::string_view display(StorageTarget value);
std::string_view display(IndicatorKind value);
std::string_view debug_name(LimitTarget value);
std::string_view debug_name(DefinitionDurationField value);
std::string_view debug_name(ArgumentDurationField value);
std::string_view debug_name(WindowPeriodTarget value);
std::string_view debug_name(StorageTarget value);
std::string_view debug_name(IndicatorKind value);

// "1.5s", "2ms", "1.500001ms", "10ns": the largest unit not above the value.
std::string format_duration_for_message(Duration duration);

// A tagged union of plain structs, convertible from any of its alternatives.
template <class... Alternatives>
struct ErrorUnion {
  using Variant = std::variant<Alternatives...>;
  Variant value;

  template <class T>
    requires(std::is_constructible_v<Variant, T &&> &&
             !std::is_same_v<std::remove_cvref_t<T>, ErrorUnion>)
  ErrorUnion(T&& alternative) : value(std::forward<T>(alternative)) {}

  template <class T>
  bool holds() const { return std::holds_alternative<T>(value); }
  template <class T>
  const T* get_if() const { return std::get_if<T>(&value); }

  friend bool operator==(const ErrorUnion&, const ErrorUnion&) = default;
};

// ---- order-book update failures ---------------------------------------------

namespace book_error {
struct SequenceGap { std::uint64_t expected; std::uint64_t received; bool operator==(const SequenceGap&) const = default; };
struct SnapshotHistoryGap { std::uint64_t snapshot_update_id; std::uint64_t expected; std::uint64_t received; bool operator==(const SnapshotHistoryGap&) const = default; };
struct BufferCapacityExceeded { std::size_t capacity; bool operator==(const BufferCapacityExceeded&) const = default; };
struct StaleSnapshot { std::uint64_t current_snapshot_update_id; std::uint64_t received_snapshot_update_id; bool operator==(const StaleSnapshot&) const = default; };
struct InvalidDenseConfiguration { Decimal tick_size; Decimal min_price; Decimal max_price; bool operator==(const InvalidDenseConfiguration&) const = default; };
struct DenseCapacityExceeded { bool operator==(const DenseCapacityExceeded&) const = default; };
struct InvalidUpdate { Side side; Decimal price; Decimal size; bool operator==(const InvalidUpdate&) const = default; };
struct BufferAllocationFailed { std::size_t capacity; bool operator==(const BufferAllocationFailed&) const = default; };
}  // namespace book_error

struct OrderBookUpdateError
    : ErrorUnion<book_error::SequenceGap, book_error::SnapshotHistoryGap,
                 book_error::BufferCapacityExceeded, book_error::StaleSnapshot,
                 book_error::InvalidDenseConfiguration, book_error::DenseCapacityExceeded,
                 book_error::InvalidUpdate, book_error::BufferAllocationFailed> {
  using ErrorUnion::ErrorUnion;
};

// ---- argument errors ----------------------------------------------------------

namespace argument_error {
struct GlobalOrderBookSymbol { bool operator==(const GlobalOrderBookSymbol&) const = default; };
struct NonFiniteEventValue { ValueField field; bool operator==(const NonFiniteEventValue&) const = default; };
struct FeatureVectorIndexOutOfBounds { std::size_t index; std::size_t length; bool operator==(const FeatureVectorIndexOutOfBounds&) const = default; };
struct SourceValuesTooShort { std::size_t requested; std::size_t available; bool operator==(const SourceValuesTooShort&) const = default; };
struct FeatureVectorRangeOverflow { std::size_t start; std::size_t length; bool operator==(const FeatureVectorRangeOverflow&) const = default; };
struct FeatureVectorRangeOutOfBounds { std::size_t start; std::size_t end; std::size_t capacity; bool operator==(const FeatureVectorRangeOutOfBounds&) const = default; };
struct LimitExceeded { LimitTarget target; std::size_t count; std::size_t limit; bool operator==(const LimitExceeded&) const = default; };
struct FeatureVectorCapacityTooSmall { std::size_t capacity; std::size_t active_length; bool operator==(const FeatureVectorCapacityTooSmall&) const = default; };
struct ReservedFeatureId { std::size_t definition_index; bool operator==(const ReservedFeatureId&) const = default; };
struct RingBufferCapacityZero { bool operator==(const RingBufferCapacityZero&) const = default; };
struct WindowLimitReached { std::size_t limit; bool operator==(const WindowLimitReached&) const = default; };
struct WindowAddedAfterData { bool operator==(const WindowAddedAfterData&) const = default; };
struct WindowPeriodZero { bool operator==(const WindowPeriodZero&) const = default; };
struct WindowPeriodExceedsCapacity { std::size_t period; std::size_t capacity; bool operator==(const WindowPeriodExceedsCapacity&) const = default; };
struct WindowPeriodMustBeLessThanCapacity { std::size_t period; std::size_t capacity; bool operator==(const WindowPeriodMustBeLessThanCapacity&) const = default; };
struct AggregationTooShort { bool operator==(const AggregationTooShort&) const = default; };
struct DurationPrecision { ArgumentDurationField field; bool operator==(const DurationPrecision&) const = default; };
struct DurationOutOfRange { ArgumentDurationField field; bool operator==(const DurationOutOfRange&) const = default; };
struct WindowShorterThanAggregation { bool operator==(const WindowShorterThanAggregation&) const = default; };
struct WindowNotMultipleOfAggregation { bool operator==(const WindowNotMultipleOfAggregation&) const = default; };
struct WindowPeriodOutOfRange { WindowPeriodTarget target; bool operator==(const WindowPeriodOutOfRange&) const = default; };
struct WindowDurationOutOfRange { bool operator==(const WindowDurationOutOfRange&) const = default; };
struct TimedPeriodTooLarge { IndicatorKind indicator; bool operator==(const TimedPeriodTooLarge&) const = default; };
}  // namespace argument_error

struct InvalidArgumentError
    : ErrorUnion<argument_error::GlobalOrderBookSymbol, argument_error::NonFiniteEventValue,
                 argument_error::FeatureVectorIndexOutOfBounds, argument_error::SourceValuesTooShort,
                 argument_error::FeatureVectorRangeOverflow,
                 argument_error::FeatureVectorRangeOutOfBounds, argument_error::LimitExceeded,
                 argument_error::FeatureVectorCapacityTooSmall, argument_error::ReservedFeatureId,
                 argument_error::RingBufferCapacityZero, argument_error::WindowLimitReached,
                 argument_error::WindowAddedAfterData, argument_error::WindowPeriodZero,
                 argument_error::WindowPeriodExceedsCapacity,
                 argument_error::WindowPeriodMustBeLessThanCapacity,
                 argument_error::AggregationTooShort, argument_error::DurationPrecision,
                 argument_error::DurationOutOfRange, argument_error::WindowShorterThanAggregation,
                 argument_error::WindowNotMultipleOfAggregation,
                 argument_error::WindowPeriodOutOfRange, argument_error::WindowDurationOutOfRange,
                 argument_error::TimedPeriodTooLarge> {
  using ErrorUnion::ErrorUnion;
};

// ---- indicator-definition errors -----------------------------------------------

namespace definition_error {
struct EmptyContextName { bool operator==(const EmptyContextName&) const = default; };
struct OrderBookPriceNegative { bool operator==(const OrderBookPriceNegative&) const = default; };
struct OrderBookSizeNotPositive { bool operator==(const OrderBookSizeNotPositive&) const = default; };
struct OrderBookPriceRangeInvalid { bool operator==(const OrderBookPriceRangeInvalid&) const = default; };
struct OrderBookDepthZero { bool operator==(const OrderBookDepthZero&) const = default; };
struct CompatibleGroupOutputLimitExceeded { std::size_t limit; bool operator==(const CompatibleGroupOutputLimitExceeded&) const = default; };
struct DuplicateScalarDerivation { bool operator==(const DuplicateScalarDerivation&) const = default; };
struct DuplicateFeatureKey { bool operator==(const DuplicateFeatureKey&) const = default; };
struct DuplicateFeatureId { bool operator==(const DuplicateFeatureId&) const = default; };
struct ScalarEventFieldSourceRequired { bool operator==(const ScalarEventFieldSourceRequired&) const = default; };
struct TradeEventSourceRequired { bool operator==(const TradeEventSourceRequired&) const = default; };
struct WindowTooShort { bool operator==(const WindowTooShort&) const = default; };
struct WindowTooLarge { bool operator==(const WindowTooLarge&) const = default; };
struct AggregationTooShort { bool operator==(const AggregationTooShort&) const = default; };
struct WindowShorterThanAggregation { std::int64_t aggregation_millis; std::int64_t window_millis; bool operator==(const WindowShorterThanAggregation&) const = default; };
struct WindowNotMultipleOfAggregation { std::int64_t aggregation_millis; std::int64_t window_millis; bool operator==(const WindowNotMultipleOfAggregation&) const = default; };
struct BucketPeriodOutOfRange { bool operator==(const BucketPeriodOutOfRange&) const = default; };
struct DurationPrecision { DefinitionDurationField field; Duration duration; bool operator==(const DurationPrecision&) const = default; };
struct DurationOutOfRange { DefinitionDurationField field; Duration duration; bool operator==(const DurationOutOfRange&) const = default; };
struct UtcOffsetOutOfRange { std::int64_t offset_millis; bool operator==(const UtcOffsetOutOfRange&) const = default; };
struct UtcOffsetPrecision { std::int64_t offset_millis; bool operator==(const UtcOffsetPrecision&) const = default; };
struct InvalidArgument { InvalidArgumentError error; bool operator==(const InvalidArgument&) const = default; };
struct ConstructionFailed { bool operator==(const ConstructionFailed&) const = default; };
}  // namespace definition_error

struct InvalidIndicatorDefinitionError
    : ErrorUnion<definition_error::EmptyContextName, definition_error::OrderBookPriceNegative,
                 definition_error::OrderBookSizeNotPositive,
                 definition_error::OrderBookPriceRangeInvalid, definition_error::OrderBookDepthZero,
                 definition_error::CompatibleGroupOutputLimitExceeded,
                 definition_error::DuplicateScalarDerivation, definition_error::DuplicateFeatureKey,
                 definition_error::DuplicateFeatureId,
                 definition_error::ScalarEventFieldSourceRequired,
                 definition_error::TradeEventSourceRequired, definition_error::WindowTooShort,
                 definition_error::WindowTooLarge, definition_error::AggregationTooShort,
                 definition_error::WindowShorterThanAggregation,
                 definition_error::WindowNotMultipleOfAggregation,
                 definition_error::BucketPeriodOutOfRange, definition_error::DurationPrecision,
                 definition_error::DurationOutOfRange, definition_error::UtcOffsetOutOfRange,
                 definition_error::UtcOffsetPrecision, definition_error::InvalidArgument,
                 definition_error::ConstructionFailed> {
  using ErrorUnion::ErrorUnion;
};

// ---- transformation-definition errors (no fields) ------------------------------

// StorageUnavailable is not a validation result: compiling a valid definition
// reports it when the ring of an average or a lag cannot be obtained.
enum class InvalidTransformationDefinitionError : std::uint8_t {
  WindowZero, TooManyAverageOutputs, InputFeatureNotFound, DuplicateOutputFeature,
  ReservedOutputFeature, MeanNotFinite, ScaleNotFinite, ScaleNotPositive,
  InverseScaleNotFinite, LagWindowZero, LagWindowTooLarge, StorageUnavailable,
};
std::string_view display(InvalidTransformationDefinitionError value);
std::string_view debug_name(InvalidTransformationDefinitionError value);

// ---- VornError --------------------------------------------------------------------

namespace vorn_error {
struct InvalidContextUpdate { std::size_t index; std::string_view reason; bool operator==(const InvalidContextUpdate&) const = default; };
struct InvalidArgument { InvalidArgumentError error; bool operator==(const InvalidArgument&) const = default; };
struct InvalidPriceRange { Decimal from_price; Decimal to_price; bool operator==(const InvalidPriceRange&) const = default; };
struct InvalidIndicatorDefinition { std::size_t index; IndicatorKind indicator; InvalidIndicatorDefinitionError reason; bool operator==(const InvalidIndicatorDefinition&) const = default; };
struct InvalidTransformationDefinition { std::size_t index; InvalidTransformationDefinitionError reason; bool operator==(const InvalidTransformationDefinition&) const = default; };
struct InvalidPipelineStage { std::size_t index; std::string reason; bool operator==(const InvalidPipelineStage&) const = default; };
struct OutputCountMismatch { std::size_t expected; std::size_t actual; bool operator==(const OutputCountMismatch&) const = default; };
struct FeatureVectorCapacityMismatch { std::size_t expected; std::size_t actual; bool operator==(const FeatureVectorCapacityMismatch&) const = default; };
struct ModelVectorLengthMismatch { std::size_t expected; std::size_t actual; bool operator==(const ModelVectorLengthMismatch&) const = default; };
struct ModelVectorCapacityMismatch { std::size_t expected; std::size_t actual; bool operator==(const ModelVectorCapacityMismatch&) const = default; };
struct TimestampOutOfOrder { Symbol symbol; EventKind event_kind; std::int64_t timestamp; std::int64_t previous_timestamp; bool operator==(const TimestampOutOfOrder&) const = default; };
struct OrderBookUpdateError { ::vorn::OrderBookUpdateError error; bool operator==(const OrderBookUpdateError&) const = default; };
struct OrderBookNotConfigured { Symbol symbol; bool operator==(const OrderBookNotConfigured&) const = default; };
struct DuplicateOrderBook { Symbol symbol; bool operator==(const DuplicateOrderBook&) const = default; };
// Not a validation result: the storage of a valid spec could not be obtained.
struct StorageUnavailable { StorageTarget target; std::size_t cells; bool operator==(const StorageUnavailable&) const = default; };
}  // namespace vorn_error

struct VornError
    : ErrorUnion<vorn_error::InvalidContextUpdate, vorn_error::InvalidArgument,
                 vorn_error::InvalidPriceRange, vorn_error::InvalidIndicatorDefinition,
                 vorn_error::InvalidTransformationDefinition, vorn_error::InvalidPipelineStage,
                 vorn_error::OutputCountMismatch, vorn_error::FeatureVectorCapacityMismatch,
                 vorn_error::ModelVectorLengthMismatch, vorn_error::ModelVectorCapacityMismatch,
                 vorn_error::TimestampOutOfOrder, vorn_error::OrderBookUpdateError,
                 vorn_error::OrderBookNotConfigured, vorn_error::DuplicateOrderBook,
                 vorn_error::StorageUnavailable> {
  using ErrorUnion::ErrorUnion;
  // Wraps an argument error or a book error directly.
  VornError(InvalidArgumentError error) : ErrorUnion(vorn_error::InvalidArgument{std::move(error)}) {}
  VornError(OrderBookUpdateError error) : ErrorUnion(vorn_error::OrderBookUpdateError{std::move(error)}) {}
};

template <class T>
using Result = std::expected<T, VornError>;
using Status = std::expected<void, VornError>;

// Display texts, written in one pass.
std::string to_string(const VornError& error);
std::string to_string(const InvalidArgumentError& error);
std::string to_string(const InvalidIndicatorDefinitionError& error);
std::string to_string(const OrderBookUpdateError& error);

// Debug forms: the variant name, with its fields by name.
std::string debug_string(const VornError& error);
std::string debug_string(const InvalidArgumentError& error);
std::string debug_string(const InvalidIndicatorDefinitionError& error);
std::string debug_string(const OrderBookUpdateError& error);

}  // namespace vorn

template <class T>
  requires(std::is_same_v<T, vorn::VornError> || std::is_same_v<T, vorn::InvalidArgumentError> ||
           std::is_same_v<T, vorn::InvalidIndicatorDefinitionError> ||
           std::is_same_v<T, vorn::OrderBookUpdateError>)
struct fmt::formatter<T> : fmt::formatter<std::string_view> {
  auto format(const T& error, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(vorn::to_string(error), ctx);
  }
};
