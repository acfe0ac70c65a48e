#include "python/feature_extractor_spec.hpp"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "engine/features/serde/feature_extractor_spec_json.hpp"
#include "python/spec_builders.hpp"

namespace vorn::py {

Status AuthoredSpec::add(std::vector<FeatureDefinition> definitions) {
  std::vector<FeatureDefinition> all;
  all.reserve(spec.definitions().size() + definitions.size());
  all.insert(all.end(), spec.definitions().begin(), spec.definitions().end());
  std::move(definitions.begin(), definitions.end(), std::back_inserter(all));
  const std::size_t capacity = capacity_explicit ? spec.capacity() : all.size();
  Result<FeatureExtractorSpec> rebuilt = FeatureExtractorSpec::with_metadata(std::move(all), capacity, spec.checksum());
  if (rebuilt) rebuilt = FeatureExtractorSpec::with_order_books(std::move(*rebuilt), spec.order_books());
  if (!rebuilt) return std::unexpected(std::move(rebuilt.error()));
  spec = std::move(*rebuilt);
  return {};
}

Status AuthoredSpec::add_group(FeatureDefinition definition) {
  std::vector<FeatureDefinition> one;
  one.push_back(std::move(definition));
  return add(std::move(one));
}

Status AuthoredSpec::configure_order_book(OrderBookConfig config) {
  std::vector<OrderBookConfig> books;
  books.reserve(spec.order_books().size() + 1);
  books.insert(books.end(), spec.order_books().begin(), spec.order_books().end());
  books.push_back(std::move(config));
  Result<FeatureExtractorSpec> rebuilt = FeatureExtractorSpec::with_order_books(spec, std::move(books));
  if (!rebuilt) return std::unexpected(std::move(rebuilt.error()));
  spec = std::move(*rebuilt);
  return {};
}

PyObject* added(PyObject* self, AuthoredSpec& spec, std::vector<FeatureDefinition> definitions) {
  or_raise(spec.add(std::move(definitions)));
  return Py_NewRef(self);
}

PyObject* added(PyObject* self, AuthoredSpec& spec, FeatureDefinition definition) {
  or_raise(spec.add_group(std::move(definition)));
  return Py_NewRef(self);
}

FeatureDefinition definition(FeatureKey key, std::optional<std::string_view> id) {
  if (!id) return FeatureDefinition::with_default_id(std::move(key));
  return FeatureDefinition{FeatureId{std::string(*id)}, std::move(key)};
}

namespace {

constinit Signature kNew{
    "FeatureExtractorSpec", Receiver::Class, {keyword("capacity", "None"), keyword("checksum", "None")},
    "Declarative feature-vector spec: the ordered list of features an extractor produces, and the\n"
    "parity contract between batch computation in Python and live computation. Author it with the\n"
    "fluent builder methods, then construct a FeatureExtractor from it."};
constinit Signature kFromJson{"from_json", Receiver::Static, {param("json")},
                              "Loads the strict versioned JSON parity artifact."};
constinit Signature kToJson{"to_json", Receiver::Instance, {},
                            "Serializes the spec with the canonical JSON writer."};
constinit Signature kIndicatorCount{
    "indicator_count", Receiver::Instance, {},
    "Number of grouped builder calls. Compatible calls may share one runtime\nderivation after compilation."};
constinit Signature kOutputCount{"output_count", Receiver::Instance, {},
                                 "Number of output cells produced after compilation."};
constinit Signature kFeatureIds{"feature_ids", Receiver::Instance, {},
                                "Active stable feature IDs in canonical raw-vector order."};

PyObject* make(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    const auto [capacity_arg, checksum_arg] = kNew.bind<2>(args, kwargs);
    const std::optional<std::size_t> capacity = optional_integer<std::size_t>(capacity_arg);
    const std::optional<std::string_view> checksum = optional_text(checksum_arg);
    // No definitions: this cannot fail, whatever the capacity.
    FeatureExtractorSpec spec = or_raise(FeatureExtractorSpec::with_metadata(
        {}, capacity.value_or(0), checksum ? std::optional<std::string>(*checksum) : std::nullopt));
    return new_instance(reinterpret_cast<PyObject*>(type), AuthoredSpec{std::move(spec), capacity.has_value()});
  });
}

