// A small extension module, `_binding_probe`, built by test_binding.py from
// this file and the binding kit's sources: its class `Probe` hands every
// converter's result back to Python, and borrows itself around callbacks, so
// that the kit can be tested on its own.
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

#include "engine/panic.hpp"
#include "python/arguments.hpp"
#include "python/binding.hpp"
#include "python/classes.hpp"

namespace vorn::py {
namespace {

struct Probe {
  std::int64_t changes = 0;
  std::string label;
};

PyObject* probe_type();

constinit Signature kNew{"Probe", Receiver::Class, {keyword("label", "\"plain\"")},
                         "A probe of the binding kit."};
constinit Signature kTexts{"texts", Receiver::Instance,
                           {param("name"), keyword("source", "\"price\""), keyword("id", "None")},
                           "Echoes (name, source, id)."};
constinit Signature kIntegers{"integers", Receiver::Static,
                              {param("small"), param("signed"), param("unsigned"), param("size", "None")},
                              "Echoes a u8, an i64, a u64 and an optional size."};
constinit Signature kReals{"reals", Receiver::Static, {param("value"), keyword("other", "None")},
                           "Echoes a float and an optional float."};
constinit Signature kLists{"lists", Receiver::Static,
                           {param("counts"), param("pairs"), param("clip", "None")},
                           "Echoes u64 counts, (str, str) pairs and an optional 2-tuple of floats."};
constinit Signature kMapping{"mapping", Receiver::Static, {keyword("entries", "None")},
                             "The size of a dict, or None."};
constinit Signature kMutate{"mutate", Receiver::Instance, {param("callback")},
                            "Calls back under an exclusive borrow, then counts one change."};
constinit Signature kReadWith{"read_with", Receiver::Instance, {param("callback")},
                              "Calls back under a shared borrow."};
constinit Signature kAbsorb{"absorb", Receiver::Instance, {param("other")},
                            "Adds another probe's changes to this one's."};
constinit Signature kChanges{"changes", Receiver::Instance, {}, "The number of changes."};
constinit Signature kFail{"fail", Receiver::Static, {param("kind")},
                          "Raises: 'panic', 'memory', 'other', 'parser' or 'unknown'."};

PyObject* make(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    auto [label] = kNew.bind<1>(args, kwargs);
    return new_instance(reinterpret_cast<PyObject*>(type), Probe{0, std::string(text_or(label, "plain"))});
  });
}

PyObject* optional_str(std::optional<std::string_view> text) {
  if (!text) Py_RETURN_NONE;
  return PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size()));
}

PyObject* texts(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [name, source, id] = kTexts.bind<3>(args, nargs, kwnames);
    const std::string_view a = text(name);
    const std::string_view b = text_or(source, "price");
    const std::optional<std::string_view> c = optional_text(id);
    Ref first = Ref::checked(optional_str(a));
    Ref second = Ref::checked(optional_str(b));
    Ref third = Ref::checked(optional_str(c));
    return PyTuple_Pack(3, first.get(), second.get(), third.get());
  });
}

PyObject* integers(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [small, signed_, unsigned_, size] = kIntegers.bind<4>(args, nargs, kwnames);
    const auto a = integer<std::uint8_t>(small);
    const auto b = integer<std::int64_t>(signed_);
    const auto c = integer<std::uint64_t>(unsigned_);
    const auto d = optional_integer<std::size_t>(size);
    Ref last = d ? Ref::checked(PyLong_FromSize_t(*d)) : Ref::borrow(Py_None);
    return Py_BuildValue("(iLKO)", static_cast<int>(a), static_cast<long long>(b),
                         static_cast<unsigned long long>(c), last.get());
  });
}

PyObject* reals(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [value, other] = kReals.bind<2>(args, nargs, kwnames);
    const double a = real(value);
    const std::optional<double> b = optional_real(other);
    Ref last = b ? Ref::checked(PyFloat_FromDouble(*b)) : Ref::borrow(Py_None);
    return Py_BuildValue("(dO)", a, last.get());
  });
}

