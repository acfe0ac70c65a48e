// FeatureId, the text that names a feature, with the canonical id rendered
// from a key; the reserved id namespace; FeatureDefinition, an id with its key.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "engine/features/feature_key.hpp"

namespace vorn {

struct FeatureId {
  std::string text;

  // The canonical id of a key, for example
  // "cvd:symbol=7:btcusdt:source=event.trade:window=100:warmup=full_window".
  // Reads the symbol interner for the symbol's stored name.
  static FeatureId from_feature_key(const FeatureKey& key);

  std::string_view view() const { return text; }
  friend bool operator==(const FeatureId&, const FeatureId&) = default;
};

// The id name of a key's kind ("order_book_mid_price", "simple_return").
std::string_view id_name(const FeatureKey& key);

namespace features {
// Ids that begin with these bytes name the cells beyond the active length.
inline constexpr std::string_view kReservedIdPrefix = "__reserved_";
// True when `id` begins with "__reserved_" (bytes, case-sensitive).
constexpr bool is_reserved_feature_id(std::string_view id) { return id.starts_with(kReservedIdPrefix); }
}  // namespace features

struct FeatureDefinition {
  FeatureId id;
  FeatureKey key;

  // The key with its canonical id.
  static FeatureDefinition with_default_id(FeatureKey key) {
    FeatureId id = FeatureId::from_feature_key(key);
    return FeatureDefinition{std::move(id), std::move(key)};
  }
  friend bool operator==(const FeatureDefinition&, const FeatureDefinition&) = default;
};

}  // namespace vorn

template <>
struct std::hash<vorn::FeatureId> {
  std::size_t operator()(const vorn::FeatureId& id) const { return std::hash<std::string>{}(id.text); }
};
