#include "python/classes.hpp"

#include <vector>

#include <fmt/format.h>

#include "engine/panic.hpp"

namespace vorn::py {

void BorrowFlag::acquire_shared() {
  if (state_ == kExclusive) fail(PyExc_RuntimeError, "Already mutably borrowed");
  ++state_;
}

void BorrowFlag::acquire_exclusive() {
  if (state_ != 0) fail(PyExc_RuntimeError, "Already borrowed");
  state_ = kExclusive;
}

namespace {

// The `__name__` of a type object.
std::string class_name(PyObject* type) {
  Ref name = Ref::steal(PyObject_GetAttrString(type, "__name__"));
  Py_ssize_t size = 0;
  const char* data = name ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
  if (data == nullptr) fail_with_current();
  return std::string(data, static_cast<std::size_t>(size));
}

PyObject* builtins_name() {
  static PyObject* name = nullptr;
  if (name == nullptr) name = Ref::checked(PyUnicode_InternFromString("builtins")).release();
  return name;
}

// PyType_FromSpec with warnings ignored. A spec name without a dot makes it
// warn (DeprecationWarning) that the type has no __module__; the classes are
// named bare on purpose, and under -W error the warning would fail the import.
PyObject* type_from_spec(PyType_Spec& spec) {
  Ref warnings = Ref::checked(PyImport_ImportModule("warnings"));
  Ref catcher = Ref::checked(PyObject_CallMethod(warnings.get(), "catch_warnings", nullptr));
  Ref entered = Ref::checked(PyObject_CallMethod(catcher.get(), "__enter__", nullptr));
  Ref ignored = Ref::steal(
      PyObject_CallMethod(warnings.get(), "simplefilter", "sO", "ignore", PyExc_DeprecationWarning));
  Ref type = Ref::steal(ignored ? PyType_FromSpec(&spec) : nullptr);
  // Leave the context whatever happened; the first error wins.
  SavedError error;
  Ref exited = Ref::steal(PyObject_CallMethod(catcher.get(), "__exit__", "OOO", Py_None, Py_None, Py_None));
  if (error) {
    PyErr_Clear();
    error.restore();
  }
  if (!type || !exited) fail_with_current();
  return type.release();
}

}  // namespace

PyObject* instance_arg(Arg arg, PyObject* type) {
  if (arg.value == nullptr || !PyObject_TypeCheck(arg.value, reinterpret_cast<PyTypeObject*>(type))) {
    fail_conversion(arg, class_name(type));
  }
  return arg.value;
}

Arg assigned_value(PyObject* value) {
  if (value == nullptr) fail(PyExc_AttributeError, "can't delete attribute");
  return Arg{value, "value"};
}

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
  return guarded([&]() -> PyObject* {
    fail(PyExc_TypeError,
         fmt::format("No constructor defined for {}", class_name(reinterpret_cast<PyObject*>(type))));
  });
}

PyObject* make_type(const char* name, const char* doc, int basic_size, destructor dealloc,
                    std::initializer_list<PyType_Slot> slots) {
  std::vector<PyType_Slot> all{{Py_tp_doc, const_cast<char*>(doc)},
                               {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)}};
  bool has_new = false;
  for (const PyType_Slot& slot : slots) {
    has_new = has_new || slot.slot == Py_tp_new;
    all.push_back(slot);
  }
  if (!has_new) all.push_back({Py_tp_new, reinterpret_cast<void*>(&no_constructor)});
  all.push_back({0, nullptr});
  // Immutable, as built-in types are: no attribute of the class can be set or
  // deleted, so no method (`__new__` above all) can be replaced.
  PyType_Spec spec{name, basic_size, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, all.data()};
  Ref type = Ref::steal(type_from_spec(spec));
  // Without it, reading `__module__` would raise AttributeError; "builtins"
  // keeps the class named bare in every representation.
  set_class_attribute(type.get(), "__module__", builtins_name());
  return type.release();
}

void set_class_attribute(PyObject* type, const char* name, PyObject* value) {
  // The type's own namespace: setattr refuses every name on an immutable type.
  Ref dict = Ref::checked(PyObject_GenericGetDict(type, nullptr));
  if (!PyDict_Check(dict.get())) panic("a type's namespace must be a dict");
  if (PyDict_SetItemString(dict.get(), name, value) < 0) fail_with_current();
  PyType_Modified(reinterpret_cast<PyTypeObject*>(type));
}

PyMethodDef method_def(Signature& signature, FastFunction function) {
  int flags = METH_FASTCALL | METH_KEYWORDS;
  if (signature.receiver() == Receiver::Static) flags |= METH_STATIC;
  return PyMethodDef{signature.name().data(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
                     flags, signature.doc()};
}

}  // namespace vorn::py
