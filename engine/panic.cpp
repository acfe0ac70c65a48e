#include "engine/panic.hpp"

namespace vorn {

void panic(std::string message) { throw Panic(std::move(message)); }

void unreachable(std::string_view what) {
  std::string message = "internal error: entered unreachable code: ";
  message += what;
  throw Panic(std::move(message));
}

}  // namespace vorn
