// Model-input pipeline specs as version "3.0" JSON documents: the
// feature-extractor document embedded under "feature_extractor", and under
// "model_input" the capacity, the final length, the layer-1 transformations
// and the fitted stages. Reading checks everything a spec built in code is
// checked for; writing gives the document that reads back to the same spec.
#pragma once

#include <string>
#include <string_view>

#include "engine/features/pipeline/specs.hpp"
#include "engine/features/serde/json_tree.hpp"
#include "engine/features/serde/text_syntax.hpp"

namespace vorn::serde {

// A parsed document: structural faults first (the embedded extractor
// document's own included), then, without a position: the version, the
// presence of "stages", the length against the final width, the capacity
// against the length, the transformations and each stage.
JsonResult<PipelineSpec> read_pipeline_spec(const JsonValue& value);

// A whole document text. Structural errors end in " at line L column C".
TextResult<PipelineSpec> deserialize_pipeline_spec(std::string_view text);

// The spec as document text: two-space indent, keys in written order, absent
// optional keys left out, no trailing newline. Fails when the extractor spec
// has no document form, or on a number that JSON cannot hold.
TextResult<std::string> serialize_pipeline_spec(const PipelineSpec& spec);

}  // namespace vorn::serde
