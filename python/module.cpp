// Module initialisation: PyInit__vorn, the classes in registration order, the
// integer constants of the scalar event interface and the module's __all__.
#include <atomic>
#include <cstdint>

#include "python/binding.hpp"
#include "python/feature_extractor.hpp"
#include "python/feature_extractor_spec.hpp"
#include "python/model_input_pipeline.hpp"
#include "python/order_book.hpp"
#include "python/pipeline_builders.hpp"
#include "python/pipeline_spec.hpp"
#include "python/warmup_policy.hpp"

namespace vorn::py {
namespace {

struct ClassEntry {
  const char* name;
  PyObject* (*type)();  // borrowed type object, created on first use
};

// Registered in this order; each class joins when it is built.
constexpr ClassEntry kClasses[] = {
    {"OrderBookEvent", order_book_event_type},
    {"WarmupPolicy", warmup_policy_type},
    {"FeatureExtractorSpec", feature_extractor_spec_type},
    {"PipelineSpec", pipeline_spec_type},
    {"ScalarStage", scalar_stage_type},
    {"FeatureExtractor", feature_extractor_type},
    {"ModelInputPipeline", model_input_pipeline_type},
};

struct ConstantEntry {
  const char* name;
  std::uint8_t value;
};

constexpr ConstantEntry kConstants[] = {
    {"KIND_PRICE", 0},         {"KIND_VOLUME", 1},        {"KIND_TRADE", 2},
    {"KIND_ORDERBOOK", 3},     {"KIND_TIME", 4},          {"SIDE_AGGRESSOR_BUY", 0},
    {"SIDE_AGGRESSOR_SELL", 1},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_vorn",
    "",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

std::atomic<std::int64_t> first_interpreter{-1};
PyObject* cached_module = nullptr;

// Appends `name` to __all__ (creating it on first use) and sets the attribute;
// steals `value`.
int add_exported(PyObject* module, const char* name, PyObject* value) {
  if (value == nullptr) return -1;
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (all == nullptr) {
    PyErr_Clear();
    all = PyList_New(0);
    if (all == nullptr || PyModule_AddObjectRef(module, "__all__", all) < 0) {
      Py_XDECREF(all);
      Py_DECREF(value);
      return -1;
    }
  }
  PyObject* text = PyUnicode_FromString(name);
  int status = text == nullptr ? -1 : PyList_Append(all, text);
  Py_XDECREF(text);
  Py_DECREF(all);
  if (status == 0) status = PyModule_AddObjectRef(module, name, value);
  Py_DECREF(value);
  return status;
}

int make_def(PyObject* module) {
  for (const ClassEntry& entry : kClasses) {
    PyObject* type = entry.type();
    if (type == nullptr) return -1;
    Py_INCREF(type);
    if (add_exported(module, entry.name, type) < 0) return -1;
  }
  for (const ConstantEntry& entry : kConstants) {
    if (add_exported(module, entry.name, PyLong_FromUnsignedLong(entry.value)) < 0) return -1;
  }
  return 0;
}

PyObject* init_module() {
  std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1 && PyErr_Occurred()) return nullptr;
  std::int64_t unset = -1;
  if (!first_interpreter.compare_exchange_strong(unset, id) && unset != id) {
    PyErr_SetString(PyExc_ImportError,
                    "_vorn does not support sub-interpreters: it was already initialised "
                    "by another interpreter of this process");
    return nullptr;
  }
  if (cached_module != nullptr) {
    Py_INCREF(cached_module);
    return cached_module;
  }
  Ref module = Ref::checked(PyModule_Create(&module_def));
  if (make_def(module.get()) < 0) return nullptr;
  Py_INCREF(module.get());
  cached_module = module.get();
  return module.release();
}

}  // namespace
}  // namespace vorn::py

PyMODINIT_FUNC PyInit__vorn(void) {
  return vorn::py::guarded([] { return vorn::py::init_module(); }, static_cast<PyObject*>(nullptr));
}
