#include "python/arguments.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include <fmt/format.h>

#include "engine/panic.hpp"

namespace vorn::py {
namespace {

// Sequences reserve at most this many items up front; a larger one grows.
constexpr std::size_t kMaxReservedItems = 4096;

PyObject* required(Arg arg) {
  if (arg.value == nullptr) panic(fmt::format("argument '{}' was left out but has no default", arg.name));
  return arg.value;
}

std::string prefix(Arg arg) {
  return arg.name.empty() ? std::string() : fmt::format("argument '{}': ", arg.name);
}

// A str object as UTF-8, for messages ("?" when it is none).
std::string utf8_or_placeholder(PyObject* object) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_Check(object) ? PyUnicode_AsUTF8AndSize(object, &size) : nullptr;
  if (data == nullptr) {
    PyErr_Clear();
    return "?";
  }
  return std::string(data, static_cast<std::size_t>(size));
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": how the interpreter lists names.
std::string name_list(const std::vector<std::string_view>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    fmt::format_to(std::back_inserter(out), "'{}'", names[i]);
  }
  return out;
}

}  // namespace

// ---- Signature --------------------------------------------------------------

void Signature::bind_fast(Values& values, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  // Only the parameters' slots, one by one: clearing the whole array is a
  // string instruction that costs more than the binding.
  for (std::size_t i = 0; i < count_; ++i) values[i] = nullptr;
  if (kwnames != nullptr && kwnames == shape_kwnames_ && nargs == shape_nargs_) {
    // The shape bound before: every check it passed then passes again.
    for (Py_ssize_t i = 0; i < nargs; ++i) values[static_cast<std::size_t>(i)] = args[i];
    const Py_ssize_t count = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < count; ++k) values[shape_slots_[static_cast<std::size_t>(k)]] = args[nargs + k];
    return;
  }
  check_positional(nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) values[static_cast<std::size_t>(i)] = args[i];
  if (kwnames == nullptr) {
    check_missing(values);
    return;
  }
  const Py_ssize_t count = PyTuple_Size(kwnames);
  std::array<std::uint8_t, kMaxParams> slots{};
  for (Py_ssize_t k = 0; k < count; ++k) {
    PyObject* keyword = PyTuple_GetItem(kwnames, k);
    slots[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(place_keyword(values, keyword, args[nargs + k]));
  }
  check_missing(values);
  Py_INCREF(kwnames);
  PyObject* replaced = std::exchange(shape_kwnames_, kwnames);
  shape_nargs_ = nargs;
  shape_slots_ = slots;
  Py_XDECREF(replaced);
}

void Signature::bind_tuple(Values& values, PyObject* args, PyObject* kwargs) {
  for (std::size_t i = 0; i < count_; ++i) values[i] = nullptr;
  const Py_ssize_t nargs = args == nullptr ? 0 : PyTuple_Size(args);
  check_positional(nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) values[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* keyword = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &keyword, &value)) place_keyword(values, keyword, value);
  }
  check_missing(values);
}

void Signature::check_positional(Py_ssize_t nargs) const {
  if (static_cast<std::size_t>(nargs) <= positional_) return;
  const auto required_count = static_cast<std::size_t>(
      std::count_if(params_.begin(), params_.begin() + static_cast<std::ptrdiff_t>(positional_),
                    [](const Param& p) { return p.required(); }));
  const std::string takes =
      required_count == positional_
          ? fmt::format("{} positional argument{}", positional_, positional_ == 1 ? "" : "s")
          : fmt::format("from {} to {} positional arguments", required_count, positional_);
  fail(PyExc_TypeError,
       fmt::format("{}() takes {} but {} {} given", name_, takes, nargs, nargs == 1 ? "was" : "were"));
}

