#include "python/pipeline_spec.hpp"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "engine/features/serde/pipeline_spec.hpp"
#include "python/classes.hpp"
#include "python/feature_extractor_spec.hpp"
#include "python/pipeline_builders.hpp"

namespace vorn::py {

Status AuthoredPipeline::add_transformation(TransformerDefinition definition) {
  if (!spec.stages().empty()) {
    fail(PyExc_ValueError, "cannot append base transformations after stages; use scalar_stage(ScalarStage(...))");
  }
  std::vector<TransformerDefinition> transformations = spec.transformations();
  transformations.push_back(std::move(definition));
  const std::size_t capacity = capacity_authored ? spec.capacity() : transformations.size();
  Result<PipelineSpec> rebuilt =
      PipelineSpec::with_stages(spec.feature_extractor(), std::move(transformations), {}, capacity, spec.checksum());
  if (!rebuilt) return std::unexpected(std::move(rebuilt.error()));
  spec = std::move(*rebuilt);
  return {};
}

Status AuthoredPipeline::add_stage(FittedStage stage) {
  const std::size_t capacity = capacity_authored ? spec.capacity() : stage.outputs().size();
  std::vector<FittedStage> stages = spec.stages();
  stages.push_back(std::move(stage));
  Result<PipelineSpec> rebuilt = PipelineSpec::with_stages(spec.feature_extractor(), spec.transformations(),
                                                           std::move(stages), capacity, spec.checksum());
  if (!rebuilt) return std::unexpected(std::move(rebuilt.error()));
  spec = std::move(*rebuilt);
  return {};
}

std::vector<std::string> model_output_ids(const PipelineSpec& spec) {
  std::vector<std::string> ids;
  for (FeatureId& id : spec.output_ids()) ids.push_back(std::move(id.text));
  return ids;
}

PyObject* appended(PyObject* self, Status status) {
  or_raise(std::move(status));
  return Py_NewRef(self);
}

namespace {

constinit Signature kNew{
    "PipelineSpec", Receiver::Class,
    {param("raw_feature_extractor_spec"), keyword("capacity", "None"), keyword("checksum", "None")},
    "Validated raw-feature and fitted scalar-transformation specification.\n\n"
    "The raw spec is cloned at construction so later Python builder mutations do\n"
    "not change the model artifact. Transformations remain in authored order."};
constinit Signature kFitCandidate{"_fit_candidate", Receiver::Instance, {},
                                  "Allow temporary training prefixes to exceed the configured final capacity."};
constinit Signature kFinalizeFit{
    "_finalize_fit", Receiver::Instance, {param("base")},
    "Restore the authored final capacity after all intermediate stages have been fitted."};
constinit Signature kCopy{"copy", Receiver::Instance, {},
                          "Independent snapshot retaining whether final capacity was explicitly authored."};
constinit Signature kFromJson{"from_json", Receiver::Static, {param("json")},
                              "Loads the strict versioned canonical model-input artifact."};
constinit Signature kToJson{"to_json", Receiver::Instance, {},
                            "Serializes the pipeline spec with the canonical JSON writer."};
constinit Signature kFeatureIds{"feature_ids", Receiver::Instance, {},
                                "Active final IDs in authored transformation order."};
constinit Signature kRawFeatureIds{"raw_feature_ids", Receiver::Instance, {},
                                   "Active raw IDs in canonical extraction order."};

// A new list of strs.
template <class Range, class F>
PyObject* str_list(const Range& items, F&& text_of) {
  Ref list = Ref::checked(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
  Py_ssize_t i = 0;
  for (const auto& item : items) PyList_SetItem(list.get(), i++, new_str(text_of(item)));
  return list.release();
}

PyObject* make(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const auto [raw_arg, capacity_arg, checksum_arg] = kNew.bind<3>(args, kwargs);
    Shared<AuthoredSpec> raw = borrow<AuthoredSpec>(instance_arg(raw_arg, feature_extractor_spec_type()));
    const std::optional<std::size_t> capacity = optional_integer<std::size_t>(capacity_arg);
    const std::optional<std::string_view> checksum = optional_text(checksum_arg);
    // No transformations and no stages: this cannot fail, whatever the capacity.
    PipelineSpec spec = or_raise(PipelineSpec::with_stages(
        raw->spec, {}, {}, capacity.value_or(0), checksum ? std::optional<std::string>(*checksum) : std::nullopt));
    return new_instance(reinterpret_cast<PyObject*>(type), AuthoredPipeline{std::move(spec), capacity.has_value()});
  });
}

PyObject* fit_candidate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kFitCandidate.bind<0>(args, nargs, kwnames);
    Shared<AuthoredPipeline> authored = borrow<AuthoredPipeline>(self);
    return new_instance(pipeline_spec_type(), AuthoredPipeline{authored->spec, false});
  });
}

