// What the builder methods of FeatureExtractorSpec share: the ending of every
// feature-adding call, definitions made from keys, and the method-table
// entries of each builder family.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "python/classes.hpp"
#include "python/feature_extractor_spec.hpp"
#include "python/parsers.hpp"

namespace vorn::py {

// Adds the definitions by the rebuild rule and returns `self` (a new
// reference); ValueError with the core error's text otherwise.
PyObject* added(PyObject* self, AuthoredSpec& spec, std::vector<FeatureDefinition> definitions);
PyObject* added(PyObject* self, AuthoredSpec& spec, FeatureDefinition definition);

// The symbol of a name, interned; ValueError with the interner's text.
inline Symbol interned(std::string_view name) { return or_raise(intern_symbol(name)); }

// ValueError `message` when `items` is empty.
template <class T>
void require_items(const std::vector<T>& items, std::string_view message) {
  if (items.empty()) fail(PyExc_ValueError, message);
}

// One definition per item, in item order, each with its key's canonical id.
template <class T, class F>
std::vector<FeatureDefinition> definitions_of(const std::vector<T>& items, F&& key_of) {
  std::vector<FeatureDefinition> out;
  out.reserve(items.size());
  for (const T& item : items) out.push_back(FeatureDefinition::with_default_id(key_of(item)));
  return out;
}

// The key with the explicit id, or with its canonical id when there is none.
FeatureDefinition definition(FeatureKey key, std::optional<std::string_view> id);

// Method-table entries, each family in the class's method order.
std::span<const PyMethodDef> context_and_field_methods();
std::span<const PyMethodDef> indicator_methods();
std::span<const PyMethodDef> order_book_methods();
std::span<const PyMethodDef> clock_methods();

}  // namespace vorn::py