std::size_t Signature::place_keyword(Values& values, PyObject* keyword, PyObject* value) {
  const std::size_t index = find(keyword);
  if (index == count_) {
    fail(PyExc_TypeError, fmt::format("{}() got an unexpected keyword argument '{}'", name_,
                                      utf8_or_placeholder(keyword)));
  }
  if (values[index] != nullptr) {
    fail(PyExc_TypeError,
         fmt::format("{}() got multiple values for argument '{}'", name_, params_[index].name));
  }
  values[index] = value;
  return index;
}

std::size_t Signature::find(PyObject* keyword) {
  if (count_ > 0 && interned_[0] == nullptr) {
    std::array<PyObject*, kMaxParams> made{};
    for (std::size_t i = 0; i < count_; ++i) {
      made[i] = PyUnicode_FromStringAndSize(params_[i].name.data(),
                                            static_cast<Py_ssize_t>(params_[i].name.size()));
      if (made[i] == nullptr) {
        for (PyObject* name : made) Py_XDECREF(name);
        fail_with_current();
      }
      PyUnicode_InternInPlace(&made[i]);
    }
    interned_ = made;  // kept for the life of the process
  }
  // Call sites pass interned keyword names: identity finds them.
  for (std::size_t i = 0; i < count_; ++i) {
    if (interned_[i] == keyword) return i;
  }
  if (PyUnicode_Check(keyword)) {
    for (std::size_t i = 0; i < count_; ++i) {
      if (PyUnicode_Compare(keyword, interned_[i]) == 0) return i;
    }
  }
  return count_;
}

void Signature::check_missing(const Values& values) const {
  bool complete = true;  // the common case, checked without building the message lists
  for (std::size_t i = 0; i < count_; ++i) complete = complete && (values[i] != nullptr || !params_[i].required());
  if (complete) return;
  std::vector<std::string_view> positional;
  std::vector<std::string_view> keyword_only;
  for (std::size_t i = 0; i < count_; ++i) {
    if (values[i] != nullptr || !params_[i].required()) continue;
    (params_[i].keyword_only ? keyword_only : positional).push_back(params_[i].name);
  }
  const bool is_positional = !positional.empty();
  const auto& missing = is_positional ? positional : keyword_only;
  if (missing.empty()) return;
  fail(PyExc_TypeError,
       fmt::format("{}() missing {} required {} argument{}: {}", name_, missing.size(),
                   is_positional ? "positional" : "keyword-only", missing.size() == 1 ? "" : "s",
                   name_list(missing)));
}

void Signature::check_count(std::size_t n) const {
  if (n != count_) panic(fmt::format("{}() has {} parameters but was bound as {}", name_, count_, n));
}

const char* Signature::doc() {
  if (full_doc_ != nullptr) return full_doc_;
  std::string text(name_);
  text += '(';
  bool first = true;
  if (receiver_ == Receiver::Instance) {
    text += "$self";
    first = false;
  }
  bool star = false;
  for (std::size_t i = 0; i < count_; ++i) {
    const Param& p = params_[i];
    if (!first) text += ", ";
    first = false;
    if (p.keyword_only && !star) {
      text += "*, ";
      star = true;
    }
    text += p.name;
    if (!p.required()) {
      text += '=';
      text += p.default_text;
    }
  }
  text += ")\n--\n\n";
  text += doc_;
  char* stored = new char[text.size() + 1];  // kept for the life of the process
  std::memcpy(stored, text.c_str(), text.size() + 1);
  full_doc_ = stored;
  return full_doc_;
}

// ---- converters ---------------------------------------------------------------

void reraise_for(Arg arg) {
  if (arg.name.empty() || !PyErr_ExceptionMatches(PyExc_TypeError)) fail_with_current();
  const SavedError error;
  Ref message = Ref::steal(error.value() == nullptr ? PyUnicode_FromString("") : PyObject_Str(error.value()));
  if (!message) fail_with_current();
  fail(PyExc_TypeError, prefix(arg) + utf8_or_placeholder(message.get()));
}