PyObject* lists(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [counts, pairs, clip] = kLists.bind<3>(args, nargs, kwnames);
    const auto numbers = sequence(counts, [](Arg item) { return integer<std::uint64_t>(item); });
    const auto texts = sequence(pairs, [](Arg pair) {
      const Fixed<2> items = fixed_sequence<2>(pair);
      return std::pair{owned_text(items[0]), owned_text(items[1])};
    });
    std::optional<std::pair<double, double>> bounds;
    if (clip.given_not_none()) {
      const Fixed<2> items = fixed_tuple<2>(clip);
      bounds = std::pair{real(items[0]), real(items[1])};
    }
    Ref number_list = Ref::checked(PyList_New(0));
    for (std::uint64_t n : numbers) {
      Ref item = Ref::checked(PyLong_FromUnsignedLongLong(n));
      if (PyList_Append(number_list.get(), item.get()) < 0) fail_with_current();
    }
    Ref pair_list = Ref::checked(PyList_New(0));
    for (const auto& [first, second] : texts) {
      Ref item = Ref::checked(Py_BuildValue("(s#s#)", first.data(), static_cast<Py_ssize_t>(first.size()),
                                            second.data(), static_cast<Py_ssize_t>(second.size())));
      if (PyList_Append(pair_list.get(), item.get()) < 0) fail_with_current();
    }
    Ref bound = bounds ? Ref::checked(Py_BuildValue("(dd)", bounds->first, bounds->second))
                       : Ref::borrow(Py_None);
    return PyTuple_Pack(3, number_list.get(), pair_list.get(), bound.get());
  });
}

PyObject* mapping(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    auto [entries] = kMapping.bind<1>(args, nargs, kwnames);
    const std::optional<PyObject*> found = optional_dict(entries);
    if (!found) Py_RETURN_NONE;
    return PyLong_FromSsize_t(PyDict_Size(*found));
  });
}

PyObject* call(PyObject* callback) { return Ref::checked(PyObject_CallObject(callback, nullptr)).release(); }

PyObject* mutate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [callback] = kMutate.bind<1>(args, nargs, kwnames);
    Exclusive<Probe> probe = borrow_mut<Probe>(self);
    Ref result = Ref::steal(call(callback.value));
    ++probe->changes;
    return result.release();
  });
}

PyObject* read_with(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [callback] = kReadWith.bind<1>(args, nargs, kwnames);
    Shared<Probe> probe = borrow<Probe>(self);
    return call(callback.value);
  });
}

PyObject* absorb(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    auto [other] = kAbsorb.bind<1>(args, nargs, kwnames);
    Exclusive<Probe> probe = borrow_mut<Probe>(self);
    Shared<Probe> source = borrow<Probe>(instance_arg(other, probe_type()));
    probe->changes += source->changes;
    Py_RETURN_NONE;
  });
}

PyObject* get_label(PyObject* self, void*) {
  return guarded([&] {
    Shared<Probe> probe = borrow<Probe>(self);
    return PyUnicode_FromStringAndSize(probe->label.data(), static_cast<Py_ssize_t>(probe->label.size()));
  });
}

int set_label(PyObject* self, PyObject* value, void*) {
  return guarded(
      [&] {
        const std::string_view label = text(assigned_value(value));
        Exclusive<Probe> probe = borrow_mut<Probe>(self);
        probe->label = label;
        return 0;
      },
      -1);
}

PyObject* changes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kChanges.bind<0>(args, nargs, kwnames);
    Shared<Probe> probe = borrow<Probe>(self);
    return Py_BuildValue("(Ls#)", static_cast<long long>(probe->changes), probe->label.data(),
                         static_cast<Py_ssize_t>(probe->label.size()));
  });
}

PyObject* fail_as(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    auto [kind] = kFail.bind<1>(args, nargs, kwnames);
    const std::string_view which = text(kind);
    if (which == "panic") panic("invariant broken: probe");
    if (which == "memory") throw std::bad_alloc();
    if (which == "other") throw std::runtime_error("a stray exception");
    if (which == "parser") return or_raise(std::expected<PyObject*, std::string>(std::unexpected("parser says no")));
    throw 42;
  });
}

PyObject* probe_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    static PyMethodDef methods[] = {
        method_def(kTexts, texts),     method_def(kIntegers, integers), method_def(kReals, reals),
        method_def(kLists, lists),     method_def(kMapping, mapping),   method_def(kMutate, mutate),
        method_def(kReadWith, read_with), method_def(kAbsorb, absorb), method_def(kChanges, changes),
        method_def(kFail, fail_as), {}};
    static PyGetSetDef properties[] = {
        {"label", get_label, set_label, "The probe's label.", nullptr},
        {"label_read_only", get_label, nullptr, "The same, read-only.", nullptr},
        {}};
    type = new_type<Probe>("Probe", kNew.doc(),
                           {{Py_tp_methods, methods},
                            {Py_tp_getset, properties},
                            {Py_tp_new, reinterpret_cast<void*>(&make)}});
  }
  return type;
}

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "_binding_probe", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace vorn::py

PyMODINIT_FUNC PyInit__binding_probe(void) {
  using namespace vorn::py;
  return guarded([] {
    Ref module = Ref::checked(PyModule_Create(&module_def));
    if (PyModule_AddObjectRef(module.get(), "Probe", probe_type()) < 0) fail_with_current();
    if (PyModule_AddObjectRef(module.get(), "PanicException", panic_exception_type()) < 0) fail_with_current();
    return module.release();
  });
}
