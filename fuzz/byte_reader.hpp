// ByteReader: draws bytes, integers and exact decimals from a fuzz input,
// front to back. An exhausted input reads as zeros, so that every input
// decodes to something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/decimal.hpp"

namespace vorn::fuzz {

class ByteReader {
public:
  explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

  bool empty() const { return position_ >= data_.size(); }
  std::uint8_t byte() { return empty() ? 0 : data_[position_++]; }

  // `count` bytes (at most 16), least significant first.
  Decimal::u128 bytes(int count) {
    Decimal::u128 value = 0;
    for (int i = 0; i < count; ++i) value |= static_cast<Decimal::u128>(byte()) << (8 * i);
    return value;
  }

  // A header byte, then the coefficient. Header bits 0-1 give its length (1,
  // 2, 4 or 12 bytes, cut to 96 bits); bits 2-6 the scale 0 to 28, where 29
  // to 31 stand for a negative value of scale 0 to 2.
  Decimal decimal() {
    const std::uint8_t header = byte();
    constexpr int kLengths[] = {1, 2, 4, 12};
    const Decimal::u128 coefficient = bytes(kLengths[header & 3]) & Decimal::kMaxCoefficient;
    const std::uint32_t code = (header >> 2) & 31;
    const bool negative = code > Decimal::kMaxScale;
    return *Decimal::from_parts(coefficient, negative ? code - Decimal::kMaxScale - 1 : code, negative);
  }

private:
  std::span<const std::uint8_t> data_;
  std::size_t position_ = 0;
};

}  // namespace vorn::fuzz
