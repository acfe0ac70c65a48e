#include "python/model_input_pipeline.hpp"

#include <string>
#include <utility>
#include <vector>

#include "engine/features/pipeline/specs.hpp"
#include "engine/features/serde/pipeline_spec.hpp"
#include "python/pipeline_spec.hpp"
#include "python/runtime_methods.hpp"

namespace vorn::py {
namespace {

using Pipelined = RuntimeDriver<Pipeline>;

// The class's description for the shared methods.
struct PipelineClass {
  using Core = Pipeline;
  static constinit inline Signature kSymbol{
      "symbol", Receiver::Instance, {param("name")},
      "Intern a symbol and return its runtime-local integer handle.\n"
      "A new name beyond the process-wide 512-symbol limit (including GLOBAL)\n"
      "raises `ValueError`. Existing names remain usable and handles are unchanged."};
  static constinit inline Signature kFeatureNames{"feature_names", Receiver::Instance, {},
                                                  "Final model-input names, including reserved cells."};
  static constinit inline Signature kNFeatures{"n_features", Receiver::Instance, {},
                                               "Complete final width, including reserved cells."};
  static constinit inline Signature kActiveFeatureCount{"active_feature_count", Receiver::Instance, {},
                                                        "Active final output count, excluding reserved cells."};
  static constinit inline Signature kValues{"values", Receiver::Instance, {}, "Current final transformed snapshot."};
  static constinit inline Signature kUpdate = runtime_methods::update_signature(
      "Apply one event and refresh both raw and final snapshots.\n"
      "Non-finite price or volume payloads raise `ValueError` before changing\n"
      "raw or final values, timed state, or the timestamp watermark, regardless\n"
      "of subscriptions. Finite zero and negative values are accepted.");
  static constinit inline Signature kTransform = runtime_methods::transform_signature(
      "Replay an event stream and return one final model row per event.\n"
      "Required price and volume values must be finite; zero and negative values\n"
      "are accepted and unused payload columns are ignored. A non-finite row\n"
      "raises `ValueError` with `row N:` context before any batch events apply,\n"
      "leaving raw/final values, timed state, and the timestamp watermark unchanged.");
};

constinit Signature kNew{"ModelInputPipeline", Receiver::Class,
                         {param("pipeline_spec"), param("output_dtype", "\"float64\"")},
                         "Stateful raw-feature extraction plus fitted model-input transformations."};
constinit Signature kFromJson{"from_json", Receiver::Static, {param("json"), param("output_dtype", "\"float64\"")},
                              "Compile directly from strict canonical model-input JSON."};
constinit Signature kRawFeatureNames{"raw_feature_names", Receiver::Instance, {},
                                     "Raw diagnostic names, including raw reserved cells."};
constinit Signature kRawValues{"raw_values", Receiver::Instance, {}, "Current raw feature snapshot for diagnostics."};

// A driver over the pipeline that `spec` builds: the output names are its
// final ids, the raw names its extractor's feature ids.
Pipelined from_spec(const PipelineSpec& spec, bool output_f64) {
  Pipeline core = or_raise(spec.build());
  std::vector<std::string> names = model_output_ids(spec);
  std::vector<std::string> raw_names;
  raw_names.reserve(core.extractor().ids().size());
  for (const FeatureId& id : core.extractor().ids()) raw_names.emplace_back(id.view());
  RuntimeLayout layout{std::move(names), std::move(raw_names), "ModelInputPipeline", "pipeline",
                       core.model().capacity(), core.extractor().values().capacity()};
  return Pipelined(std::move(core), output_f64, std::move(layout));
}

PyObject* make(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const auto [spec_arg, dtype_arg] = kNew.bind<2>(args, kwargs);
    PyObject* spec = instance_arg(spec_arg, pipeline_spec_type());
    const std::string_view dtype = text_or(dtype_arg, "float64");
    const Shared<AuthoredPipeline> authored = borrow<AuthoredPipeline>(spec);
    const bool output_f64 = parse_output_dtype(dtype);
    return new_instance(reinterpret_cast<PyObject*>(type), from_spec(authored->spec, output_f64));
  });
}

PyObject* from_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [json, dtype_arg] = kFromJson.bind<2>(args, nargs, kwnames);
    const std::string_view document = text(json);
    const std::string_view dtype = text_or(dtype_arg, "float64");
    const PipelineSpec spec = or_raise(serde::deserialize_pipeline_spec(document));
    const bool output_f64 = parse_output_dtype(dtype);
    return new_instance(model_input_pipeline_type(), from_spec(spec, output_f64));
  });
}

PyObject* raw_feature_names(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kRawFeatureNames.bind<0>(args, nargs, kwnames);
    return borrow<Pipelined>(self)->raw_names();
  });
}

PyObject* raw_values(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kRawValues.bind<0>(args, nargs, kwnames);
    return borrow<Pipelined>(self)->raw_values();
  });
}

PyObject* has_events(PyObject* self, void*) {
  return guarded([&] { return PyBool_FromLong(borrow<Pipelined>(self)->locked()); });
}

}  // namespace

PyObject* model_input_pipeline_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    using C = PipelineClass;
    namespace m = runtime_methods;
    static PyMethodDef methods[] = {
        method_def(m::kUpdateContext, m::update_context<C>),
        method_def(m::kUpdateOrderBook, m::update_order_book<C>),
        method_def(m::kTransformOrderBook, m::transform_order_book<C>),
        method_def(kFromJson, from_json),
        method_def(C::kSymbol, m::symbol<C>),
        method_def(C::kFeatureNames, m::feature_names<C>),
        method_def(kRawFeatureNames, raw_feature_names),
        method_def(C::kNFeatures, m::n_features<C>),
        method_def(C::kActiveFeatureCount, m::active_feature_count<C>),
        method_def(C::kValues, m::values<C>),
        method_def(kRawValues, raw_values),
        method_def(C::kUpdate, m::update<C>),
        method_def(C::kTransform, m::transform<C>),
        {}};
    static PyGetSetDef properties[] = {
        {"_has_events", has_events, nullptr,
         "Whether an accepted event or context update has locked the Python recipe.", nullptr},
        {"output_dtype", m::get_output_dtype<C>, m::set_output_dtype<C>,
         "Numeric dtype used by final and raw arrays returned to Python.", nullptr},
        {}};
    type = new_type<Pipelined>("ModelInputPipeline", kNew.doc(),
                               {{Py_tp_methods, methods},
                                {Py_tp_getset, properties},
                                {Py_tp_new, reinterpret_cast<void*>(&make)}});
  }
  return type;
}

}  // namespace vorn::py
