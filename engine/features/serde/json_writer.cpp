#include "engine/features/serde/json_writer.hpp"

#include <cmath>

#include <fmt/format.h>

namespace vorn::serde {

std::optional<std::string> non_finite_number(const JsonOut& document) {
  if (document.is_number_float()) {
    return std::isfinite(document.get<double>()) ? std::nullopt : std::optional<std::string>("");
  }
  if (!document.is_structured()) return std::nullopt;
  std::size_t index = 0;
  for (const auto& [key, value] : document.items()) {
    if (auto inner = non_finite_number(value)) {
      const std::string step = document.is_array() ? fmt::format("[{}]", index) : key;
      const bool nested_key = !inner->empty() && inner->front() != '[';
      return fmt::format("{}{}{}", step, nested_key ? "." : "", *inner);
    }
    ++index;
  }
  return std::nullopt;
}

std::string pretty_text(const JsonOut& document) {
  // Every text in a spec arrives as valid UTF-8; a broken sequence would be
  // written as U+FFFD rather than abort the write.
  return document.dump(2, ' ', false, JsonOut::error_handler_t::replace);
}

}  // namespace vorn::serde
