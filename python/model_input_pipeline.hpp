// The Python class ModelInputPipeline: a compiled model-input pipeline spec
// run by a RuntimeDriver over the core Pipeline, built from a PipelineSpec
// object or from its JSON document. Its outputs are the final model-input
// vector; the raw feature vector stays readable for diagnostics.
#pragma once

#include "python/binding.hpp"

namespace vorn::py {

// The class, made on first use (borrowed; throws PythonError).
PyObject* model_input_pipeline_type();

}  // namespace vorn::py
