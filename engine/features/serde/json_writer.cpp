#include "engine/features/serde/json_writer.hpp"

namespace vorn::serde {

std::string pretty_text(const JsonOut& document) {
  // Every text in a spec arrives as valid UTF-8; a broken sequence would be
  // written as U+FFFD rather than abort the write.
  return document.dump(2, ' ', false, JsonOut::error_handler_t::replace);
}

}  // namespace vorn::serde
