// The scalar transformation builders (ema, sma, identity, lagged,
// standard_scale) on their two receivers: PipelineSpec, which appends a base
// transformation by the rebuild rule, and ScalarStage, which records it
// unchecked until a pipeline appends the stage.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "python/pipeline_builders.hpp"
#include "python/warmup_policy.hpp"

namespace vorn::py {
namespace {

using Definition = TransformerDefinition;

// The output id: the `output` argument, or the input's when it is None.
std::string output_of(Arg output, std::string_view input) {
  return std::string(optional_text(output).value_or(input));
}

// The record of each kind, its arguments converted in signature order.
Definition ema(const std::array<Arg, 4>& a) {
  const std::string_view input = text(a[0]);
  const auto window = integer<std::uint64_t>(a[1]);
  const WarmupPolicy warmup = warmup_policy_or(a[2], WarmupPolicy::FullWindow);
  return Definition::Ema{warmup, window, std::string(input), output_of(a[3], input)};
}

Definition sma(const std::array<Arg, 4>& a) {
  const std::string_view input = text(a[0]);
  const auto window = integer<std::uint64_t>(a[1]);
  const WarmupPolicy warmup = warmup_policy_or(a[2], WarmupPolicy::FullWindow);
  return Definition::Sma{warmup, window, std::string(input), output_of(a[3], input)};
}

Definition identity(const std::array<Arg, 2>& a) {
  const std::string_view input = text(a[0]);
  return Definition::Identity{std::string(input), output_of(a[1], input)};
}

Definition lagged(const std::array<Arg, 3>& a) {
  const std::string_view input = text(a[0]);
  const auto lag_window = integer<std::uint64_t>(a[1]);
  return Definition::Lagged{lag_window, std::string(input), output_of(a[2], input)};
}

Definition standard_scale(const std::array<Arg, 4>& a) {
  const std::string_view input = text(a[0]);
  const double mean = real(a[1]);
  const double scale = real(a[2]);
  return Definition::StandardScale{mean, scale, std::string(input), output_of(a[3], input)};
}

void append(ScalarRecipe& recipe, Definition definition) { recipe.transformations.push_back(std::move(definition)); }
void append(AuthoredPipeline& pipeline, Definition definition) {
  or_raise(pipeline.add_transformation(std::move(definition)));
}

// One builder method: bind, borrow the receiver, convert, append, return it.
template <class Value, Signature& S, std::size_t N, Definition (*Make)(const std::array<Arg, N>&)>
PyObject* transformation(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const std::array<Arg, N> bound = S.template bind<N>(args, nargs, kwnames);
    Exclusive<Value> value = borrow_mut<Value>(self);
    append(*value, Make(bound));
    return Py_NewRef(self);
  });
}

constinit Signature kEma{"ema", Receiver::Instance,
                         {param("input"), keyword("window"), keyword("warmup", "..."), keyword("output", "None")},
                         "Average finite source observations using the existing EMA calculator."};
constinit Signature kSma{"sma", Receiver::Instance,
                         {param("input"), keyword("window"), keyword("warmup", "..."), keyword("output", "None")},
                         "Average finite source observations using the existing SMA calculator."};
constinit Signature kStageIdentity{"identity", Receiver::Instance, {param("input"), keyword("output", "None")},
                                   "Copy a scalar from the preceding stage."};
constinit Signature kIdentity{"identity", Receiver::Instance, {param("input"), keyword("output", "None")},
                              "Append an unchanged scalar to the final model vector."};
constinit Signature kStageLagged{"lagged", Receiver::Instance,
                                 {param("input"), keyword("lag_window"), keyword("output", "None")},
                                 "Emit a preceding-stage scalar from `lag_window` accepted events earlier."};
constinit Signature kLagged{"lagged", Receiver::Instance,
                            {param("input"), keyword("lag_window"), keyword("output", "None")},
                            "Append a raw scalar from `lag_window` accepted events earlier.\n"
                            "The window must be in `1..=10_000`; output remains NaN until enough history exists."};
constinit Signature kStageStandardScale{
    "standard_scale", Receiver::Instance,
    {param("input"), keyword("mean"), keyword("scale"), keyword("output", "None")},
    "Apply fixed `(input - mean) / scale` parameters to a preceding-stage scalar."};
constinit Signature kStandardScale{"standard_scale", Receiver::Instance,
                                   {param("input"), keyword("mean"), keyword("scale"), keyword("output", "None")},
                                   "Append a fitted `(input - mean) / scale` scalar transformation."};
constinit Signature kStageNew{"ScalarStage", Receiver::Class, {},
                              "Authors one group of scalar outputs whose inputs are resolved against the preceding "
                              "stage.\nResolution is deferred until fitting because PCA output IDs may not exist yet."};
constinit Signature kStageCopy{"copy", Receiver::Instance, {},
                               "Independent recipe snapshot, so later edits cannot change a pipeline."};

PyObject* make_stage(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    kStageNew.bind<0>(args, kwargs);
    return new_instance(reinterpret_cast<PyObject*>(type), ScalarRecipe{});
  });
}

PyObject* copy_stage(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kStageCopy.bind<0>(args, nargs, kwnames);
    Shared<ScalarRecipe> recipe = borrow<ScalarRecipe>(self);
    return new_instance(scalar_stage_type(), ScalarRecipe{*recipe});
  });
}

}  // namespace

std::span<const PyMethodDef> pipeline_transformation_methods() {
  using P = AuthoredPipeline;
  static const PyMethodDef methods[] = {
      method_def(kEma, transformation<P, kEma, 4, ema>),
      method_def(kSma, transformation<P, kSma, 4, sma>),
      method_def(kIdentity, transformation<P, kIdentity, 2, identity>),
      method_def(kLagged, transformation<P, kLagged, 3, lagged>),
      method_def(kStandardScale, transformation<P, kStandardScale, 4, standard_scale>),
  };
  return methods;
}

PyObject* scalar_stage_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    using R = ScalarRecipe;
    static PyMethodDef methods[] = {
        method_def(kEma, transformation<R, kEma, 4, ema>),
        method_def(kSma, transformation<R, kSma, 4, sma>),
        method_def(kStageCopy, copy_stage),
        method_def(kStageIdentity, transformation<R, kStageIdentity, 2, identity>),
        method_def(kStageLagged, transformation<R, kStageLagged, 3, lagged>),
        method_def(kStageStandardScale, transformation<R, kStageStandardScale, 4, standard_scale>),
        {}};
    type = new_type<ScalarRecipe>("ScalarStage", kStageNew.doc(),
                                  {{Py_tp_methods, methods}, {Py_tp_new, reinterpret_cast<void*>(&make_stage)}});
  }
  return type;
}

}  // namespace vorn::py
