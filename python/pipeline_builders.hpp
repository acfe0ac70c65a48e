// What the builder methods of PipelineSpec share: the ending of every
// rebuilding call, the ScalarStage class (a recipe of transformations that
// scalar_stage copies), and the method-table entries of each builder family.
#pragma once

#include <span>
#include <vector>

#include "engine/features/transformers/transformer_definition.hpp"
#include "python/classes.hpp"
#include "python/pipeline_spec.hpp"

namespace vorn::py {

// `self` (a new reference) after a successful rebuild; ValueError with the
// core error's text otherwise.
PyObject* appended(PyObject* self, Status status);

// What one ScalarStage object holds: transformations in insertion order,
// checked only when a pipeline appends a copy of them.
struct ScalarRecipe {
  std::vector<TransformerDefinition> transformations;
};

// The ScalarStage class, made on first use (borrowed; throws PythonError).
PyObject* scalar_stage_type();

// Method-table entries of PipelineSpec, each family in member order:
// ema, sma, identity, lagged, standard_scale; then scalar_stage, scale_stage,
// min_max_scale_stage, power_transform_stage, quantile_transform_stage,
// select_stage, simple_impute_stage, pca_stage.
std::span<const PyMethodDef> pipeline_transformation_methods();
std::span<const PyMethodDef> stage_methods();

}  // namespace vorn::py
