// Feature-extractor specs as version "2.0" JSON documents: reading a document
// into a validated spec in canonical order, and writing a spec back as the
// document that reads to the same spec. Every failure is one message.
#pragma once

#include <string>
#include <string_view>

#include "engine/features/serde/feature_extractor_spec.hpp"
#include "engine/features/serde/feature_extractor_spec_wire.hpp"
#include "engine/features/serde/json_tree.hpp"
#include "engine/features/serde/text_syntax.hpp"

namespace vorn::serde {

// The spec a document record describes: version, groups and their
// indicators, declared events, length, capacity, order books; the first
// broken rule otherwise. Keys are checked one by one, not compiled: a key
// given twice or more than 16 imbalance outputs of one symbol read here, are
// refused by the compiler and have no written document. Symbols are interned
// as they are met.
TextResult<FeatureExtractorSpec> spec_from_wire(FeatureExtractorSpecWire wire);

// The document record of a spec: definitions regrouped into symbol groups and
// indicators, parameters in their text forms, the declared events derived.
// Refuses a spec that has no document the reader would take back.
TextResult<FeatureExtractorSpecWire> wire_from_spec(const FeatureExtractorSpec& spec);

// A parsed JSON value read as a document; rule messages carry no position
// (for documents embedded in other documents).
JsonResult<FeatureExtractorSpec> read_feature_extractor_spec(const JsonValue& value);

// A whole document text. Structural errors end in " at line L column C";
// rule messages stand alone.
TextResult<FeatureExtractorSpec> deserialize_feature_extractor_spec(std::string_view text);

// The spec as document text: two-space indent, keys in declared order, absent
// optional keys left out, no trailing newline.
TextResult<std::string> serialize_feature_extractor_spec(const FeatureExtractorSpec& spec);

}  // namespace vorn::serde
