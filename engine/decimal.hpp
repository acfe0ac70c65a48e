// Exact decimal value: a 96-bit unsigned coefficient, a sign and a scale of 0
// to 28 (value = ±coefficient × 10^-scale). Parsed exactly from text, stored
// as parsed (1.50 keeps its scale), compared by value, with checked
// arithmetic whose failures carry fixed texts. A plain 16-byte value.
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace vorn {

enum class DecimalFault : std::uint8_t {
  AdditionOverflow,        // "Addition overflowed"
  SubtractionOverflow,     // "Subtraction overflowed"
  MultiplicationOverflow,  // "Multiplication overflowed"
  DivisionOverflow,        // "Division overflowed"
  DivisionByZero,          // "Division by zero"
};
std::string_view fault_text(DecimalFault fault);

template <class T>
using DecimalResult = std::expected<T, DecimalFault>;

class Decimal {
public:
  using u128 = unsigned __int128;
  static constexpr std::uint32_t kMaxScale = 28;
  // 2^96 - 1, the largest coefficient.
  static constexpr u128 kMaxCoefficient = (static_cast<u128>(1) << 96) - 1;

  constexpr Decimal() = default;  // zero, scale 0

  static Decimal from_int(std::int64_t value);
  // None when the coefficient exceeds 96 bits or the scale exceeds 28.
  static std::optional<Decimal> from_parts(u128 coefficient, std::uint32_t scale, bool negative);

  // Exact text parser: an optional sign, digits with at most one '.', at least
  // one digit. Never drops a digit; fails when the value cannot be held
  // exactly. Failure texts begin "Invalid decimal: ".
  static std::expected<Decimal, std::string> parse(std::string_view text);

  // Stored form, keeping the scale: 1.50 prints "1.50".
  std::string to_string() const;
  // Normalised form: no trailing fractional zeros, zero (of any sign) as "0".
  std::string to_normalized_string() const;
  // Same value without trailing fractional zeros; negative zero becomes zero.
  Decimal normalized() const;

  u128 coefficient() const { return (static_cast<u128>(hi_) << 64) | lo_; }
  std::uint32_t scale() const { return scale_; }
  bool is_sign_negative() const { return negative_; }
  bool is_zero() const { return lo_ == 0 && hi_ == 0; }
  // Strictly below zero (negative zero is not).
  bool is_negative() const { return negative_ && !is_zero(); }
  bool is_positive() const { return !negative_ && !is_zero(); }

  // Comparison by value: 1.5 == 1.50, -0 == 0.
  friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b);
  friend bool operator==(const Decimal& a, const Decimal& b) {
    return (a <=> b) == std::strong_ordering::equal;
  }

  // Checked arithmetic. An exact result keeps its natural scale (the larger
  // of the two for add and sub, their sum for mul). A result that needs more
  // than 96 bits or 28 fractional digits is rounded half to even to the
  // largest scale that fits; overflow is reported only when scale 0 cannot
  // hold it. A zero result is negative only as -0 + -0 (or -0 - 0) and, for
  // mul and div, when exactly one operand is negative.
  DecimalResult<Decimal> checked_add(const Decimal& other) const;
  DecimalResult<Decimal> checked_sub(const Decimal& other) const;
  DecimalResult<Decimal> checked_mul(const Decimal& other) const;
  // An exact quotient takes its smallest scale not below this scale minus
  // other's (nor 0): 1.50 / 2 = 0.75, 2.0 / 1 = 2.0, 100 / 0.5 = 200; an
  // inexact one keeps as many digits as fit.
  DecimalResult<Decimal> checked_div(const Decimal& other) const;
  // Truncated remainder: the sign of the dividend, exact, at the larger scale.
  DecimalResult<Decimal> checked_rem(const Decimal& other) const;
  Decimal abs() const;

  // Correctly rounded conversion to the nearest 64-bit float.
  double to_f64() const;
  // Truncated toward zero; none when the result is negative or above 2^64 - 1.
  std::optional<std::uint64_t> to_u64() const;

private:
  std::uint64_t lo_ = 0;
  std::uint32_t hi_ = 0;
  std::uint8_t scale_ = 0;
  bool negative_ = false;
};

static_assert(sizeof(Decimal) == 16);

// Sum from zero, in order.
DecimalResult<Decimal> checked_sum(std::span<const Decimal> values);

}  // namespace vorn

// "{}" prints the stored form.
template <>
struct fmt::formatter<vorn::Decimal> : fmt::formatter<std::string_view> {
  auto format(const vorn::Decimal& value, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(value.to_string(), ctx);
  }
};
