// Test helpers for specs: symbols, decimals and durations in one call, the
// usual sources, definitions with canonical or explicit ids, and the text of
// a result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/decimal.hpp"
#include "engine/errors.hpp"
#include "engine/features/feature_id.hpp"
#include "engine/features/feature_key.hpp"

namespace vorn::feature_test {

using namespace feature_key;

inline Decimal dec(std::string_view text) { return Decimal::parse(text).value(); }
inline Symbol sym(std::string_view name) { return symbols::intern(name).value(); }
inline Duration ms(std::uint64_t millis) { return Duration::from_millis(millis); }

inline constexpr auto kTrades = FeatureSource::event(EventKind::Trade);
inline constexpr auto kAny = FeatureSource::any_event();
inline constexpr auto kPrice = FeatureSource::field(ValueField::Price);
inline constexpr auto kTradePrice = FeatureSource::field(ValueField::TradePrice);
inline constexpr auto FV = WarmupPolicy::FirstValue;
inline constexpr auto FW = WarmupPolicy::FullWindow;

inline FeatureDefinition def(FeatureKey key) { return FeatureDefinition::with_default_id(std::move(key)); }
inline FeatureDefinition def(std::string id, FeatureKey key) { return {FeatureId{std::move(id)}, std::move(key)}; }
inline std::vector<FeatureDefinition> defs(std::vector<FeatureKey> keys) {
  std::vector<FeatureDefinition> out;
  for (auto& key : keys) out.push_back(def(std::move(key)));
  return out;
}

// "ok", or the error's display text.
template <class Result>
std::string text_of(const Result& result) {
  return result ? "ok" : to_string(result.error());
}

}  // namespace vorn::feature_test
