// NumPy arrays in and out, through NumPy's C array API loaded from the
// installed NumPy on first use: borrowed 1-D input columns of one exact
// element type, and new float64 or float32 arrays filled from 64-bit values.
// This header needs no NumPy headers; only numpy_arrays.cpp includes them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "python/arguments.hpp"
#include "python/binding.hpp"

namespace vorn::py {

// A 1-D NumPy array of elements T (uint8_t, int64_t or double), borrowed for
// the call. Elements are read by copy, so a misaligned buffer reads
// correctly; only a contiguous column may be read.
template <class T>
struct Column {
  const std::byte* data = nullptr;
  std::size_t size = 0;
  bool contiguous = false;

  T operator[](std::size_t i) const {
    T value;
    std::memcpy(&value, data + i * sizeof(T), sizeof(T));
    return value;
  }
};

// An argument that must be a 1-D array whose dtype NumPy holds equivalent to
// T's (no casting); TypeError "argument '{name}': '{type}' object cannot be
// converted to 'PyArray<T, D>'" otherwise. Contiguity is the caller's check.
template <class T>
Column<T> column(Arg arg);
template <class T>
std::optional<Column<T>> optional_column(Arg arg) {
  if (!arg.given_not_none()) return std::nullopt;
  return column<T>(arg);
}

// A new 1-D array of `values`, as float64 or narrowed to float32 (NaN stays
// NaN, values beyond the float32 range become infinities).
PyObject* vector_array(bool f64, std::span<const double> values);

// The arrays of one vector, as vector_array makes them. The last two arrays
// handed out are kept (two, so that `v = fx.values()` in a loop, which still
// holds the previous array while it asks for the next, finds one free), and
// one is handed out again, refilled, when nothing else holds it any more and
// it still is exactly as it was made: no other reference (no view of it, no
// exported buffer, no container), no weak reference, and the same dtype,
// shape, strides, flags and data. The caller cannot tell it from a new
// array; an array that someone still holds is never written again. (A kept
// array dropped by the caller while weakly referenced is released at the
// next call, so its weak references die then.)
class VectorArrays {
public:
  // A new reference to an array of `values` (new or reused).
  PyObject* copy(bool f64, std::span<const double> values);

private:
  struct Kept {
    Ref array;
    // What `array` looked like when it was made.
    const void* data = nullptr;
    const void* descr = nullptr;
    int flags = 0;
    bool f64 = true;

    bool only_here() const;          // held by no one else
    bool weakly_referenced() const;  // a held array only
    bool reusable(bool f64, std::size_t size) const;
  };

  std::array<Kept, 2> kept_;
  std::size_t next_ = 0;  // the slot a new array takes
};

// The rows of a batch: a C-ordered (rows, width) array of float64 or
// float32, made by NumPy up front (MemoryError when it cannot be had) and
// filled row by row in place.
class OutputBuffer {
public:
  OutputBuffer(bool f64, std::size_t rows, std::size_t width);

  // Copies (or narrows) the first `width` values into row `row`.
  void write_row(std::size_t row, std::span<const double> values);
  // The finished array (new reference).
  PyObject* into_pyarray() { return array_.release(); }

private:
  Ref array_;
  std::byte* data_ = nullptr;
  std::size_t rows_ = 0;
  std::size_t width_ = 0;
  bool f64_ = true;
};

}  // namespace vorn::py
