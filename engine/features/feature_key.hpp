// FeatureKey: the closed set of 32 feature kinds, each with exactly the
// parameters that define one output value; the input sources they read
// (FeatureSource), the return kinds, and hashing consistent with key
// equality (decimals compare and hash by value: 100.5 equals 100.50).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "engine/decimal.hpp"
#include "engine/errors.hpp"
#include "engine/symbols.hpp"
#include "engine/types.hpp"

namespace vorn {

enum class FeatureSourceKind : std::uint8_t { Field = 0, Event = 1, AnyEvent = 2 };

// Where a feature takes its input: one value field, every event of one kind,
// or any event. `index` carries the ValueField or EventKind code (0 for any
// event).
struct FeatureSource {
  FeatureSourceKind kind = FeatureSourceKind::AnyEvent;
  std::uint8_t index = 0;

  static constexpr FeatureSource field(ValueField field) {
    return {FeatureSourceKind::Field, static_cast<std::uint8_t>(field)};
  }
  static constexpr FeatureSource event(EventKind kind) {
    return {FeatureSourceKind::Event, static_cast<std::uint8_t>(kind)};
  }
  static constexpr FeatureSource any_event() { return {FeatureSourceKind::AnyEvent, 0}; }

  // The field of a field source; none for the other kinds.
  constexpr std::optional<ValueField> value_field() const {
    if (kind != FeatureSourceKind::Field) return std::nullopt;
    return static_cast<ValueField>(index);
  }
  // The event kind of an event source; none for the other kinds.
  constexpr std::optional<EventKind> event_kind() const {
    if (kind != FeatureSourceKind::Event) return std::nullopt;
    return static_cast<EventKind>(index);
  }
  constexpr bool is_trade_events() const { return event_kind() == EventKind::Trade; }

