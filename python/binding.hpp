// The binding layer's error side, shared by every class of the module: Python
// headers under the limited API, owned references, raising Python exceptions
// from C++ (PythonError), core errors as ValueError, and `guarded`, which keeps
// every C++ exception from crossing the C API.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <expected>
#include <string>
#include <string_view>
#include <utility>

#include "engine/errors.hpp"

namespace vorn::py {

// Thrown once a Python error is set: unwinds to the nearest `guarded`, which
// returns its failure value with that error still set.
struct PythonError {};

// Sets `type` with the message (byte length respected; invalid UTF-8 is
// replaced) and throws PythonError.
[[noreturn]] void fail(PyObject* type, std::string_view message);
// Throws PythonError for the error the interpreter has already set (a
// PanicException if, against its contract, none is set).
[[noreturn]] void fail_with_current();

// The value of a core result, or ValueError with the error's display text
// (MemoryError for storage that could not be obtained).
template <class T>
T or_raise(std::expected<T, VornError>&& result) {
  if (!result) {
    const bool memory = result.error().template holds<vorn_error::StorageUnavailable>();
    fail(memory ? PyExc_MemoryError : PyExc_ValueError, to_string(result.error()));
  }
  if constexpr (!std::is_void_v<T>) return std::move(*result);
}
// The value of a parser result, or ValueError with its message.
template <class T>
T or_raise(std::expected<T, std::string>&& result) {
  if (!result) fail(PyExc_ValueError, result.error());
  if constexpr (!std::is_void_v<T>) return std::move(*result);
}

// An owned (strong) reference, released on scope exit.
class Ref {
public:
  Ref() = default;
  // Takes over a new reference; throws PythonError for nullptr (the call that
  // returned it has set the error).
  static Ref checked(PyObject* object) {
    if (object == nullptr) fail_with_current();
    return Ref(object);
  }
  // Takes over a new reference that may be nullptr.
  static Ref steal(PyObject* object) { return Ref(object); }
  // Adds a reference to a borrowed object.
  static Ref borrow(PyObject* object) {
    Py_XINCREF(object);
    return Ref(object);
  }
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(object_, nullptr); }

private:
  explicit Ref(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

// The interpreter's current error, taken out (the indicator is cleared) so
// that Python can be called meanwhile; `restore` sets it again.
class SavedError {
public:
  SavedError();
  explicit operator bool() const { return static_cast<bool>(type_); }
  PyObject* value() const { return value_.get(); }
  void restore();

private:
  Ref type_;
  Ref value_;
  Ref traceback_;
};

// The exception class for broken internal invariants, derived from
// BaseException; created once per process, not a module attribute.
PyObject* panic_exception_type();

// Sets the Python error for the C++ exception being handled: PythonError
// keeps the error already set, Panic becomes PanicException with its message,
// std::bad_alloc becomes MemoryError, anything else PanicException. Call only
// inside a catch block.
void set_error_from_current_exception();

// Runs `body` and turns any C++ exception into a Python error and `failure`.
template <class F, class R>
R guarded(F&& body, R failure) noexcept {
  try {
    return body();
  } catch (...) {
    set_error_from_current_exception();
    return failure;
  }
}

// The common case: a body returning a new reference, nullptr on failure.
template <class F>
PyObject* guarded(F&& body) noexcept {
  return guarded(std::forward<F>(body), static_cast<PyObject*>(nullptr));
}

// A new str from UTF-8 text of its byte length (embedded NULs kept); throws
// PythonError (UnicodeDecodeError for text that is not UTF-8).
PyObject* new_str(std::string_view text);

// The name of an object's type ("int", "OrderBookEvent"), for messages.
std::string type_name(PyObject* object);

}  // namespace vorn::py
