#include "python/feature_extractor.hpp"

#include <string>
#include <utility>
#include <vector>

#include "engine/features/serde/feature_extractor_spec_json.hpp"
#include "python/feature_extractor_spec.hpp"
#include "python/runtime_methods.hpp"

namespace vorn::py {
namespace {

using Extractor = RuntimeDriver<FeatureExtractor>;

// The class's description for the shared methods.
struct ExtractorClass {
  using Core = FeatureExtractor;
  static constinit inline Signature kSymbol{
      "symbol", Receiver::Instance, {param("name")},
      "Intern `name` and return a stable integer handle to use in the `symbol`\n"
      "argument or column of `transform` and `update`.\n"
      "A new name beyond the process-wide 512-symbol limit (including GLOBAL)\n"
      "raises `ValueError`. Existing names remain usable and handles are unchanged."};
  static constinit inline Signature kFeatureNames{"feature_names", Receiver::Instance, {},
                                                  "Feature (column) names in output order."};
  static constinit inline Signature kNFeatures{"n_features", Receiver::Instance, {}, "Number of feature columns."};
  static constinit inline Signature kActiveFeatureCount{
      "active_feature_count", Receiver::Instance, {},
      "Number of configured outputs, excluding trailing reserved cells."};
  static constinit inline Signature kValues{
      "values", Receiver::Instance, {},
      "Current feature values in output order.\n"
      "A window cell is NaN until its\n"
      "configured warm-up policy is satisfied and a current value exists."};
  static constinit inline Signature kUpdate = runtime_methods::update_signature(
      "Apply a single event and update the feature vector.\n"
      "Serves live stepping and checking parity against `transform`. Non-finite\n"
      "price or volume payloads raise `ValueError` before changing feature values,\n"
      "timed state, or the timestamp watermark, regardless of symbol subscriptions.\n"
      "Finite zero and negative values are accepted. Pass only the payload values\n"
      "the kind needs: `update(KIND_PRICE, sym, ts, price=...)`; order books go\n"
      "through `update_order_book(OrderBookEvent.snapshot(...))`.");
  static constinit inline Signature kTransform = runtime_methods::transform_signature(
      "Replay a full event stream and return one feature row per input row.\n"
      "`KIND_PRICE` needs `price`, `KIND_VOLUME` needs `volume`, `KIND_TRADE` needs\n"
      "`price` and `volume` with an optional `side`, `KIND_ORDERBOOK` is rejected in\n"
      "favour of `transform_order_book`, and `KIND_TIME` needs none. Columns are 1-D,\n"
      "contiguous and of `kind`'s length, with exact dtypes (`kind` and `side` uint8,\n"
      "`symbol` and `timestamp` int64, payloads float64); `bid` and `ask` are checked\n"
      "and ignored. Columns, rows, per-row `context_updates` and timestamp order are\n"
      "checked before any row applies, so such errors (`row N:`) change nothing. A\n"
      "state-dependent error reports row N; prior rows remain applied and later rows\n"
      "are skipped.");
};

constinit Signature kNew{"FeatureExtractor", Receiver::Class,
                         {param("feature_extractor_spec"), param("output_dtype", "\"float64\"")},
                         "A configured, runnable feature extractor."};
constinit Signature kFromJson{"from_json", Receiver::Static, {param("json"), param("output_dtype", "\"float64\"")},
                              "Build an extractor directly from versioned FeatureExtractorSpec JSON."};

// A driver over a built extractor; the output names are its feature ids.
Extractor wrap(FeatureExtractor core, bool output_f64) {
  std::vector<std::string> names;
  names.reserve(core.ids().size());
  for (const FeatureId& id : core.ids()) names.emplace_back(id.view());
  const std::size_t width = core.values().capacity();
  RuntimeLayout layout{names, std::move(names), "FeatureExtractor", "extractor", width, width};
  return Extractor(std::move(core), output_f64, std::move(layout));
}

PyObject* make(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const auto [spec_arg, dtype_arg] = kNew.bind<2>(args, kwargs);
    PyObject* spec = instance_arg(spec_arg, feature_extractor_spec_type());
    const std::string_view dtype = text_or(dtype_arg, "float64");
    FeatureExtractor core = or_raise(borrow<AuthoredSpec>(spec)->spec.build());
    return new_instance(reinterpret_cast<PyObject*>(type), wrap(std::move(core), parse_output_dtype(dtype)));
  });
}

PyObject* from_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [json, dtype_arg] = kFromJson.bind<2>(args, nargs, kwnames);
    const std::string_view document = text(json);
    const std::string_view dtype = text_or(dtype_arg, "float64");
    const FeatureExtractorSpec spec = or_raise(serde::deserialize_feature_extractor_spec(document));
    FeatureExtractor core = or_raise(spec.build());
    return new_instance(feature_extractor_type(), wrap(std::move(core), parse_output_dtype(dtype)));
  });
}

}  // namespace

PyObject* feature_extractor_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    using C = ExtractorClass;
    namespace m = runtime_methods;
    static PyMethodDef methods[] = {
        method_def(m::kUpdateContext, m::update_context<C>),
        method_def(m::kUpdateOrderBook, m::update_order_book<C>),
        method_def(m::kTransformOrderBook, m::transform_order_book<C>),
        method_def(kFromJson, from_json),
        method_def(C::kSymbol, m::symbol<C>),
        method_def(C::kFeatureNames, m::feature_names<C>),
        method_def(C::kNFeatures, m::n_features<C>),
        method_def(C::kActiveFeatureCount, m::active_feature_count<C>),
        method_def(C::kValues, m::values<C>),
        method_def(C::kUpdate, m::update<C>),
        method_def(C::kTransform, m::transform<C>),
        {}};
    static PyGetSetDef properties[] = {{"output_dtype", m::get_output_dtype<C>, m::set_output_dtype<C>,
                                        "Numeric dtype used by arrays returned to Python.", nullptr},
                                       {}};
    type = new_type<Extractor>("FeatureExtractor", kNew.doc(),
                               {{Py_tp_methods, methods},
                                {Py_tp_getset, properties},
                                {Py_tp_new, reinterpret_cast<void*>(&make)}});
  }
  return type;
}

}  // namespace vorn::py
