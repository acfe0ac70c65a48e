#include "python/numpy_arrays.hpp"

#include <charconv>
#include <limits>
#include <string_view>

// One build serves NumPy 1.x and 2.x: compiled against NumPy 2's headers with
// a 1.x feature target, and bound at run time to the installed NumPy's table.
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define NPY_TARGET_VERSION NPY_1_21_API_VERSION
#include <numpy/arrayobject.h>

#include "engine/panic.hpp"

namespace vorn::py {
namespace {

// The module holding the array API capsule: numpy._core.multiarray from
// NumPy 2 on, numpy.core.multiarray before (where importing numpy.core
// from NumPy 2 would warn).
const char* multiarray_module() {
  Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));
  Ref version = Ref::steal(numpy ? PyObject_GetAttrString(numpy.get(), "__version__") : nullptr);
  Py_ssize_t size = 0;
  const char* text = version ? PyUnicode_AsUTF8AndSize(version.get(), &size) : nullptr;
  if (text == nullptr) return nullptr;
  unsigned major = 0;
  if (std::from_chars(text, text + size, major).ec != std::errc()) return nullptr;
  return major >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray";
}

// Binds PyArray_API to the installed NumPy's table; false (with the error
// cleared) when NumPy is missing or its table is one this build cannot use.
bool load_array_api() {
  const char* name = multiarray_module();
  Ref module = Ref::steal(name != nullptr ? PyImport_ImportModule(name) : nullptr);
  Ref capsule = Ref::steal(module ? PyObject_GetAttrString(module.get(), "_ARRAY_API") : nullptr);
  void* table = capsule && PyCapsule_CheckExact(capsule.get()) ? PyCapsule_GetPointer(capsule.get(), nullptr) : nullptr;
  PyErr_Clear();
  if (table == nullptr) return false;
  PyArray_API = static_cast<void**>(table);
  if (NPY_VERSION < PyArray_GetNDArrayCVersion() ||
      NPY_FEATURE_VERSION > static_cast<int>(PyArray_GetNDArrayCFeatureVersion())) {
    PyArray_API = nullptr;
    return false;
  }
  PyArray_RUNTIME_VERSION = static_cast<int>(PyArray_GetNDArrayCFeatureVersion());
  return true;
}

// Loads NumPy's table on first use; a NumPy that cannot be loaded is a
// PanicException.
void require_numpy() {
  if (PyArray_API == nullptr && !load_array_api()) panic("Failed to access NumPy array API capsule");
}

template <class T>
constexpr int type_number() {
  if constexpr (std::is_same_v<T, std::uint8_t>) return NPY_UINT8;
  if constexpr (std::is_same_v<T, std::int64_t>) return NPY_INT64;
  if constexpr (std::is_same_v<T, double>) return NPY_FLOAT64;
}

// The element type's descriptor, made once and kept.
template <class T>
PyArray_Descr* descriptor() {
  static PyArray_Descr* descr = nullptr;
  if (descr == nullptr) descr = PyArray_DescrFromType(type_number<T>());
  if (descr == nullptr) fail_with_current();
  return descr;
}

// A new C-ordered float64 or float32 array of `shape`, uninitialised: every
// caller writes each cell before the array is returned.
// MemoryError when its byte size does not fit the address space.
template <std::size_t N>
Ref new_array(bool f64, std::array<std::size_t, N> shape) {
  require_numpy();
  std::size_t cells = 1;
  std::array<npy_intp, N> dims{};
  const std::size_t limit = static_cast<std::size_t>(std::numeric_limits<npy_intp>::max()) / sizeof(double);
  for (std::size_t i = 0; i < N; ++i) {
    if (shape[i] != 0 && cells > limit / shape[i]) {
      PyErr_NoMemory();
      throw PythonError{};
    }
    cells *= shape[i];
    dims[i] = static_cast<npy_intp>(shape[i]);
  }
  return Ref::checked(PyArray_EMPTY(static_cast<int>(N), dims.data(), f64 ? NPY_FLOAT64 : NPY_FLOAT32, 0));
}

void* data_of(const Ref& array) { return PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())); }

void narrow(std::span<const double> values, float* out) {
  for (std::size_t i = 0; i < values.size(); ++i) out[i] = static_cast<float>(values[i]);
}

