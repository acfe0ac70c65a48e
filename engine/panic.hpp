// Broken internal invariants: the one exception type that aborts the current
// call with a fixed message. The Python boundary turns it into PanicException.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace vorn {

class Panic : public std::exception {
public:
  explicit Panic(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

private:
  std::string message_;
};

[[noreturn]] void panic(std::string message);

// "internal error: entered unreachable code: {what}"
[[noreturn]] void unreachable(std::string_view what);

}  // namespace vorn
