#include "python/warmup_policy.hpp"

#include <optional>

#include "python/classes.hpp"

namespace vorn::py {
namespace {

constexpr const char* kDoc = "Window-indicator warm-up behavior.";

bool is_member(PyObject* object) {
  return PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(warmup_policy_type()));
}

PyObject* repr(PyObject* self) {
  return guarded([&] {
    return PyUnicode_FromString(value_of<WarmupPolicy>(self) == WarmupPolicy::FirstValue
                                    ? "WarmupPolicy.FIRST_VALUE"
                                    : "WarmupPolicy.FULL_WINDOW");
  });
}

PyObject* to_int(PyObject* self) {
  return guarded([&] { return PyLong_FromLong(static_cast<long>(value_of<WarmupPolicy>(self))); });
}

// The value of a member, or of an object that converts to a signed 64-bit
// integer; nothing for any other object.
std::optional<long long> comparable_value(PyObject* other) {
  if (is_member(other)) return static_cast<long long>(value_of<WarmupPolicy>(other));
  Ref index = Ref::steal(PyNumber_Index(other));
  const long long value = index ? PyLong_AsLongLong(index.get()) : -1;
  if (value == -1 && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return value;
}

PyObject* compare(PyObject* self, PyObject* other, int op) {
  return guarded([&]() -> PyObject* {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    const std::optional<long long> value = comparable_value(other);
    if (!value) Py_RETURN_NOTIMPLEMENTED;
    const bool equal = *value == static_cast<long long>(value_of<WarmupPolicy>(self));
    return PyBool_FromLong(equal == (op == Py_EQ));
  });
}

void add_member(PyObject* type, const char* name, WarmupPolicy value) {
  Ref member = Ref::checked(new_instance(type, value));
  set_class_attribute(type, name, member.get());
}

}  // namespace

PyObject* warmup_policy_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    Ref made = Ref::checked(new_type<WarmupPolicy>(
        "WarmupPolicy", kDoc,
        {{Py_tp_repr, reinterpret_cast<void*>(&repr)},
         {Py_nb_int, reinterpret_cast<void*>(&to_int)},
         {Py_tp_richcompare, reinterpret_cast<void*>(&compare)}}));
    add_member(made.get(), "FIRST_VALUE", WarmupPolicy::FirstValue);
    add_member(made.get(), "FULL_WINDOW", WarmupPolicy::FullWindow);
    type = made.release();
  }
  return type;
}

WarmupPolicy warmup_policy_or(Arg arg, WarmupPolicy fallback) {
  if (!arg.given()) return fallback;
  return value_of<WarmupPolicy>(instance_arg(arg, warmup_policy_type()));
}

}  // namespace vorn::py
