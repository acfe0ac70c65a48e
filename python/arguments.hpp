// The binding layer's argument side: a method's parameters and docstring
// (Signature), the binder that matches a call's positional and keyword
// arguments to them, and the converters from one bound argument (Arg) to a
// C++ value.
//
// Messages: a missing, surplus, repeated or unexpected argument raises
// TypeError naming the function and the argument; a value of the wrong type
// raises TypeError "argument '{name}': ..."; an integer out of range raises
// the interpreter's OverflowError; a fixed-length sequence or tuple of another
// length raises ValueError without the argument prefix.
//
//   constinit Signature kDelta{"delta", Receiver::Static,
//       {param("symbol"), param("timestamp"), param("update_id"), param("changes")},
//       "Builds a delta ..."};
//   auto [symbol, timestamp, update_id, changes] = kDelta.bind<4>(args, nargs, kwnames);
//   std::string_view name = text(symbol);
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "python/binding.hpp"

namespace vorn::py {

inline constexpr std::size_t kMaxParams = 12;

// One parameter. A parameter with a default text is optional: the converter
// decides what leaving it out means (see the `*_or` and `optional_*`
// converters); the text only shows in the text signature.
struct Param {
  std::string_view name;
  bool keyword_only = false;
  std::string_view default_text;  // "None", "\"price\"", "..."; empty: required

  constexpr bool required() const { return default_text.empty(); }
};

// Positional-or-keyword, required or with a default.
constexpr Param param(std::string_view name) { return Param{name, false, {}}; }
constexpr Param param(std::string_view name, std::string_view default_text) {
  return Param{name, false, default_text};
}
// Keyword-only, required or with a default.
constexpr Param keyword(std::string_view name) { return Param{name, true, {}}; }
constexpr Param keyword(std::string_view name, std::string_view default_text) {
  return Param{name, true, default_text};
}

// What a method is called on; decides its text signature.
enum class Receiver : std::uint8_t {
  Instance,  // "name($self, ...)"
  Static,    // "name(...)"
  Class,     // a constructor: the class docstring "ClassName(...)"
};

// One bound argument: the object (borrowed for the call; nullptr when left
// out) and the name that conversion errors carry. An empty name gives
// messages without the "argument '...': " prefix.
struct Arg {
  PyObject* value = nullptr;
  std::string_view name;

  bool given() const { return value != nullptr; }
  bool given_not_none() const { return value != nullptr && value != Py_None; }
  // An item or element of this argument, named like it.
  Arg with(PyObject* item) const { return Arg{item, name}; }
};

class Signature {
public:
  // Checked while compiling (declare signatures `constinit`): keyword-only
  // parameters come last, required positional ones before optional ones.
  // `name` is a string literal: the method table keeps it as the C name.
  constexpr Signature(std::string_view name, Receiver receiver, std::initializer_list<Param> params,
                      std::string_view doc)
      : name_(name), receiver_(receiver), doc_(doc) {
    if (params.size() > kMaxParams) throw "too many parameters";
    for (const Param& p : params) {
      if (count_ > 0 && params_[count_ - 1].keyword_only && !p.keyword_only) {
        throw "a positional parameter follows a keyword-only one";
      }
      if (!p.keyword_only) {
        if (positional_ > 0 && !params_[positional_ - 1].required() && p.required()) {
          throw "a required positional parameter follows an optional one";
        }
        ++positional_;
      }
      params_[count_++] = p;
    }
  }

  // Binds a METH_FASTCALL | METH_KEYWORDS call. N must be the parameter count.
  template <std::size_t N>
  std::array<Arg, N> bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kMaxParams> values;  // the binder clears the parameters' slots
    bind_fast(values, args, nargs, kwnames);
    return named<N>(values);
  }
  // Binds a call given as a tuple and a dict (a constructor's tp_new).
  template <std::size_t N>
  std::array<Arg, N> bind(PyObject* args, PyObject* kwargs) {
    std::array<PyObject*, kMaxParams> values;  // the binder clears the parameters' slots
    bind_tuple(values, args, kwargs);
    return named<N>(values);
  }

