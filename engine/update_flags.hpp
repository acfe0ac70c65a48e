// UpdateFlags: one byte per vector cell, 1 when the current step wrote the
// cell. Storage is obtained once, fallibly and zero-filled, and never
// reallocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <utility>

namespace vorn {

class UpdateFlags {
public:
  // Every flag 0. None when the storage cannot be obtained.
  static std::optional<UpdateFlags> try_new(std::size_t count) {
    UpdateFlags flags;
    if (count > 0) {
      flags.bytes_.reset(static_cast<std::uint8_t*>(std::calloc(count, 1)));
      if (!flags.bytes_) return std::nullopt;
    }
    flags.count_ = count;
    return flags;
  }

  // A moved-from set has no flags.
  UpdateFlags(UpdateFlags&& other) noexcept
      : bytes_(std::move(other.bytes_)), count_(std::exchange(other.count_, 0)) {}
  UpdateFlags& operator=(UpdateFlags&& other) noexcept {
    bytes_ = std::move(other.bytes_);
    count_ = std::exchange(other.count_, 0);
    return *this;
  }

  std::span<std::uint8_t> bytes() { return {bytes_.get(), count_}; }
  std::span<const std::uint8_t> bytes() const { return {bytes_.get(), count_}; }
  void clear() {
    if (count_ > 0) std::memset(bytes_.get(), 0, count_);
  }

private:
  struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  UpdateFlags() = default;

  std::unique_ptr<std::uint8_t[], Free> bytes_;
  std::size_t count_ = 0;
};

}  // namespace vorn
