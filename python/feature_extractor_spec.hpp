// The Python class FeatureExtractorSpec: a core feature-extractor spec that
// Python authors with builder methods, and whether its capacity was given.
// Every change rebuilds and revalidates the whole spec on copies and stores
// the result only when it succeeds.
#pragma once

#include <vector>

#include "engine/errors.hpp"
#include "engine/features/feature_id.hpp"
#include "engine/features/serde/feature_extractor_spec.hpp"
#include "engine/order_book/book_config.hpp"
#include "python/binding.hpp"

namespace vorn::py {

// What one FeatureExtractorSpec object holds.
struct AuthoredSpec {
  FeatureExtractorSpec spec;
  bool capacity_explicit = false;  // fixed at creation

  // Appends the definitions after the stored ones and rebuilds the spec (the
  // capacity kept when explicit, else the new definition count); on failure
  // nothing changes.
  Status add(std::vector<FeatureDefinition> definitions);
  Status add_group(FeatureDefinition definition);
  // Adds a book configuration; definitions, checksum and capacity unchanged.
  Status configure_order_book(OrderBookConfig config);
};

// The class, made on first use (borrowed; throws PythonError).
PyObject* feature_extractor_spec_type();

}  // namespace vorn::py
