// The binding layer shared by every class of the module: Python headers under
// the limited API, and the translation of C++ failures into Python exceptions.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorn::py {

// The exception class for broken internal invariants, derived from
// BaseException; created once per process, not a module attribute.
PyObject* panic_exception_type();

// Sets the Python error for the C++ exception being handled: Panic becomes
// PanicException with its message, std::bad_alloc becomes MemoryError,
// anything else PanicException. Call only inside a catch block.
void set_error_from_current_exception();

// Runs `body` and turns any C++ exception into a Python error and `failure`.
template <class F, class R>
R guarded(F&& body, R failure) {
  try {
    return body();
  } catch (...) {
    set_error_from_current_exception();
    return failure;
  }
}

}  // namespace vorn::py