PyObject* from_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [json] = kFromJson.bind<1>(args, nargs, kwnames);
    const std::string_view document = text(json);
    return new_instance(feature_extractor_spec_type(),
                        AuthoredSpec{or_raise(serde::deserialize_feature_extractor_spec(document)), true});
  });
}

PyObject* to_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kToJson.bind<0>(args, nargs, kwnames);
    Shared<AuthoredSpec> authored = borrow<AuthoredSpec>(self);
    return new_str(or_raise(serde::serialize_feature_extractor_spec(authored->spec)));
  });
}

PyObject* indicator_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kIndicatorCount.bind<0>(args, nargs, kwnames);
    Shared<AuthoredSpec> authored = borrow<AuthoredSpec>(self);
    return PyLong_FromSize_t(authored->spec.indicator_count());
  });
}

PyObject* definition_count(PyObject* self) {
  Shared<AuthoredSpec> authored = borrow<AuthoredSpec>(self);
  return PyLong_FromSize_t(authored->spec.definitions().size());
}

PyObject* output_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kOutputCount.bind<0>(args, nargs, kwnames);
    return definition_count(self);
  });
}

PyObject* feature_ids(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    kFeatureIds.bind<0>(args, nargs, kwnames);
    Shared<AuthoredSpec> authored = borrow<AuthoredSpec>(self);
    const std::vector<FeatureDefinition>& definitions = authored->spec.definitions();
    Ref list = Ref::checked(PyList_New(static_cast<Py_ssize_t>(definitions.size())));
    for (std::size_t i = 0; i < definitions.size(); ++i) {
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), new_str(definitions[i].id.view()));
    }
    return list.release();
  });
}

PyObject* get_capacity(PyObject* self, void*) {
  return guarded([&] {
    Shared<AuthoredSpec> authored = borrow<AuthoredSpec>(self);
    return PyLong_FromSize_t(authored->spec.capacity());
  });
}

PyObject* get_active_feature_count(PyObject* self, void*) {
  return guarded([&] { return definition_count(self); });
}

PyObject* get_checksum(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    Shared<AuthoredSpec> authored = borrow<AuthoredSpec>(self);
    const std::optional<std::string>& checksum = authored->spec.checksum();
    if (!checksum) Py_RETURN_NONE;
    return new_str(*checksum);
  });
}

// The class's methods in order: its own, then the builders.
PyMethodDef* method_table() {
  const PyMethodDef own[] = {method_def(kFromJson, from_json), method_def(kToJson, to_json),
                             method_def(kIndicatorCount, indicator_count),
                             method_def(kOutputCount, output_count), method_def(kFeatureIds, feature_ids)};
  std::vector<PyMethodDef> all(std::begin(own), std::end(own));
  for (std::span<const PyMethodDef> family :
       {context_and_field_methods(), indicator_methods(), order_book_methods(), clock_methods()}) {
    all.insert(all.end(), family.begin(), family.end());
  }
  all.push_back({});
  PyMethodDef* table = new PyMethodDef[all.size()];  // kept for the life of the process
  std::copy(all.begin(), all.end(), table);
  return table;
}

}  // namespace

PyObject* feature_extractor_spec_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    static PyMethodDef* methods = method_table();
    static PyGetSetDef properties[] = {
        {"capacity", get_capacity, nullptr, "Complete configured model width, including trailing reserved cells.",
         nullptr},
        {"active_feature_count", get_active_feature_count, nullptr,
         "Number of configured scalar outputs, excluding reserved cells.", nullptr},
        {"checksum", get_checksum, nullptr, "Opaque checksum metadata from the parity artifact.", nullptr},
        {}};
    type = new_type<AuthoredSpec>("FeatureExtractorSpec", kNew.doc(),
                                  {{Py_tp_methods, methods},
                                   {Py_tp_getset, properties},
                                   {Py_tp_new, reinterpret_cast<void*>(&make)}});
  }
  return type;
}

}  // namespace vorn::py
