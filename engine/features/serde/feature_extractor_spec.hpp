// FeatureExtractorSpec: the feature definitions of an extractor in canonical
// order, its order-book configurations, an optional checksum and the capacity
// of its raw vector; and the canonical sort key that orders definitions.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/errors.hpp"
#include "engine/features/feature_extractor.hpp"
#include "engine/features/feature_id.hpp"
#include "engine/features/feature_key.hpp"
#include "engine/order_book/book_config.hpp"
#include "engine/vectors.hpp"

namespace vorn {

// Orders definitions by their key alone: global features first, then by
// symbol name, kind rank, source code, warm-up, aggregation, trade-count
// window and UTC offset (each 0 where a kind has none), then the canonical
// id for the parameterised book queries, context and vpt. Per-output
// parameters (windows, lags, imbalance depths) are not part of it, so the
// outputs of one indicator compare equal.
struct CanonicalSortKey {
  bool symbol_specific = false;
  std::string symbol_name;
  std::uint8_t kind_rank = 0;
  std::uint8_t source_code = 0;
  std::uint8_t warmup = 0;
  unsigned __int128 aggregation_ns = 0;
  unsigned __int128 window_ns = 0;
  std::int64_t utc_offset_ms = 0;
  std::string canonical_id;

  friend std::strong_ordering operator<=>(const CanonicalSortKey&, const CanonicalSortKey&) = default;
  friend bool operator==(const CanonicalSortKey&, const CanonicalSortKey&) = default;
};

CanonicalSortKey canonical_sort_key(const FeatureKey& key);

class FeatureExtractorSpec {
public:
  // No definitions, no books, capacity 0.
  FeatureExtractorSpec() = default;

  // The definitions in canonical order (a stable sort, so equal keys keep
  // their input order) with no order books. Fails when the capacity is below
  // the definition count, then at the first reserved id.
  static Result<FeatureExtractorSpec> with_metadata(std::vector<FeatureDefinition> definitions,
                                                    std::size_t capacity, std::optional<std::string> checksum);
  // The spec with these books, sorted by symbol name (stable). Fails, in
  // sorted order, at a global symbol, a symbol repeated, an invalid grid.
  static Result<FeatureExtractorSpec> with_order_books(FeatureExtractorSpec spec,
                                                       std::vector<OrderBookConfig> order_books);

  // The number of distinct canonical sort keys: the spec's indicators.
  std::size_t indicator_count() const;

  // An extractor writing into `storage`, which must have the spec's capacity
  // (FeatureVectorCapacityMismatch) and one active cell per definition
  // (OutputCountMismatch); then compile errors, then book construction errors.
  Result<FeatureExtractor> build(VecFeatureVector storage) const;
  // As build(storage) with storage of the spec's capacity obtained here;
  // storage that cannot be obtained fails, after the compile and book
  // errors, with StorageUnavailable{FeatureVector, capacity}.
  Result<FeatureExtractor> build() const;

  const std::vector<FeatureDefinition>& definitions() const { return definitions_; }
  const std::vector<OrderBookConfig>& order_books() const { return order_books_; }
  const std::optional<std::string>& checksum() const { return checksum_; }
  std::size_t capacity() const { return capacity_; }

  friend bool operator==(const FeatureExtractorSpec&, const FeatureExtractorSpec&) = default;

private:
  Result<FeatureExtractor> build_into(std::optional<VecFeatureVector> storage) const;

  std::vector<FeatureDefinition> definitions_;
  std::vector<OrderBookConfig> order_books_;
  std::optional<std::string> checksum_;
  std::size_t capacity_ = 0;
};

}  // namespace vorn