  friend constexpr bool operator==(FeatureSource, FeatureSource) = default;
};

// "field.trade_price", "event.order_book_delta", "any_event".
std::string source_text(FeatureSource source);

enum class ReturnKind : std::uint8_t { Simple = 0, Log = 1 };

// The key tags, in the order in which keys are switched on.
enum class FeatureKeyTag : std::uint8_t {
  Context, OrderBookLevelSize, OrderBookNthPrice, OrderBookNthSize, OrderBookDepthUntilPrice,
  OrderBookDepthUntilSizePriceFrom, OrderBookDepthUntilSizePriceTo,
  OrderBookDepthUntilSizeTotalSize, OrderBookVolumeBetweenPrices, OrderBookBestBidPrice,
  OrderBookBestBidSize, OrderBookBestAskPrice, OrderBookBestAskSize, OrderBookMidPrice,
  OrderBookSpread, OrderBookSpreadBps, OrderBookWeightedMidPrice, OrderBookMicroprice,
  OrderBookImbalance, Field, Cvd, Return, Volatility, SmaTimed, VolatilityTimed, ObvTimed, Vpt,
  TradeCountTimed, TradeVolumeTimed, VwapTimed, DayOfWeek, TimeSinceFirstEventOfDay,
};
inline constexpr int kFeatureKeyTagCount = 32;

// Book kinds are tags 1 to 18.
constexpr bool is_order_book_tag(FeatureKeyTag tag) {
  return tag >= FeatureKeyTag::OrderBookLevelSize && tag <= FeatureKeyTag::OrderBookImbalance;
}

// The variants. Kinds with the same parameters share one template; the tag
// keeps them distinct types.
namespace feature_key {

struct Context {
  static constexpr FeatureKeyTag kTag = FeatureKeyTag::Context;
  Symbol symbol;
  std::string name;
  friend bool operator==(const Context&, const Context&) = default;
};

// Level size and depth until price.
template <FeatureKeyTag Tag>
struct BookPrice {
  static constexpr FeatureKeyTag kTag = Tag;
  Symbol symbol;
  Side side = Side::Bid;
  Decimal price;
  friend bool operator==(const BookPrice&, const BookPrice&) = default;
};

// Nth price and nth size.
template <FeatureKeyTag Tag>
struct BookLevel {
  static constexpr FeatureKeyTag kTag = Tag;
  Symbol symbol;
  Side side = Side::Bid;
  std::uint64_t n_levels = 0;
  friend bool operator==(const BookLevel&, const BookLevel&) = default;
};

// The three depth-until-size kinds.
template <FeatureKeyTag Tag>
struct BookSize {
  static constexpr FeatureKeyTag kTag = Tag;
  Symbol symbol;
  Side side = Side::Bid;
  Decimal size;
  friend bool operator==(const BookSize&, const BookSize&) = default;
};

struct OrderBookVolumeBetweenPrices {
  static constexpr FeatureKeyTag kTag = FeatureKeyTag::OrderBookVolumeBetweenPrices;
  Symbol symbol;
  Side side = Side::Bid;
  Decimal from_price;
  Decimal to_price;
  friend bool operator==(const OrderBookVolumeBetweenPrices&, const OrderBookVolumeBetweenPrices&) = default;
};

// Best prices and sizes, mid, spread, spread bps, weighted mid, microprice.
template <FeatureKeyTag Tag>
struct BookTop {
  static constexpr FeatureKeyTag kTag = Tag;
  Symbol symbol;
  friend bool operator==(const BookTop&, const BookTop&) = default;
};

struct OrderBookImbalance {
  static constexpr FeatureKeyTag kTag = FeatureKeyTag::OrderBookImbalance;
  Symbol symbol;
  std::uint64_t n_levels = 0;
  friend bool operator==(const OrderBookImbalance&, const OrderBookImbalance&) = default;
};

struct Field {
  static constexpr FeatureKeyTag kTag = FeatureKeyTag::Field;
  Symbol symbol;
  ValueField field = ValueField::Price;
  friend bool operator==(const Field&, const Field&) = default;
};

// Cvd and volatility: a window counted in trades or samples.
template <FeatureKeyTag Tag>
struct Counted {
  static constexpr FeatureKeyTag kTag = Tag;
  Symbol symbol;
  FeatureSource source;
  std::uint64_t window = 0;
  WarmupPolicy warmup = WarmupPolicy::FirstValue;
  friend bool operator==(const Counted&, const Counted&) = default;
};

struct Return {
  static constexpr FeatureKeyTag kTag = FeatureKeyTag::Return;
  Symbol symbol;
  FeatureSource source;
  std::uint64_t lag = 0;
  ReturnKind kind = ReturnKind::Simple;
  friend bool operator==(const Return&, const Return&) = default;
};

// The six time-bucketed kinds.
template <FeatureKeyTag Tag>
struct Timed {
  static constexpr FeatureKeyTag kTag = Tag;
  Symbol symbol;
  FeatureSource source;
  Duration aggregation;
  Duration window;
  WarmupPolicy warmup = WarmupPolicy::FirstValue;
  friend bool operator==(const Timed&, const Timed&) = default;
};

// Vpt and day of week.
template <FeatureKeyTag Tag>
struct Sourced {
  static constexpr FeatureKeyTag kTag = Tag;
  Symbol symbol;
  FeatureSource source;
  friend bool operator==(const Sourced&, const Sourced&) = default;
};

struct TimeSinceFirstEventOfDay {
  static constexpr FeatureKeyTag kTag = FeatureKeyTag::TimeSinceFirstEventOfDay;
  Symbol symbol;
  FeatureSource source;
  std::int64_t utc_offset_ms = 0;
  friend bool operator==(const TimeSinceFirstEventOfDay&, const TimeSinceFirstEventOfDay&) = default;
};

using OrderBookLevelSize = BookPrice<FeatureKeyTag::OrderBookLevelSize>;
using OrderBookNthPrice = BookLevel<FeatureKeyTag::OrderBookNthPrice>;
using OrderBookNthSize = BookLevel<FeatureKeyTag::OrderBookNthSize>;
using OrderBookDepthUntilPrice = BookPrice<FeatureKeyTag::OrderBookDepthUntilPrice>;
using OrderBookDepthUntilSizePriceFrom = BookSize<FeatureKeyTag::OrderBookDepthUntilSizePriceFrom>;
using OrderBookDepthUntilSizePriceTo = BookSize<FeatureKeyTag::OrderBookDepthUntilSizePriceTo>;
using OrderBookDepthUntilSizeTotalSize = BookSize<FeatureKeyTag::OrderBookDepthUntilSizeTotalSize>;
using OrderBookBestBidPrice = BookTop<FeatureKeyTag::OrderBookBestBidPrice>;
using OrderBookBestBidSize = BookTop<FeatureKeyTag::OrderBookBestBidSize>;
using OrderBookBestAskPrice = BookTop<FeatureKeyTag::OrderBookBestAskPrice>;
using OrderBookBestAskSize = BookTop<FeatureKeyTag::OrderBookBestAskSize>;
using OrderBookMidPrice = BookTop<FeatureKeyTag::OrderBookMidPrice>;
using OrderBookSpread = BookTop<FeatureKeyTag::OrderBookSpread>;
using OrderBookSpreadBps = BookTop<FeatureKeyTag::OrderBookSpreadBps>;
using OrderBookWeightedMidPrice = BookTop<FeatureKeyTag::OrderBookWeightedMidPrice>;
using OrderBookMicroprice = BookTop<FeatureKeyTag::OrderBookMicroprice>;
using Cvd = Counted<FeatureKeyTag::Cvd>;
using Volatility = Counted<FeatureKeyTag::Volatility>;
using SmaTimed = Timed<FeatureKeyTag::SmaTimed>;
using VolatilityTimed = Timed<FeatureKeyTag::VolatilityTimed>;
using ObvTimed = Timed<FeatureKeyTag::ObvTimed>;
using Vpt = Sourced<FeatureKeyTag::Vpt>;
using TradeCountTimed = Timed<FeatureKeyTag::TradeCountTimed>;
using TradeVolumeTimed = Timed<FeatureKeyTag::TradeVolumeTimed>;
using VwapTimed = Timed<FeatureKeyTag::VwapTimed>;
using DayOfWeek = Sourced<FeatureKeyTag::DayOfWeek>;

}  // namespace feature_key

struct FeatureKey {
  // Alternatives in tag order.
  using Variant = std::variant<
      feature_key::Context, feature_key::OrderBookLevelSize, feature_key::OrderBookNthPrice,
      feature_key::OrderBookNthSize, feature_key::OrderBookDepthUntilPrice,
      feature_key::OrderBookDepthUntilSizePriceFrom, feature_key::OrderBookDepthUntilSizePriceTo,
      feature_key::OrderBookDepthUntilSizeTotalSize, feature_key::OrderBookVolumeBetweenPrices,
      feature_key::OrderBookBestBidPrice, feature_key::OrderBookBestBidSize,
      feature_key::OrderBookBestAskPrice, feature_key::OrderBookBestAskSize,
      feature_key::OrderBookMidPrice, feature_key::OrderBookSpread, feature_key::OrderBookSpreadBps,
      feature_key::OrderBookWeightedMidPrice, feature_key::OrderBookMicroprice,
      feature_key::OrderBookImbalance, feature_key::Field, feature_key::Cvd, feature_key::Return,
      feature_key::Volatility, feature_key::SmaTimed, feature_key::VolatilityTimed,
      feature_key::ObvTimed, feature_key::Vpt, feature_key::TradeCountTimed,
      feature_key::TradeVolumeTimed, feature_key::VwapTimed, feature_key::DayOfWeek,
      feature_key::TimeSinceFirstEventOfDay>;
  Variant value;