PyObject* finalize_fit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto [base_arg] = kFinalizeFit.bind<1>(args, nargs, kwnames);
    Exclusive<AuthoredPipeline> candidate = borrow_mut<AuthoredPipeline>(self);
    Shared<AuthoredPipeline> base = borrow<AuthoredPipeline>(instance_arg(base_arg, pipeline_spec_type()));
    if (base->capacity_authored) {
      const PipelineSpec& spec = candidate->spec;
      candidate->spec = or_raise(PipelineSpec::with_stages(spec.feature_extractor(), spec.transformations(),
                                                           spec.stages(), base->spec.capacity(), spec.checksum()));
    }
    candidate->capacity_authored = base->capacity_authored;
    Py_RETURN_NONE;
  });
}

PyObject* copy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kCopy.bind<0>(args, nargs, kwnames);
    Shared<AuthoredPipeline> authored = borrow<AuthoredPipeline>(self);
    return new_instance(pipeline_spec_type(), AuthoredPipeline{*authored});
  });
}

PyObject* from_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [json] = kFromJson.bind<1>(args, nargs, kwnames);
    const std::string_view document = text(json);
    return new_instance(pipeline_spec_type(),
                        AuthoredPipeline{or_raise(serde::deserialize_pipeline_spec(document)), true});
  });
}

PyObject* to_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kToJson.bind<0>(args, nargs, kwnames);
    Shared<AuthoredPipeline> authored = borrow<AuthoredPipeline>(self);
    return new_str(or_raise(serde::serialize_pipeline_spec(authored->spec)));
  });
}

PyObject* feature_ids(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kFeatureIds.bind<0>(args, nargs, kwnames);
    Shared<AuthoredPipeline> authored = borrow<AuthoredPipeline>(self);
    return str_list(authored->spec.output_ids(), [](const FeatureId& id) { return id.view(); });
  });
}

PyObject* raw_feature_ids(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kRawFeatureIds.bind<0>(args, nargs, kwnames);
    Shared<AuthoredPipeline> authored = borrow<AuthoredPipeline>(self);
    return str_list(authored->spec.feature_extractor().definitions(),
                    [](const FeatureDefinition& definition) { return definition.id.view(); });
  });
}

PyObject* get_stage_count(PyObject* self, void*) {
  return guarded([&] {
    Shared<AuthoredPipeline> authored = borrow<AuthoredPipeline>(self);
    return PyLong_FromSize_t(authored->spec.stages().size());
  });
}

PyObject* get_capacity(PyObject* self, void*) {
  return guarded([&] {
    Shared<AuthoredPipeline> authored = borrow<AuthoredPipeline>(self);
    return PyLong_FromSize_t(authored->spec.capacity());
  });
}

PyObject* get_active_feature_count(PyObject* self, void*) {
  return guarded([&] {
    Shared<AuthoredPipeline> authored = borrow<AuthoredPipeline>(self);
    return PyLong_FromSize_t(authored->spec.feature_vector_length());
  });
}

PyObject* get_checksum(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    Shared<AuthoredPipeline> authored = borrow<AuthoredPipeline>(self);
    const std::optional<std::string>& checksum = authored->spec.checksum();
    if (!checksum) Py_RETURN_NONE;
    return new_str(*checksum);
  });
}

// The class's methods in member order, the builder families interleaved with
// its own.
PyMethodDef* method_table() {
  const std::span<const PyMethodDef> transformations = pipeline_transformation_methods();  // ema .. standard_scale
  const std::span<const PyMethodDef> stages = stage_methods();  // scalar_stage, scale_stage .. pca_stage
  std::vector<PyMethodDef> all;
  const auto add = [&](std::span<const PyMethodDef> entries) { all.insert(all.end(), entries.begin(), entries.end()); };
  add(transformations.first(2));
  all.push_back(method_def(kFitCandidate, fit_candidate));
  all.push_back(method_def(kFinalizeFit, finalize_fit));
  add(stages.first(1));
  all.push_back(method_def(kCopy, copy));
  add(stages.subspan(1));
  all.push_back(method_def(kFromJson, from_json));
  all.push_back(method_def(kToJson, to_json));
  add(transformations.subspan(2));
  all.push_back(method_def(kFeatureIds, feature_ids));
  all.push_back(method_def(kRawFeatureIds, raw_feature_ids));
  all.push_back({});
  PyMethodDef* table = new PyMethodDef[all.size()];  // kept for the life of the process
  std::copy(all.begin(), all.end(), table);
  return table;
}

}  // namespace

PyObject* pipeline_spec_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    static PyMethodDef* methods = method_table();
    static PyGetSetDef properties[] = {
        {"stage_count", get_stage_count, nullptr, "Number of already fitted vector stages.", nullptr},
        {"capacity", get_capacity, nullptr, "Complete configured final width, including trailing reserved cells.",
         nullptr},
        {"active_feature_count", get_active_feature_count, nullptr,
         "Number of configured final outputs, excluding reserved cells.", nullptr},
        {"checksum", get_checksum, nullptr, "Opaque model checksum, independent of the raw-spec checksum.", nullptr},
        {}};
    type = new_type<AuthoredPipeline>("PipelineSpec", kNew.doc(),
                                      {{Py_tp_methods, methods},
                                       {Py_tp_getset, properties},
                                       {Py_tp_new, reinterpret_cast<void*>(&make)}});
  }
  return type;
}

}  // namespace vorn::py
