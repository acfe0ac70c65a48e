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

namespace {

// Sets `type` with a message of `size` bytes; leaves the error of a failed
// message creation set instead.
void set_error(PyObject* type, const char* data, std::size_t size) {
  if (type == nullptr) return;  // the error of the failed type creation stays set
  PyObject* message = PyUnicode_DecodeUTF8(data, static_cast<Py_ssize_t>(size), "replace");
  if (message == nullptr) return;
  PyErr_SetObject(type, message);
  Py_DECREF(message);
}

void set_panic(std::string_view message) {
  set_error(panic_exception_type(), message.data(), message.size());
}

}  // namespace

void fail(PyObject* type, std::string_view message) {
  set_error(type, message.data(), message.size());
  throw PythonError{};
}

void fail_with_current() {
  if (PyErr_Occurred() == nullptr) set_panic("a Python call failed without setting an error");
  throw PythonError{};
}

void set_error_from_current_exception() {
  try {
    throw;
  } catch (const PythonError&) {
    if (PyErr_Occurred() == nullptr) set_panic("a Python call failed without setting an error");
  } catch (const Panic& panic) {
    set_panic(panic.message());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    set_panic(error.what());
  } catch (...) {
    set_panic("unknown internal error");
  }
}

// PyErr_Fetch and PyErr_Restore: deprecated in 3.12 in favour of functions
// that the 3.10 limited API lacks.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
SavedError::SavedError() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  type_ = Ref::steal(type);
  value_ = Ref::steal(value);
  traceback_ = Ref::steal(traceback);
}

void SavedError::restore() {
  PyErr_Restore(type_.release(), value_.release(), traceback_.release());
}
#pragma GCC diagnostic pop

PyObject* new_str(std::string_view text) {
  PyObject* str = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (str == nullptr) fail_with_current();
  return str;
}

std::string type_name(PyObject* object) {
  Ref name = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
  Py_ssize_t size = 0;
  const char* data = name ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
  if (data == nullptr) {
    PyErr_Clear();
    return "object";
  }
  return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace vorn::py