  std::string_view name() const { return name_; }
  Receiver receiver() const { return receiver_; }
  // The docstring as the interpreter reads a text signature from it: the
  // signature, a line "--", an empty line and the text. Built on first use and
  // kept for the life of the process.
  const char* doc();

private:
  using Values = std::array<PyObject*, kMaxParams>;
  void bind_fast(Values& values, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
  void bind_tuple(Values& values, PyObject* args, PyObject* kwargs);
  void check_positional(Py_ssize_t nargs) const;
  // The parameter slot it took.
  std::size_t place_keyword(Values& values, PyObject* keyword, PyObject* value);
  void check_missing(const Values& values) const;
  std::size_t find(PyObject* keyword);
  void check_count(std::size_t n) const;

  template <std::size_t N>
  std::array<Arg, N> named(const Values& values) const {
    check_count(N);
    std::array<Arg, N> out;
    for (std::size_t i = 0; i < N; ++i) out[i] = Arg{values[i], params_[i].name};
    return out;
  }

  std::string_view name_;
  Receiver receiver_;
  std::string_view doc_;
  std::array<Param, kMaxParams> params_{};
  std::size_t count_ = 0;
  std::size_t positional_ = 0;
  // Made on first use: the parameter names as interned strs, so that keywords
  // are matched by identity; and the full docstring.
  std::array<PyObject*, kMaxParams> interned_{};
  const char* full_doc_ = nullptr;
  // The last call shape that bound: a call site passes the same keyword-name
  // tuple every time, so its keywords' parameter slots are looked up once.
  // The tuple is held (kept for the life of the process) so that its
  // identity cannot pass to another tuple.
  PyObject* shape_kwnames_ = nullptr;
  Py_ssize_t shape_nargs_ = 0;
  std::array<std::uint8_t, kMaxParams> shape_slots_{};
};

// ---- converters ----------------------------------------------------------
// Each takes a bound argument; converters without `or`/`optional` in their
// name require it to be given (the binder has checked required parameters).

// Re-raises the interpreter's current error for `arg`: a TypeError gets the
// argument prefix, any other error passes unchanged. Throws PythonError.
[[noreturn]] void reraise_for(Arg arg);
// TypeError "argument '{name}': '{type}' object cannot be converted to '{target}'".
[[noreturn]] void fail_conversion(Arg arg, std::string_view target);

// A str (or subclass), viewed as UTF-8 with its byte length (embedded NULs
// kept). The view lives as long as the object: for call arguments, the call.
std::string_view text(Arg arg);
// The same, copied: for items, which may die with their container's
// iteration.
std::string owned_text(Arg arg);
// A text default, taken only when the argument is left out (None is refused).
std::string_view text_or(Arg arg, std::string_view fallback);
// A None default: None and leaving out both give nothing.
std::optional<std::string_view> optional_text(Arg arg);

// An integer through the index protocol (int, bool, objects with __index__),
// in the range of T; TypeError for other objects, OverflowError outside.
template <std::integral T>
T integer(Arg arg);
template <std::integral T>
std::optional<T> optional_integer(Arg arg) {
  if (!arg.given_not_none()) return std::nullopt;
  return integer<T>(arg);
}

// A number through the interpreter's float conversion.
double real(Arg arg);
// Inline: the per-event path converts up to four of these per call.
inline std::optional<double> optional_real(Arg arg) {
  if (!arg.given_not_none()) return std::nullopt;
  return real(arg);
}

// A dict (or subclass), borrowed.
PyObject* dict(Arg arg);
std::optional<PyObject*> optional_dict(Arg arg);

// Checks that `arg` is a sequence other than a str: TypeError
// "Can't extract `str` to `Vec`" for a str, "... to 'Sequence'" otherwise.
void check_sequence(Arg arg);
// Iteration over a sequence argument, item by item as new references.
class Items {
public:
  explicit Items(Arg arg);
  // The next item, or an empty Ref at the end.
  Ref next();
  // Items expected, for reserving (bounded; 0 when unknown).
  std::size_t size_hint() const { return size_hint_; }

private:
  Arg arg_;
  Ref iterator_;
  std::size_t size_hint_ = 0;
};

// A list from a sequence argument (never a str), each item converted by
// `convert(Arg)` in iteration order. The item is borrowed only during its
// conversion, so `convert` returns owned values (owned_text, not text).
template <class F>
auto sequence(Arg arg, F&& convert) -> std::vector<std::invoke_result_t<F&, Arg>> {
  Items items(arg);
  std::vector<std::invoke_result_t<F&, Arg>> out;
  out.reserve(items.size_hint());
  while (Ref item = items.next()) out.push_back(convert(arg.with(item.get())));
  return out;
}

// Helpers behind the fixed-length converters below.
Py_ssize_t sequence_length(Arg arg);  // TypeError unless a sequence other than a str
Py_ssize_t tuple_length(Arg arg);     // TypeError unless a tuple
[[noreturn]] void fail_sequence_length(std::size_t expected, Py_ssize_t got);
[[noreturn]] void fail_tuple_length(std::size_t expected, Py_ssize_t got);
Ref sequence_item(Arg arg, Py_ssize_t index);

// The N items of a fixed-length sequence or tuple, owned, each named like it.
template <std::size_t N>
class Fixed {
public:
  // Takes the items of `arg`, whose length has been checked.
  explicit Fixed(Arg arg) : name_(arg.name) {
    for (std::size_t i = 0; i < N; ++i) refs_[i] = sequence_item(arg, static_cast<Py_ssize_t>(i));
  }
  Arg operator[](std::size_t i) const { return Arg{refs_[i].get(), name_}; }

private:
  std::array<Ref, N> refs_;
  std::string_view name_;
};

// A sequence of N items (a list, a tuple, ...; never a str: "12" is no pair);
// ValueError "expected a sequence of length N (got n)".
template <std::size_t N>
Fixed<N> fixed_sequence(Arg arg) {
  const Py_ssize_t length = sequence_length(arg);
  if (length != static_cast<Py_ssize_t>(N)) fail_sequence_length(N, length);
  return Fixed<N>(arg);
}

// A tuple (or subclass) only; ValueError "expected tuple of length N, but got
// tuple of length n".
template <std::size_t N>
Fixed<N> fixed_tuple(Arg arg) {
  const Py_ssize_t length = tuple_length(arg);
  if (length != static_cast<Py_ssize_t>(N)) fail_tuple_length(N, length);
  return Fixed<N>(arg);
}

// ---- integer conversion ----------------------------------------------------

// The argument as an exact int (new reference) through __index__.
Ref index_of(Arg arg);
// OverflowError "int too big to convert", the interpreter's text.
[[noreturn]] void fail_too_big();

template <std::integral T>
T integer(Arg arg) {
  // An exact int is its own index; anything else goes through __index__.
  const bool exact = arg.value != nullptr && PyLong_CheckExact(arg.value);
  const Ref converted = exact ? Ref() : index_of(arg);
  PyObject* index = exact ? arg.value : converted.get();
  if constexpr (std::is_signed_v<T>) {
    // The overflow-reporting conversion reads a multi-digit int directly
    // (PyLong_AsLongLong goes through a byte array on some interpreters); an
    // int out of range goes on to PyLong_AsLongLong for the interpreter's own
    // error.
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(index, &overflow);
    if (overflow != 0) value = PyLong_AsLongLong(index);
    if (value == -1 && PyErr_Occurred() != nullptr) fail_with_current();
    if constexpr (sizeof(T) < sizeof(long long)) {
      if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) fail_too_big();
    }
    return static_cast<T>(value);
  } else {
    if constexpr (sizeof(T) < sizeof(long long)) {
      // The signed conversion is the cheaper call; a negative or huge int
      // goes on to the unsigned one below for the interpreter's own error.
      int overflow = 0;
      const long long small = PyLong_AsLongLongAndOverflow(index, &overflow);
      if (small == -1 && overflow == 0 && PyErr_Occurred() != nullptr) fail_with_current();
      if (overflow == 0 && small >= 0) {
        if (static_cast<unsigned long long>(small) > std::numeric_limits<T>::max()) fail_too_big();
        return static_cast<T>(small);
      }
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(index);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) fail_with_current();
    if constexpr (sizeof(T) < sizeof(unsigned long long)) {
      if (value > std::numeric_limits<T>::max()) fail_too_big();
    }
    return static_cast<T>(value);
  }
}

}  // namespace vorn::py
