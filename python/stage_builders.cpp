// The fitted-stage builders of PipelineSpec: each converts its fitted numbers,
// works out the stage's output ids from the current final ids (or takes them
// from its arguments) and appends the stage by the rebuild rule, which checks
// the whole chain.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "python/pipeline_builders.hpp"

namespace vorn::py {
namespace {

using Stage = FittedStage;

std::vector<double> numbers(Arg arg) { return sequence(arg, real); }
std::vector<std::vector<double>> rows(Arg arg) { return sequence(arg, numbers); }
std::vector<std::size_t> indices(Arg arg) { return sequence(arg, integer<std::size_t>); }
std::vector<std::string> texts(Arg arg) { return sequence(arg, owned_text); }

// None: no bounds; otherwise a tuple of two numbers.
std::optional<ClipBounds> bounds(Arg arg) {
  if (!arg.given_not_none()) return std::nullopt;
  const Fixed<2> pair = fixed_tuple<2>(arg);
  return ClipBounds{real(pair[0]), real(pair[1])};
}

constinit Signature kScalarStage{"scalar_stage", Receiver::Instance, {param("stage")},
                                 "Append independent scalar outputs consuming the current active layout."};
constinit Signature kScaleStage{"scale_stage", Receiver::Instance, {param("mean"), param("scale")},
                                "Append a fitted vector scaler, preserving the current active IDs."};
constinit Signature kMinMaxScaleStage{
    "min_max_scale_stage", Receiver::Instance, {param("scale"), param("min"), param("clip", "None")},
    "Append fitted sklearn MinMaxScaler state, preserving the current active IDs."};
constinit Signature kPowerTransformStage{
    "power_transform_stage", Receiver::Instance,
    {param("method"), param("lambdas"), param("mean"), param("scale")},
    "Append fitted sklearn PowerTransformer state, preserving the current active IDs."};
constinit Signature kQuantileTransformStage{
    "quantile_transform_stage", Receiver::Instance,
    {param("output_distribution"), param("quantiles"), param("references"), param("all_nan_input_indices"),
     param("bounds_threshold"), param("normal_clip", "None")},
    "Append fitted sklearn QuantileTransformer state, preserving the current active IDs."};
constinit Signature kSelectStage{"select_stage", Receiver::Instance, {param("input_indices")},
                                 "Append an ordered fitted column selection, preserving retained input IDs."};
constinit Signature kSimpleImputeStage{
    "simple_impute_stage", Receiver::Instance,
    {param("outputs"), param("retained_input_indices"), param("replacement_values"),
     param("indicator_input_indices")},
    "Append fitted sklearn SimpleImputer state and its frozen output layout."};
constinit Signature kPcaStage{"pca_stage", Receiver::Instance,
                              {param("outputs"), param("mean"), param("components"), param("output_scale")},
                              "Append fitted PCA state; component rows follow output order."};

// One stage method: bind, borrow the spec, let `build(args, spec)` convert the
// arguments and make the stage, append it and return the spec.
template <Signature& S, std::size_t N, class F>
PyObject* staged(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, F&& build) {
  return guarded([&] {
    const std::array<Arg, N> bound = S.template bind<N>(args, nargs, kwnames);
    Exclusive<AuthoredPipeline> pipeline = borrow_mut<AuthoredPipeline>(self);
    return appended(self, pipeline->add_stage(build(bound, *pipeline)));
  });
}

PyObject* scalar_stage(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return staged<kScalarStage, 1>(self, args, nargs, kwnames, [](const auto& a, const AuthoredPipeline&) {
    Shared<ScalarRecipe> recipe = borrow<ScalarRecipe>(instance_arg(a[0], scalar_stage_type()));
    return Stage{Stage::Scalar{recipe->transformations}};
  });
}

PyObject* scale_stage(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return staged<kScaleStage, 2>(self, args, nargs, kwnames, [](const auto& a, const AuthoredPipeline& p) {
    std::vector<double> mean = numbers(a[0]);
    std::vector<double> scale = numbers(a[1]);
    return Stage{Stage::StandardScale{model_output_ids(p.spec), std::move(mean), std::move(scale)}};
  });
}

PyObject* min_max_scale_stage(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return staged<kMinMaxScaleStage, 3>(self, args, nargs, kwnames, [](const auto& a, const AuthoredPipeline& p) {
    std::vector<double> scale = numbers(a[0]);
    std::vector<double> min = numbers(a[1]);
    const std::optional<ClipBounds> clip = bounds(a[2]);
    return Stage{Stage::MinMaxScale{clip, model_output_ids(p.spec), std::move(scale), std::move(min)}};
  });
}

PyObject* power_transform_stage(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return staged<kPowerTransformStage, 4>(self, args, nargs, kwnames, [](const auto& a, const AuthoredPipeline& p) {
    std::string method = owned_text(a[0]);
    std::vector<double> lambdas = numbers(a[1]);
    std::vector<double> mean = numbers(a[2]);
    std::vector<double> scale = numbers(a[3]);
    return Stage{Stage::PowerTransform{model_output_ids(p.spec), std::move(method), std::move(lambdas),
                                       std::move(mean), std::move(scale)}};
  });
}

PyObject* quantile_transform_stage(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return staged<kQuantileTransformStage, 6>(self, args, nargs, kwnames, [](const auto& a, const AuthoredPipeline& p) {
    std::string distribution = owned_text(a[0]);
    std::vector<std::vector<double>> quantiles = rows(a[1]);
    std::vector<double> references = numbers(a[2]);
    std::vector<std::size_t> all_nan = indices(a[3]);
    const double threshold = real(a[4]);
    const std::optional<ClipBounds> clip = bounds(a[5]);
    return Stage{Stage::QuantileTransform{clip, model_output_ids(p.spec), std::move(distribution),
                                          std::move(quantiles), std::move(references), std::move(all_nan),
                                          threshold}};
  });
}

PyObject* select_stage(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return staged<kSelectStage, 1>(self, args, nargs, kwnames, [](const auto& a, const AuthoredPipeline& p) {
    std::vector<std::size_t> picked = indices(a[0]);
    std::vector<std::string> current = model_output_ids(p.spec);
    std::vector<std::string> outputs;
    outputs.reserve(picked.size());
    for (const std::size_t i : picked) {
      if (i >= current.size()) {
        fail(PyExc_ValueError, fmt::format("selection index {} is out of bounds for {} inputs", i, current.size()));
      }
      outputs.push_back(current[i]);
    }
    return Stage{Stage::Select{std::move(outputs), std::move(picked)}};
  });
}

PyObject* simple_impute_stage(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return staged<kSimpleImputeStage, 4>(self, args, nargs, kwnames, [](const auto& a, const AuthoredPipeline&) {
    std::vector<std::string> outputs = texts(a[0]);
    std::vector<std::size_t> retained = indices(a[1]);
    std::vector<double> replacements = numbers(a[2]);
    std::vector<std::size_t> indicators = indices(a[3]);
    return Stage{Stage::SimpleImpute{std::move(outputs), std::move(retained), std::move(replacements),
                                     std::move(indicators)}};
  });
}

PyObject* pca_stage(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return staged<kPcaStage, 4>(self, args, nargs, kwnames, [](const auto& a, const AuthoredPipeline&) {
    std::vector<std::string> outputs = texts(a[0]);
    std::vector<double> mean = numbers(a[1]);
    std::vector<std::vector<double>> components = rows(a[2]);
    std::vector<double> output_scale = numbers(a[3]);
    return Stage{Stage::Pca{std::move(outputs), std::move(mean), std::move(components), std::move(output_scale)}};
  });
}

}  // namespace

std::span<const PyMethodDef> stage_methods() {
  static const PyMethodDef methods[] = {
      method_def(kScalarStage, scalar_stage),
      method_def(kScaleStage, scale_stage),
      method_def(kMinMaxScaleStage, min_max_scale_stage),
      method_def(kPowerTransformStage, power_transform_stage),
      method_def(kQuantileTransformStage, quantile_transform_stage),
      method_def(kSelectStage, select_stage),
      method_def(kSimpleImputeStage, simple_impute_stage),
      method_def(kPcaStage, pca_stage),
  };
  return methods;
}

}  // namespace vorn::py
