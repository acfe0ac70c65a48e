// One indicator record of a spec document turned into its feature
// definitions, or the message refusing it; and the pieces the document
// writer shares with it: the scope and source rules, the canonical options of
// a book query, the source record of a feature source and the events a source
// needs.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/features/feature_id.hpp"
#include "engine/features/feature_key.hpp"
#include "engine/features/serde/feature_extractor_spec_wire.hpp"
#include "engine/features/serde/text_syntax.hpp"
#include "engine/symbols.hpp"

namespace vorn::serde {

using TextStatus = TextResult<void>;

// Appends the definitions of `indicator`, an indicator of the group `symbol`,
// in output order; or returns the first broken rule.
TextStatus deserialize_indicator(Symbol symbol, const IndicatorWire& indicator,
                                 std::vector<FeatureDefinition>& definitions);

// The scope (global or symbol-specific) and source rule of a kind read from a
// feature source: "unknown indicator kind {kind:?}" for a name outside the
// rules, "invalid symbol scope or source for indicator kind {kind:?}".
TextStatus validate_scope_and_source(Symbol symbol, std::string_view kind, FeatureSource source);

// Book kinds need a symbol-specific group and a source without event or field.
TextStatus validate_order_book_scope(Symbol symbol, const SourceWire& source);

// The kind name and the canonical options of a parameterised book query:
// side, normalised decimals, n_levels. Nothing for any other key.
struct BookQueryOptions {
  std::string_view kind;
  OptionsWire options;
};
std::optional<BookQueryOptions> order_book_query_options(const FeatureKey& key);

// The source record of a feature source: {"type": "field", "event": "trade",
// "field": "price"}, {"type": "event", "event": "trade"}, {"type": "any_event"}.
SourceWire source_wire(FeatureSource source);

// Pairs (interned symbol name, event word), ordered by symbol then event.
using EventSet = std::set<std::pair<std::string, std::string>>;

// Adds the events that an indicator of the group `symbol` with this source
// consumes: both book events, the global "time" for any event, the source's
// event as written, nothing for a context source.
void add_required_events(Symbol symbol, const SourceWire& source, EventSet& events);

}  // namespace vorn::serde
