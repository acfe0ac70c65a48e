#include "engine/features/compiler.hpp"

#include <array>
#include <expected>
#include <span>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/features/derivation/count_windows.hpp"
#include "engine/indicators/construction.hpp"
#include "engine/panic.hpp"

namespace vorn {
namespace {

constexpr std::size_t kGroupLimit = 65535;
constexpr unsigned __int128 kSigned64Limit = static_cast<unsigned __int128>(1) << 63;

std::unexpected<VornError> definition_failure(std::size_t index, IndicatorKind indicator,
                                              InvalidIndicatorDefinitionError reason) {
  return std::unexpected(VornError{vorn_error::InvalidIndicatorDefinition{index, indicator, std::move(reason)}});
}

// Whole milliseconds of a duration, or the failure naming `field`.
Result<std::int64_t> whole_millis(std::size_t index, IndicatorKind indicator, DefinitionDurationField field,
                                  Duration duration) {
  if (duration.nanos % 1'000'000 != 0) {
    return definition_failure(index, indicator, definition_error::DurationPrecision{field, duration});
  }
  const unsigned __int128 millis = static_cast<unsigned __int128>(duration.seconds) * 1000 + duration.nanos / 1'000'000;
  if (millis >= kSigned64Limit) {
    return definition_failure(index, indicator, definition_error::DurationOutOfRange{field, duration});
  }
  return static_cast<std::int64_t>(millis);
}

EventRoute route_of_field(ValueField field) {
  switch (field) {
    case ValueField::Price: return EventRoute::Price;
    case ValueField::Volume: return EventRoute::Volume;
    case ValueField::TradePrice:
    case ValueField::TradeVolume: return EventRoute::Trade;
  }
  unreachable("value field out of range");
}

EventRoute route_of_source(FeatureSource source, Symbol symbol) {
  if (const auto field = source.value_field()) return route_of_field(*field);
  if (const auto kind = source.event_kind()) return route_of(*kind);
  return symbol.is_global() ? EventRoute::AnyEvent : EventRoute::AnyEventOfSymbol;
}

// A validated group with up to 16 members.
struct Group {
  GroupKey key;
  OutputShape shape;
  std::size_t first;  // input index of the first member
  std::array<std::uint64_t, kMaxWindows> members{};
  std::array<std::size_t, kMaxWindows> definitions{};  // input index of each member
  std::size_t count = 0;