  template <class T>
    requires(std::is_constructible_v<Variant, T &&> &&
             !std::is_same_v<std::remove_cvref_t<T>, FeatureKey>)
  FeatureKey(T&& alternative) : value(std::forward<T>(alternative)) {}

  FeatureKeyTag tag() const { return static_cast<FeatureKeyTag>(value.index()); }
  Symbol symbol() const {
    return std::visit([](const auto& key) { return key.symbol; }, value);
  }
  // The kind that errors about this key name: the tag's kind, a return by
  // its return kind.
  IndicatorKind indicator_kind() const;

  friend bool operator==(const FeatureKey&, const FeatureKey&) = default;
};

static_assert(std::variant_size_v<FeatureKey::Variant> == kFeatureKeyTagCount);
static_assert([]<std::size_t... I>(std::index_sequence<I...>) {
  return ((std::variant_alternative_t<I, FeatureKey::Variant>::kTag == static_cast<FeatureKeyTag>(I)) && ...);
}(std::make_index_sequence<kFeatureKeyTagCount>{}), "alternatives must follow the tag order");

// Hashing for keys and the values grouped by them: fields are added in
// order; a decimal is added in its normalised form, so values that compare
// equal hash equal.
class KeyHasher {
public:
  KeyHasher& add(std::uint64_t value);
  KeyHasher& add(const Decimal& value);
  KeyHasher& add(std::string_view text);
  KeyHasher& add(Symbol symbol) { return add(std::uint64_t{symbol.id}); }
  KeyHasher& add(FeatureSource source) {
    return add((std::uint64_t{static_cast<std::uint8_t>(source.kind)} << 8) | source.index);
  }
  KeyHasher& add(Duration duration) { return add(duration.seconds).add(std::uint64_t{duration.nanos}); }
  // Enumerations by their code.
  template <class E>
    requires std::is_enum_v<E>
  KeyHasher& add(E value) {
    return add(static_cast<std::uint64_t>(static_cast<std::underlying_type_t<E>>(value)));
  }
  std::size_t value() const { return static_cast<std::size_t>(state_); }

private:
  std::uint64_t state_ = 0xcbf29ce484222325u;
};

std::size_t hash_value(const FeatureKey& key);

}  // namespace vorn

template <>
struct std::hash<vorn::FeatureKey> {
  std::size_t operator()(const vorn::FeatureKey& key) const { return vorn::hash_value(key); }
};
