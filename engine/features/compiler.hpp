// The feature compiler: validates feature keys, merges definitions that can
// share running state into groups of at most 16 members, and lays the groups
// out as derivations with contiguous cells and event routes (Compilation).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/errors.hpp"
#include "engine/features/derivation/feature_derivation.hpp"
#include "engine/features/event_router.hpp"
#include "engine/features/feature_id.hpp"
#include "engine/features/feature_key.hpp"
#include "engine/types.hpp"

namespace vorn {

// What the member parameter of a group counts.
enum class OutputShape : std::uint8_t { NLevels, Counts, Periods, Scalar };

// What all members of one group share: the feature key with its member
// parameter (window, lag, timed window or imbalance depth) cleared. Equal
// group keys compare and hash by every remaining field.
struct GroupKey {
  FeatureKey key;

  // The route code of the group's derivation; a context key has none.
  EventRoute route() const;
  friend bool operator==(const GroupKey&, const GroupKey&) = default;
};

// A validated key: its group, the kind of its member parameter and the
// parameter itself (0 for Scalar; the bucket period for Periods).
struct GroupedKey {
  GroupKey group;
  OutputShape shape = OutputShape::Scalar;
  std::uint64_t member = 0;
};

// The cells one derivation writes.
struct CellRange {
  std::size_t start = 0;
  std::size_t len = 0;
};

struct Compilation {
  std::vector<FeatureDerivation> derivations;  // one per non-context group, in group order
  std::vector<CellRange> ranges;               // one per derivation
  std::vector<FeatureId> ids;                  // one per active cell
  std::vector<std::uint8_t> is_context;        // one per active cell, 1 for context cells
  EventRouter router;
};

namespace compiler {

// Validates a key (its checks in order; errors name `index`) and returns
// its group key.
Result<GroupedKey> group_key(std::size_t index, const FeatureKey& key);

// group_key at index 0, keeping only its error.
Status validate_key(const FeatureKey& key);

// The bucket period (window / aggregation, at least 1) of a timed key with
// tag `tag`, or the first failing check: aggregation precision, range, zero;
// window precision, range; window shorter than or not a multiple of the
// aggregation.
Result<std::uint64_t> validate_timed_window(std::size_t index, FeatureKeyTag tag, Duration aggregation,
                                            Duration window);

// Compiles definitions into groups, derivations, cell ranges and routes.
// Fails when their number differs from `expected_length`, at the first
// duplicate key, duplicate id, reserved id, invalid key or overfull group,
// beyond 65535 groups, or when a derivation cannot be built.
Result<Compilation> compile(std::vector<FeatureDefinition> definitions, std::size_t expected_length);

}  // namespace compiler
}  // namespace vorn

template <>
struct std::hash<vorn::GroupKey> {
  std::size_t operator()(const vorn::GroupKey& group) const { return vorn::hash_value(group.key); }
};
