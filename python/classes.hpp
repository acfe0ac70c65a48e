// The binding layer's class side: heap types made with PyType_FromSpec whose
// instances hold one C++ value (Instance<T>), method tables built from
// Signatures, and the shared and exclusive borrows that a method holds on its
// object for the length of a call.
//
//   PyObject* thing_type() {                     // borrowed; made once per process
//     static PyObject* type = nullptr;
//     if (type == nullptr) {
//       static PyMethodDef methods[] = {method_def(kGet, get), {}};
//       type = new_type<Thing>("Thing", kThingDoc, {{Py_tp_methods, methods}});
//     }
//     return type;
//   }
//   PyObject* get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
//     return guarded([&] {
//       auto [key] = kGet.bind<1>(args, nargs, kwnames);
//       Shared<Thing> thing = borrow<Thing>(self);  // RuntimeError if borrowed mutably
//       ...
//     });
//   }
#pragma once

#include <cstdint>
#include <initializer_list>
#include <new>
#include <type_traits>
#include <string_view>
#include <utility>

#include "python/arguments.hpp"
#include "python/binding.hpp"

namespace vorn::py {

// The borrow state of one object: free, shared by some calls, or held
// exclusively by one. Conflicts are refused with RuntimeError before the call
// changes anything: "Already borrowed" (exclusive wanted) or "Already mutably
// borrowed" (shared wanted while an exclusive borrow is held).
class BorrowFlag {
public:
  void acquire_shared();
  void acquire_exclusive();
  void release_shared() { --state_; }
  void release_exclusive() { state_ = 0; }

private:
  static constexpr std::int64_t kExclusive = -1;
  std::int64_t state_ = 0;  // > 0: that many shared borrows
};

// The memory layout of every object of the module's classes. Immutable
// classes read `value` without borrowing.
template <class T>
struct Instance {
  PyObject_HEAD
  BorrowFlag borrow;
  T value;
};

template <class T>
Instance<T>* instance(PyObject* self) {
  return reinterpret_cast<Instance<T>*>(self);
}

// The C++ value of an object known to be of T's class.
template <class T>
T& value_of(PyObject* self) {
  return instance<T>(self)->value;
}

// A shared borrow: read access until it goes out of scope.
template <class T>
class Shared {
public:
  explicit Shared(PyObject* self) : instance_(instance<T>(self)) { instance_->borrow.acquire_shared(); }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  ~Shared() { instance_->borrow.release_shared(); }
  const T& operator*() const { return instance_->value; }
  const T* operator->() const { return &instance_->value; }

private:
  Instance<T>* instance_;
};

// An exclusive borrow: write access until it goes out of scope.
template <class T>
class Exclusive {
public:
  explicit Exclusive(PyObject* self) : instance_(instance<T>(self)) {
    instance_->borrow.acquire_exclusive();
  }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
  ~Exclusive() { instance_->borrow.release_exclusive(); }
  T& operator*() const { return instance_->value; }
  T* operator->() const { return &instance_->value; }

private:
  Instance<T>* instance_;
};

template <class T>
Shared<T> borrow(PyObject* self) {
  return Shared<T>(self);
}
template <class T>
Exclusive<T> borrow_mut(PyObject* self) {
  return Exclusive<T>(self);
}

// An argument that must be an object of `type` (or a subclass), borrowed;
// TypeError "argument '{name}': '{type}' object cannot be converted to
// '{Class}'" otherwise.
PyObject* instance_arg(Arg arg, PyObject* type);

// The value handed to a property's setter, as an argument named "value";
// deleting the property (a null value) raises AttributeError "can't delete
// attribute".
Arg assigned_value(PyObject* value);

// A new object of `type` holding `value`; throws PythonError when allocation
// fails.
template <class T>
PyObject* new_instance(PyObject* type, T value) {
  static_assert(std::is_nothrow_move_constructible_v<T>);
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_alloc));
  PyObject* self = alloc(reinterpret_cast<PyTypeObject*>(type), 0);
  if (self == nullptr) fail_with_current();
  new (&instance<T>(self)->borrow) BorrowFlag();
  new (&instance<T>(self)->value) T(std::move(value));
  return self;
}

// tp_dealloc of Instance<T>.
template <class T>
void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  instance<T>(self)->value.~T();
  auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free(self);
  Py_DECREF(type);
}

// tp_new of a class without constructor: TypeError "No constructor defined
// for {Class}".
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// A new heap type named `name` (no module prefix) whose objects hold a T,
// with its docstring, dealloc<T>, no_constructor unless `slots` give a
// Py_tp_new, and the given slots. Not subclassable, and immutable: setting or
// deleting a class attribute raises TypeError. Throws PythonError.
PyObject* make_type(const char* name, const char* doc, int basic_size, destructor dealloc,
                    std::initializer_list<PyType_Slot> slots);

// Stores `value` as the class attribute `name` of a type made by make_type
// and not yet handed out (the types are immutable to Python code). Throws
// PythonError.
void set_class_attribute(PyObject* type, const char* name, PyObject* value);

template <class T>
PyObject* new_type(const char* name, const char* doc, std::initializer_list<PyType_Slot> slots) {
  static_assert(alignof(Instance<T>) <= 16, "objects are allocated 16-byte aligned");
  return make_type(name, doc, static_cast<int>(sizeof(Instance<T>)), &dealloc<T>, slots);
}

using FastFunction = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames);

// The method-table entry of a METH_FASTCALL | METH_KEYWORDS function (static
// for Receiver::Static), with the signature's docstring.
PyMethodDef method_def(Signature& signature, FastFunction function);

}  // namespace vorn::py