void fail_conversion(Arg arg, std::string_view target) {
  fail(PyExc_TypeError, fmt::format("{}'{}' object cannot be converted to '{}'", prefix(arg),
                                    type_name(arg.value), target));
}

std::string_view text(Arg arg) {
  PyObject* value = required(arg);
  if (!PyUnicode_Check(value)) fail_conversion(arg, "PyString");
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &size);
  if (data == nullptr) reraise_for(arg);  // a lone surrogate: UnicodeEncodeError
  return std::string_view(data, static_cast<std::size_t>(size));
}

std::string owned_text(Arg arg) { return std::string(text(arg)); }

std::string_view text_or(Arg arg, std::string_view fallback) {
  return arg.given() ? text(arg) : fallback;
}

std::optional<std::string_view> optional_text(Arg arg) {
  if (!arg.given_not_none()) return std::nullopt;
  return text(arg);
}

Ref index_of(Arg arg) {
  Ref index = Ref::steal(PyNumber_Index(required(arg)));
  if (!index) reraise_for(arg);
  return index;
}

void fail_too_big() { fail(PyExc_OverflowError, "int too big to convert"); }

double real(Arg arg) {
  const double value = PyFloat_AsDouble(required(arg));
  if (value == -1.0 && PyErr_Occurred() != nullptr) reraise_for(arg);
  return value;
}

PyObject* dict(Arg arg) {
  PyObject* value = required(arg);
  if (!PyDict_Check(value)) fail_conversion(arg, "PyDict");
  return value;
}

std::optional<PyObject*> optional_dict(Arg arg) {
  if (!arg.given_not_none()) return std::nullopt;
  return dict(arg);
}

void check_sequence(Arg arg) {
  PyObject* value = required(arg);
  if (PyUnicode_Check(value)) fail(PyExc_TypeError, prefix(arg) + "Can't extract `str` to `Vec`");
  if (!PySequence_Check(value)) fail_conversion(arg, "Sequence");
}

Items::Items(Arg arg) : arg_(arg) {
  check_sequence(arg);
  const Py_ssize_t size = PySequence_Size(arg.value);
  if (size < 0) {
    PyErr_Clear();  // no length: grow as the items come
  } else {
    size_hint_ = std::min(static_cast<std::size_t>(size), kMaxReservedItems);
  }
  iterator_ = Ref::steal(PyObject_GetIter(arg.value));
  if (!iterator_) reraise_for(arg);
}

Ref Items::next() {
  Ref item = Ref::steal(PyIter_Next(iterator_.get()));
  if (!item && PyErr_Occurred() != nullptr) reraise_for(arg_);
  return item;
}

Py_ssize_t sequence_length(Arg arg) {
  PyObject* value = required(arg);
  // A str is a sequence of one-character strs; taking "12" as the pair
  // ("1", "2") would hide a mistake.
  if (PyUnicode_Check(value) || !PySequence_Check(value)) fail_conversion(arg, "Sequence");
  const Py_ssize_t length = PySequence_Size(value);
  if (length < 0) reraise_for(arg);
  return length;
}

Py_ssize_t tuple_length(Arg arg) {
  PyObject* value = required(arg);
  if (!PyTuple_Check(value)) fail_conversion(arg, "PyTuple");
  return PyTuple_Size(value);
}

void fail_sequence_length(std::size_t expected, Py_ssize_t got) {
  fail(PyExc_ValueError, fmt::format("expected a sequence of length {} (got {})", expected, got));
}

void fail_tuple_length(std::size_t expected, Py_ssize_t got) {
  fail(PyExc_ValueError,
       fmt::format("expected tuple of length {}, but got tuple of length {}", expected, got));
}

Ref sequence_item(Arg arg, Py_ssize_t index) {
  Ref item = Ref::steal(PySequence_GetItem(arg.value, index));
  if (!item) reraise_for(arg);
  return item;
}

}  // namespace vorn::py