  std::span<const std::uint64_t> parameters() const { return std::span(members).first(count); }
};

template <class T>
Result<FeatureDerivation> derivation(Result<T> built) {
  return into_feature(std::move(built), [](T&& made) { return FeatureDerivation{std::move(made)}; });
}

// The derivation of a non-context group, or its builder's error.
Result<FeatureDerivation> build_derivation(const Group& group) {
  const std::span<const std::uint64_t> members = group.parameters();
  return std::visit(
      [&]<class K>(const K& k) -> Result<FeatureDerivation> {
        constexpr FeatureKeyTag tag = K::kTag;
        if constexpr (tag == FeatureKeyTag::Context) {
          unreachable("context groups have no derivation");
        } else if constexpr (is_order_book_tag(tag)) {
          Side side = Side::Bid;
          Decimal first;
          Decimal second;
          std::uint64_t n_levels = 0;
          std::span<const std::uint64_t> level_counts;
          if constexpr (requires { k.side; }) side = k.side;
          if constexpr (requires { k.price; }) first = k.price;
          if constexpr (requires { k.size; }) first = k.size;
          if constexpr (requires { k.from_price; }) {
            first = k.from_price;
            second = k.to_price;
          }
          if constexpr (tag == FeatureKeyTag::OrderBookImbalance) {
            level_counts = members;
          } else if constexpr (requires { k.n_levels; }) {
            n_levels = k.n_levels;
          }
          return derivation(order_book_query::build(k.symbol, query_kind_of(tag), side, first, second, n_levels,
                                                    level_counts));
        } else if constexpr (tag == FeatureKeyTag::Field) {
          return FeatureDerivation{EventFieldFeature{k.field}};
        } else if constexpr (tag == FeatureKeyTag::Cvd) {
          return derivation(cvd::build(k.symbol, members, k.warmup));
        } else if constexpr (tag == FeatureKeyTag::Return) {
          return derivation(returns::build(k.symbol, *k.source.value_field(), k.kind, members));
        } else if constexpr (tag == FeatureKeyTag::Volatility) {
          return derivation(volatility::build(k.symbol, *k.source.value_field(), members, k.warmup));
        } else if constexpr (tag == FeatureKeyTag::SmaTimed) {
          return derivation(sma::build_timed(k.symbol, *k.source.value_field(), k.aggregation, members,
                                             largest_window(members), k.warmup));
        } else if constexpr (tag == FeatureKeyTag::VolatilityTimed) {
          return derivation(
              volatility::build_timed(k.symbol, *k.source.value_field(), k.aggregation, members, k.warmup));
        } else if constexpr (tag == FeatureKeyTag::ObvTimed) {
          return derivation(obv::build_timed(k.symbol, k.aggregation, members, largest_window(members), k.warmup));
        } else if constexpr (tag == FeatureKeyTag::TradeVolumeTimed) {
          return derivation(
              trade_volume::build_timed(k.symbol, k.aggregation, members, largest_window(members), k.warmup));
        } else if constexpr (tag == FeatureKeyTag::VwapTimed) {
          return derivation(vwap::build_timed(k.symbol, k.aggregation, members, largest_window(members), k.warmup));
        } else if constexpr (tag == FeatureKeyTag::TradeCountTimed) {
          auto counter = TradeCountTimed::new_heap(k.aggregation, k.window, k.warmup);
          if (!counter) return std::unexpected(std::move(counter.error()));
          return FeatureDerivation{TradeCountTimedFeature{std::move(*counter), k.symbol}};
        } else if constexpr (tag == FeatureKeyTag::Vpt) {
          return FeatureDerivation{VptFeature{std::nullopt, 0.0, k.symbol}};
        } else if constexpr (tag == FeatureKeyTag::DayOfWeek) {
          return FeatureDerivation{DayOfWeekFeature{}};
        } else {
          static_assert(tag == FeatureKeyTag::TimeSinceFirstEventOfDay);
          return FeatureDerivation{TimeSinceFirstEventOfDayFeature{k.utc_offset_ms, std::nullopt, 0}};
        }
      },
      group.key.key.value);
}

}  // namespace

EventRoute GroupKey::route() const {
  return std::visit(
      []<class K>(const K& k) -> EventRoute {
        constexpr FeatureKeyTag tag = K::kTag;
        if constexpr (tag == FeatureKeyTag::Context) {
          unreachable("context has no event route");
        } else if constexpr (is_order_book_tag(tag)) {
          return EventRoute::OrderBook;
        } else if constexpr (tag == FeatureKeyTag::Field) {
          return route_of_field(k.field);
        } else if constexpr (tag == FeatureKeyTag::Return || tag == FeatureKeyTag::Volatility) {
          return route_of_field(*k.source.value_field());
        } else if constexpr (tag == FeatureKeyTag::Cvd || tag == FeatureKeyTag::Vpt || tag == FeatureKeyTag::DayOfWeek ||
                             tag == FeatureKeyTag::TimeSinceFirstEventOfDay) {
          return route_of_source(k.source, k.symbol);
        } else {
          return EventRoute::AnyEventOfSymbol;  // timed: buckets age on every event of the symbol
        }
      },
      key.value);
}

namespace compiler {

Result<std::uint64_t> validate_timed_window(std::size_t index, FeatureKeyTag tag, Duration aggregation,
                                            Duration window) {
  IndicatorKind kind = IndicatorKind::SmaTimed;
  switch (tag) {
    case FeatureKeyTag::SmaTimed: kind = IndicatorKind::SmaTimed; break;
    case FeatureKeyTag::VolatilityTimed: kind = IndicatorKind::VolatilityTimed; break;
    case FeatureKeyTag::ObvTimed: kind = IndicatorKind::ObvTimed; break;
    case FeatureKeyTag::TradeCountTimed: kind = IndicatorKind::TradeCountTimed; break;
    case FeatureKeyTag::TradeVolumeTimed: kind = IndicatorKind::TradeVolumeTimed; break;
    case FeatureKeyTag::VwapTimed: kind = IndicatorKind::VwapTimed; break;
    default: unreachable("only timed keys have a timed window");
  }
  const auto aggregation_ms = whole_millis(index, kind, DefinitionDurationField::Aggregation, aggregation);
  if (!aggregation_ms) return std::unexpected(aggregation_ms.error());
  if (*aggregation_ms == 0) return definition_failure(index, kind, definition_error::AggregationTooShort{});
  const auto window_ms = whole_millis(index, kind, DefinitionDurationField::Window, window);
  if (!window_ms) return std::unexpected(window_ms.error());
  if (*window_ms < *aggregation_ms) {
    return definition_failure(index, kind, definition_error::WindowShorterThanAggregation{*aggregation_ms, *window_ms});
  }
  if (*window_ms % *aggregation_ms != 0) {
    return definition_failure(index, kind,
                              definition_error::WindowNotMultipleOfAggregation{*aggregation_ms, *window_ms});
  }
  return static_cast<std::uint64_t>(*window_ms / *aggregation_ms);
}

Result<GroupedKey> group_key(std::size_t index, const FeatureKey& key) {
  const IndicatorKind indicator = key.indicator_kind();
  GroupedKey grouped{GroupKey{key}, OutputShape::Scalar, 0};
  const auto fail = [&](InvalidIndicatorDefinitionError reason) {
    return definition_failure(index, indicator, std::move(reason));
  };
  // Moves the member parameter out of the group key.
  const auto member = [&grouped](OutputShape shape, std::uint64_t& parameter) {
    grouped.shape = shape;
    grouped.member = std::exchange(parameter, 0);
  };
  Status checked = std::visit(
      [&]<class K>(K& k) -> Status {
        constexpr FeatureKeyTag tag = K::kTag;
        using T = FeatureKeyTag;
        if constexpr (tag == T::Context) {
          if (k.name.empty()) return fail(definition_error::EmptyContextName{});
        } else if constexpr (tag == T::OrderBookLevelSize || tag == T::OrderBookDepthUntilPrice) {
          if (k.price.is_negative()) return fail(definition_error::OrderBookPriceNegative{});
        } else if constexpr (tag == T::OrderBookNthPrice || tag == T::OrderBookNthSize) {
          if (k.n_levels == 0) return fail(definition_error::OrderBookDepthZero{});
        } else if constexpr (tag == T::OrderBookImbalance) {
          if (k.n_levels == 0) return fail(definition_error::OrderBookDepthZero{});
          member(OutputShape::NLevels, k.n_levels);
        } else if constexpr (requires { k.size; }) {
          if (!k.size.is_positive()) return fail(definition_error::OrderBookSizeNotPositive{});
        } else if constexpr (tag == T::OrderBookVolumeBetweenPrices) {
          if (k.from_price.is_negative() || k.to_price.is_negative()) {
            return fail(definition_error::OrderBookPriceNegative{});
          }
          if (!(k.from_price < k.to_price)) return fail(definition_error::OrderBookPriceRangeInvalid{});
        } else if constexpr (tag == T::Cvd) {
          if (!k.source.is_trade_events()) return fail(definition_error::TradeEventSourceRequired{});
          if (k.window == 0) return fail(definition_error::WindowTooShort{});
          member(OutputShape::Counts, k.window);
        } else if constexpr (tag == T::Return) {
          if (k.lag == 0) return fail(definition_error::WindowTooShort{});
          if (k.lag == UINT64_MAX) return fail(definition_error::WindowTooLarge{});
          if (!k.source.value_field()) return fail(definition_error::ScalarEventFieldSourceRequired{});
          member(OutputShape::Counts, k.lag);
        } else if constexpr (tag == T::Volatility) {
          if (k.window == 0) return fail(definition_error::WindowTooShort{});
          if (!k.source.value_field()) return fail(definition_error::ScalarEventFieldSourceRequired{});
          member(OutputShape::Counts, k.window);
        } else if constexpr (requires { k.aggregation; }) {
          constexpr bool takes_field = tag == T::SmaTimed || tag == T::VolatilityTimed;
          if (takes_field && !k.source.value_field()) return fail(definition_error::ScalarEventFieldSourceRequired{});
          if (!takes_field && !k.source.is_trade_events()) return fail(definition_error::TradeEventSourceRequired{});
          auto period = validate_timed_window(index, tag, k.aggregation, k.window);
          if (!period) return std::unexpected(std::move(period.error()));
          if constexpr (tag != T::TradeCountTimed) {  // each trade counter is a group of its own
            grouped.shape = OutputShape::Periods;
            grouped.member = *period;
            k.window = Duration{};
          }
        } else if constexpr (tag == T::Vpt) {
          if (!k.source.is_trade_events()) return fail(definition_error::TradeEventSourceRequired{});
        } else if constexpr (tag == T::TimeSinceFirstEventOfDay) {
          constexpr std::int64_t kLimit = 14 * 3'600'000;
          if (k.utc_offset_ms < -kLimit || k.utc_offset_ms > kLimit) {
            return fail(definition_error::UtcOffsetOutOfRange{k.utc_offset_ms});
          }
          if (k.utc_offset_ms % 60'000 != 0) return fail(definition_error::UtcOffsetPrecision{k.utc_offset_ms});
        }
        return {};
      },
      grouped.group.key.value);
  if (!checked) return std::unexpected(std::move(checked.error()));
  return grouped;
}

Status validate_key(const FeatureKey& key) {
  auto grouped = group_key(0, key);
  if (!grouped) return std::unexpected(std::move(grouped.error()));
  return {};
}

Result<Compilation> compile(std::vector<FeatureDefinition> definitions, std::size_t expected_length) {
  if (definitions.size() != expected_length) {
    return std::unexpected(VornError{vorn_error::OutputCountMismatch{definitions.size(), expected_length}});
  }
  struct KeyHash {
    std::size_t operator()(const FeatureKey* key) const { return hash_value(*key); }
  };
  struct KeyEqual {
    bool operator()(const FeatureKey* a, const FeatureKey* b) const { return *a == *b; }
  };
  std::unordered_set<const FeatureKey*, KeyHash, KeyEqual> keys;
  std::unordered_set<std::string_view> ids;
  std::unordered_map<GroupKey, std::size_t> group_index;
  std::vector<Group> groups;
  keys.reserve(definitions.size());
  ids.reserve(definitions.size());
  group_index.reserve(definitions.size());

  for (std::size_t i = 0; i < definitions.size(); ++i) {
    const FeatureDefinition& definition = definitions[i];
    const IndicatorKind indicator = definition.key.indicator_kind();
    if (!keys.insert(&definition.key).second) {
      return definition_failure(i, indicator, definition_error::DuplicateFeatureKey{});
    }
    if (!ids.insert(definition.id.view()).second) {
      return definition_failure(i, indicator, definition_error::DuplicateFeatureId{});
    }
    if (features::is_reserved_feature_id(definition.id.view())) {
      return std::unexpected(VornError{InvalidArgumentError{argument_error::ReservedFeatureId{i}}});
    }
    auto grouped = group_key(i, definition.key);
    if (!grouped) return std::unexpected(std::move(grouped.error()));
    const auto [found, created] = group_index.try_emplace(grouped->group, groups.size());
    if (created) {
      groups.push_back(Group{std::move(grouped->group), grouped->shape, i});
    } else {
      Group& group = groups[found->second];
      if (group.count == kMaxWindows) {
        return definition_failure(i, indicator, definition_error::CompatibleGroupOutputLimitExceeded{kMaxWindows});
      }
      if (group.shape == OutputShape::Scalar) {
        return definition_failure(i, indicator, definition_error::DuplicateScalarDerivation{});
      }
      if (group.shape != grouped->shape) unreachable("group key and output shape must agree");
    }
    Group& group = groups[found->second];
    group.members[group.count] = grouped->member;
    group.definitions[group.count] = i;
    ++group.count;
  }
  if (groups.size() > kGroupLimit) {
    return std::unexpected(VornError{InvalidArgumentError{
        argument_error::LimitExceeded{LimitTarget::RuntimeFeatures, groups.size(), kGroupLimit}}});
  }

  Compilation compilation;
  compilation.ids.reserve(definitions.size());
  compilation.is_context.reserve(definitions.size());
  compilation.derivations.reserve(groups.size());
  compilation.ranges.reserve(groups.size());
  std::vector<std::pair<Symbol, EventRoute>> routes;
  routes.reserve(groups.size());
  ids.clear();  // its views point into the definitions' ids, which move below
  for (const Group& group : groups) {
    const bool is_context = group.key.key.tag() == FeatureKeyTag::Context;
    const std::size_t start = compilation.ids.size();
    for (std::size_t m = 0; m < group.count; ++m) {
      compilation.ids.push_back(std::move(definitions[group.definitions[m]].id));
      compilation.is_context.push_back(is_context ? 1 : 0);
    }
    if (is_context) continue;
    auto built = build_derivation(group);
    if (!built) {
      const auto* argument = built.error().get_if<vorn_error::InvalidArgument>();
      InvalidIndicatorDefinitionError reason = definition_error::ConstructionFailed{};
      if (argument != nullptr) reason = definition_error::InvalidArgument{argument->error};
      return definition_failure(group.first, group.key.key.indicator_kind(), std::move(reason));
    }
    compilation.derivations.push_back(std::move(*built));
    compilation.ranges.push_back(CellRange{start, group.count});
    routes.emplace_back(group.key.key.symbol(), group.key.route());
  }
  auto router = EventRouter::from_routes(routes);
  if (!router) return std::unexpected(std::move(router.error()));
  compilation.router = std::move(*router);
  return compilation;
}

}  // namespace compiler
}  // namespace vorn
