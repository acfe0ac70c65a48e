// Writing spec documents: a record is an ordered JSON object whose keys print
// in the order they were added; absent optional keys are left out; the
// document prints with a two-space indent. Numbers JSON cannot hold are
// found before printing.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vorn::serde {

using JsonOut = nlohmann::ordered_json;

// Adds `key` with the written value only when the value is present.
template <class T, class Writer = std::identity>
void put_optional(JsonOut& object, std::string_view key, const std::optional<T>& value,
                  Writer write = {}) {
  if (value) object[std::string(key)] = write(*value);
}

// An array of the written items; "[]" when there are none.
template <class Range, class Writer = std::identity>
JsonOut write_list(const Range& items, Writer write = {}) {
  JsonOut out = JsonOut::array();
  for (const auto& item : items) out.push_back(write(item));
  return out;
}

// The place of the first NaN or infinite number in document order, as
// "model_input.stages[0].mean[2]"; none when every number is finite.
std::optional<std::string> non_finite_number(const JsonOut& document);

// Every entry on its own line, indented two spaces per level, written
// "key": value; "[]" and "{}" for empty containers; strings escaped with
// non-ASCII characters as UTF-8; non-finite numbers as null; no trailing
// newline.
std::string pretty_text(const JsonOut& document);

}  // namespace vorn::serde
