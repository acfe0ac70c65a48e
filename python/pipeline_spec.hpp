// The Python class PipelineSpec: a core model-input pipeline spec that Python
// authors in two phases (base scalar transformations, then fitted stages), and
// whether its final capacity was authored. Every change rebuilds and
// revalidates the whole chain on copies and stores the result only when it
// succeeds.
#pragma once

#include <string>
#include <vector>

#include "engine/errors.hpp"
#include "engine/features/pipeline/specs.hpp"
#include "engine/features/pipeline/stages.hpp"
#include "engine/features/transformers/transformer_definition.hpp"
#include "python/binding.hpp"

namespace vorn::py {

// What one PipelineSpec object holds.
struct AuthoredPipeline {
  PipelineSpec spec;
  // Set: the capacity stays fixed. Clear: each rebuild sizes it to the new
  // final width.
  bool capacity_authored = false;

  // Appends a base transformation and rebuilds the spec; on failure nothing
  // changes. Once a stage exists it throws PythonError (ValueError "cannot
  // append base transformations after stages; ...") instead.
  Status add_transformation(TransformerDefinition definition);
  // Appends a fitted stage and rebuilds the spec; on failure nothing changes.
  Status add_stage(FittedStage stage);
};

// The class, made on first use (borrowed; throws PythonError).
PyObject* pipeline_spec_type();

// The final ids of a spec, in order.
std::vector<std::string> model_output_ids(const PipelineSpec& spec);

}  // namespace vorn::py