// Copies (or narrows) `values` into the cells at `data`.
void fill(void* data, bool f64, std::span<const double> values) {
  if (f64) {
    if (!values.empty()) std::memcpy(data, values.data(), values.size_bytes());
  } else {
    narrow(values, static_cast<float*>(data));
  }
}

}  // namespace

template <class T>
Column<T> column(Arg arg) {
  require_numpy();
  if (!PyArray_Check(arg.value)) fail_conversion(arg, "PyArray<T, D>");
  auto* array = reinterpret_cast<PyArrayObject*>(arg.value);
  // Equivalent dtypes only: same kind, size and byte order, read as they are.
  if (PyArray_NDIM(array) != 1 || !PyArray_EquivTypes(PyArray_DESCR(array), descriptor<T>())) {
    fail_conversion(arg, "PyArray<T, D>");
  }
  return Column<T>{static_cast<const std::byte*>(PyArray_DATA(array)), static_cast<std::size_t>(PyArray_DIM(array, 0)),
                   PyArray_IS_C_CONTIGUOUS(array) || PyArray_IS_F_CONTIGUOUS(array)};
}

template Column<std::uint8_t> column<std::uint8_t>(Arg);
template Column<std::int64_t> column<std::int64_t>(Arg);
template Column<double> column<double>(Arg);

PyObject* vector_array(bool f64, std::span<const double> values) {
  Ref array = new_array<1>(f64, {values.size()});
  fill(data_of(array), f64, values);
  return array.release();
}

bool VectorArrays::Kept::only_here() const { return array && Py_REFCNT(array.get()) == 1; }

bool VectorArrays::Kept::weakly_referenced() const {
  return reinterpret_cast<PyArrayObject_fields*>(array.get())->weakreflist != nullptr;
}

bool VectorArrays::Kept::reusable(bool want_f64, std::size_t size) const {
  if (!only_here() || want_f64 != f64 || weakly_referenced()) return false;
  auto* made = reinterpret_cast<PyArrayObject*>(array.get());
  return PyArray_DATA(made) == data && PyArray_DESCR(made) == descr && PyArray_FLAGS(made) == flags &&
         PyArray_NDIM(made) == 1 && PyArray_DIM(made, 0) == static_cast<npy_intp>(size) &&
         PyArray_STRIDE(made, 0) == static_cast<npy_intp>(f64 ? sizeof(double) : sizeof(float));
}

PyObject* VectorArrays::copy(bool f64, std::span<const double> values) {
  for (Kept& kept : kept_) {
    if (kept.reusable(f64, values.size())) {
      fill(data_of(kept.array), f64, values);
      return Py_NewRef(kept.array.get());
    }
    // Dropped by everyone else but weakly referenced: released now, as it
    // would have been, so that its weak references die (their callbacks may
    // run code).
    if (kept.only_here() && kept.weakly_referenced()) kept.array = Ref();
  }
  Ref made = Ref::steal(vector_array(f64, values));
  auto* array = reinterpret_cast<PyArrayObject*>(made.get());
  Kept& kept = kept_[next_];
  next_ = (next_ + 1) % kept_.size();
  kept.data = PyArray_DATA(array);
  kept.descr = PyArray_DESCR(array);
  kept.flags = PyArray_FLAGS(array);
  kept.f64 = f64;
  // The array it replaces is released last, when `made` goes: its release may
  // run code.
  std::swap(kept.array, made);
  return Py_NewRef(kept.array.get());
}

OutputBuffer::OutputBuffer(bool f64, std::size_t rows, std::size_t width)
    : array_(new_array<2>(f64, {rows, width})),
      data_(static_cast<std::byte*>(data_of(array_))),
      rows_(rows),
      width_(width),
      f64_(f64) {}

void OutputBuffer::write_row(std::size_t row, std::span<const double> values) {
  if (row >= rows_ || values.size() != width_) panic("a batch row takes exactly one value per output cell");
  if (f64_) {
    if (width_ > 0) std::memcpy(data_ + row * width_ * sizeof(double), values.data(), values.size_bytes());
  } else {
    narrow(values, reinterpret_cast<float*>(data_ + row * width_ * sizeof(float)));
  }
}

}  // namespace vorn::py
