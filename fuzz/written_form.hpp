// Which specs the document writer may refuse although the reader took them:
// a key that repeats (under different ids), or a symbol with more than 16
// imbalance outputs. The compiler refuses both, and the writer has no
// document for them. Shared by the targets that write what they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "engine/features/serde/feature_extractor_spec.hpp"

namespace vorn::fuzz {

inline bool outside_written_form(const FeatureExtractorSpec& spec) {
  const auto& definitions = spec.definitions();
  std::map<std::uint16_t, int> imbalances;
  for (std::size_t i = 0; i < definitions.size(); ++i) {
    const FeatureKey& key = definitions[i].key;
    if (key.tag() == FeatureKeyTag::OrderBookImbalance && ++imbalances[key.symbol().id] > 16) return true;
    for (std::size_t j = 0; j < i; ++j) {
      if (definitions[j].key == key) return true;
    }
  }
  return false;
}

}  // namespace vorn::fuzz
