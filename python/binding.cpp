#include "python/binding.hpp"

#include <exception>
#include <new>

#include "engine/panic.hpp"

namespace vorn::py {

PyObject* panic_exception_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "_vorn.PanicException",
        "Raised when a broken internal invariant aborts a call.", PyExc_BaseException, nullptr);
  }
  return type;
}

static void set_panic(const char* message) {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // the error of the failed creation stays set
  PyErr_SetString(type, message);
}

void set_error_from_current_exception() {
  try {
    throw;
  } catch (const Panic& panic) {
    set_panic(panic.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    set_panic(error.what());
  } catch (...) {
    set_panic("unknown internal error");
  }
}

}  // namespace vorn::py
