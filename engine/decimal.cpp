#include "engine/decimal.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <limits>

#include "engine/panic.hpp"

namespace vorn {
namespace {

using u128 = Decimal::u128;
using u64 = std::uint64_t;

constexpr u128 kMax = Decimal::kMaxCoefficient;
constexpr int kLargestScale = static_cast<int>(Decimal::kMaxScale);

// 10^0 .. 10^38, every power of ten below 2^128.
constexpr std::array<u128, 39> kPow10 = [] {
  std::array<u128, 39> table{};
  table[0] = 1;
  for (std::size_t i = 1; i < table.size(); ++i) table[i] = table[i - 1] * 10;
  return table;
}();

// floor(2^96 / 10^k): a quotient q below it gains k more digits and stays a
// coefficient, since (q + 1) × 10^k ≤ 2^96.
constexpr std::array<u128, 10> kDigitRoom = [] {
  std::array<u128, 10> table{};
  for (std::size_t k = 0; k < table.size(); ++k) table[k] = (kMax + 1) / kPow10[k];
  return table;
}();

// An unsigned 256-bit integer: room for any aligned sum or product of two
// coefficients (at most 2^192).
struct Wide {
  std::array<u64, 4> limb{};  // least significant first

  static Wide from(u128 value) {
    return Wide{{static_cast<u64>(value), static_cast<u64>(value >> 64), 0, 0}};
  }
  bool fits_coefficient() const { return limb[3] == 0 && limb[2] == 0 && (limb[1] >> 32) == 0; }
  u128 low() const { return (static_cast<u128>(limb[1]) << 64) | limb[0]; }
  bool is_zero() const { return (limb[0] | limb[1] | limb[2] | limb[3]) == 0; }

  void add(const Wide& other) {
    u64 carry = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      u128 sum = static_cast<u128>(limb[i]) + other.limb[i] + carry;
      limb[i] = static_cast<u64>(sum);
      carry = static_cast<u64>(sum >> 64);
    }
  }
  // Requires *this >= other.
  void sub(const Wide& other) {
    u64 borrow = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      u128 diff = static_cast<u128>(limb[i]) - other.limb[i] - borrow;
      limb[i] = static_cast<u64>(diff);
      borrow = static_cast<u64>(diff >> 64) & 1;
    }
  }
  // The product must fit 256 bits.
  void mul_small(u64 factor) {
    u64 carry = 0;
    for (auto& part : limb) {
      u128 product = static_cast<u128>(part) * factor + carry;
      part = static_cast<u64>(product);
      carry = static_cast<u64>(product >> 64);
    }
  }
  void mul_pow10(int exponent) {
    for (; exponent > 19; exponent -= 19) mul_small(static_cast<u64>(kPow10[19]));
    mul_small(static_cast<u64>(kPow10[exponent]));
  }
  // Divides in place and returns the remainder.
  u64 div_small(u64 divisor) {
    u128 rest = 0;
    for (std::size_t i = 4; i-- > 0;) {
      u128 current = (rest << 64) | limb[i];
      limb[i] = static_cast<u64>(current / divisor);
      rest = current % divisor;
    }
    return static_cast<u64>(rest);
  }
  int bit_width() const {
    for (std::size_t i = 4; i-- > 0;) {
      if (limb[i] != 0) return static_cast<int>(64 * i) + std::bit_width(limb[i]);
    }
    return 0;
  }
  friend std::strong_ordering operator<=>(const Wide& a, const Wide& b) {
    for (std::size_t i = 4; i-- > 0;) {
      if (a.limb[i] != b.limb[i]) return a.limb[i] <=> b.limb[i];
    }
    return std::strong_ordering::equal;
  }
};

Wide scaled(u128 coefficient, int exponent) {
  Wide value = Wide::from(coefficient);
  if (exponent > 0) value.mul_pow10(exponent);
  return value;
}

Wide multiply(u128 a, u128 b) {
  const u64 a0 = static_cast<u64>(a), a1 = static_cast<u64>(a >> 64);
  const u64 b0 = static_cast<u64>(b), b1 = static_cast<u64>(b >> 64);
  const u128 low = static_cast<u128>(a0) * b0, cross1 = static_cast<u128>(a0) * b1,
             cross2 = static_cast<u128>(a1) * b0, high = static_cast<u128>(a1) * b1;
  Wide result = Wide::from(low);
  result.add(Wide{{0, static_cast<u64>(cross1), static_cast<u64>(cross1 >> 64), 0}});
  result.add(Wide{{0, static_cast<u64>(cross2), static_cast<u64>(cross2 >> 64), 0}});
  result.add(Wide{{0, 0, static_cast<u64>(high), static_cast<u64>(high >> 64)}});
  return result;
}

// Callers have already brought the parts into range.
Decimal make(u128 coefficient, int scale, bool negative) {
  const auto result = Decimal::from_parts(coefficient, static_cast<std::uint32_t>(scale), negative);
  if (!result) panic("decimal parts out of range");
  return *result;
}

// The exact value magnitude × 10^-scale as a decimal: kept when it fits,
// otherwise rounded half to even to the largest scale (at most 28, never
// below 0) whose coefficient fits; the fault when not even scale 0 does.
DecimalResult<Decimal> fit(const Wide& magnitude, int scale, bool negative, DecimalFault fault) {
  if (scale <= kLargestScale && magnitude.fits_coefficient()) {
    return make(magnitude.low(), scale, negative);
  }
  // Dropping d digits with 10^d ≤ 2^(bits - 97) leaves at least 2^96, so
  // start past the largest such d (0.30102 is just below log10(2)).
  const int bits = magnitude.bit_width();
  int drop = std::max({scale - kLargestScale, 1, bits > 97 ? (bits - 97) * 30102 / 100000 + 1 : 1});
  for (; drop <= scale; ++drop) {
    Wide quotient = magnitude;
    bool sticky = false;
    for (int rest = drop - 1; rest > 0; rest -= 19) {
      sticky |= quotient.div_small(static_cast<u64>(kPow10[std::min(rest, 19)])) != 0;
    }
    const u64 digit = quotient.div_small(10);
    if (digit > 5 || (digit == 5 && (sticky || (quotient.limb[0] & 1) != 0))) {
      quotient.add(Wide::from(1));
    }
    if (quotient.fits_coefficient()) return make(quotient.low(), scale - drop, negative);
  }
  return std::unexpected(fault);
}

// a + b, or a - b when subtract is set, aligned to the larger scale.
DecimalResult<Decimal> add_signed(const Decimal& a, const Decimal& b, bool subtract,
                                  DecimalFault fault) {
  const bool a_negative = a.is_sign_negative();
  const bool b_negative = b.is_sign_negative() != subtract;
  const int scale = static_cast<int>(std::max(a.scale(), b.scale()));
  Wide x = scaled(a.coefficient(), scale - static_cast<int>(a.scale()));
  Wide y = scaled(b.coefficient(), scale - static_cast<int>(b.scale()));
  if (a_negative == b_negative) {
    x.add(y);
    return fit(x, scale, a_negative, fault);
  }
  // Opposite signs: the larger magnitude gives the sign; an exact zero is positive.
  bool negative = a_negative;
  if (x < y) {
    std::swap(x, y);
    negative = b_negative;
  }
  x.sub(y);
  return fit(x, scale, negative && !x.is_zero(), fault);
}

// Writes the decimal digits of value ending at end; returns the first digit.
char* write_digits(u128 value, char* end) {
  char* out = end;
  do {
    *--out = static_cast<char>('0' + static_cast<int>(value % 10));
    value /= 10;
  } while (value != 0);
  return out;
}

}  // namespace

std::string_view fault_text(DecimalFault fault) {
  switch (fault) {
    case DecimalFault::AdditionOverflow: return "Addition overflowed";
    case DecimalFault::SubtractionOverflow: return "Subtraction overflowed";
    case DecimalFault::MultiplicationOverflow: return "Multiplication overflowed";
    case DecimalFault::DivisionOverflow: return "Division overflowed";
    case DecimalFault::DivisionByZero: return "Division by zero";
  }
  unreachable("invalid decimal fault");
}

Decimal Decimal::from_int(std::int64_t value) {
  const bool negative = value < 0;
  const u64 magnitude = negative ? u64{0} - static_cast<u64>(value) : static_cast<u64>(value);
  return make(magnitude, 0, negative);
}

std::optional<Decimal> Decimal::from_parts(u128 coefficient, std::uint32_t scale, bool negative) {
  if (coefficient > kMaxCoefficient || scale > kMaxScale) return std::nullopt;
  Decimal result;
  result.lo_ = static_cast<std::uint64_t>(coefficient);
  result.hi_ = static_cast<std::uint32_t>(coefficient >> 64);
  result.scale_ = static_cast<std::uint8_t>(scale);
  result.negative_ = negative;
  return result;
}

std::expected<Decimal, std::string> Decimal::parse(std::string_view text) {
  auto fail = [](std::string_view reason) {
    return std::unexpected(std::string("Invalid decimal: ").append(reason));
  };
  if (text.empty()) return fail("empty");
  std::size_t pos = 0;
  const bool negative = text[0] == '-';
  if (text[0] == '-' || text[0] == '+') pos = 1;
  std::size_t point = std::string_view::npos;
  for (std::size_t i = pos; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.') {
      if (point != std::string_view::npos) return fail("two decimal points");
      point = i;
    } else if (c < '0' || c > '9') {
      return fail("unknown character");
    }
  }
  const std::string_view whole = text.substr(pos, std::min(point, text.size()) - pos);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  if (whole.empty() && fraction.empty()) return fail("no digits found");

  // Reads digits into acc; false (and stops) once it passes the largest coefficient.
  auto accumulate = [](u128& acc, std::string_view digits) {
    for (char c : digits) {
      acc = acc * 10 + static_cast<unsigned>(c - '0');
      if (acc > kMaxCoefficient) return false;
    }
    return true;
  };
  u128 coefficient = 0;
  if (!accumulate(coefficient, whole)) return fail("value out of range");
  // Trailing fractional zeros may be dropped; no other digit may.
  const std::size_t last_nonzero = fraction.find_last_not_of('0');
  const std::size_t needed = last_nonzero == std::string_view::npos ? 0 : last_nonzero + 1;
  if (needed > kLargestScale) return fail("too many fractional digits");
  if (!accumulate(coefficient, fraction.substr(0, needed))) {
    return fail("too many significant digits");
  }
  std::size_t scale = needed;
  const std::size_t wanted = std::min<std::size_t>(fraction.size(), kLargestScale);
  while (scale < wanted && coefficient <= kMaxCoefficient / 10) {
    coefficient *= 10;
    ++scale;
  }
  return make(coefficient, static_cast<int>(scale), negative);
}

std::string Decimal::to_string() const {
  std::array<char, 64> buffer;
  char* const end = buffer.data() + buffer.size();
  char* digits = write_digits(coefficient(), end);
  // At least one integer digit: pad with zeros up to scale + 1 digits.
  while (end - digits <= static_cast<std::ptrdiff_t>(scale_)) *--digits = '0';
  std::string out;
  if (negative_) out.push_back('-');
  const std::string_view all(digits, end);
  out.append(all.substr(0, all.size() - scale_));
  if (scale_ > 0) out.append(1, '.').append(all.substr(all.size() - scale_));
  return out;
}

std::string Decimal::to_normalized_string() const { return normalized().to_string(); }

Decimal Decimal::normalized() const {
  u128 value = coefficient();
  int scale = scale_;
  if (value == 0) return Decimal();
  while (scale > 0 && value % 10 == 0) {
    value /= 10;
    --scale;
  }
  return make(value, scale, negative_);
}

std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) {
  const int a_sign = a.is_zero() ? 0 : (a.negative_ ? -1 : 1);
  const int b_sign = b.is_zero() ? 0 : (b.negative_ ? -1 : 1);
  if (a_sign != b_sign || a_sign == 0) return a_sign <=> b_sign;
  std::strong_ordering magnitude = std::strong_ordering::equal;
  if (a.scale_ == b.scale_) {
    magnitude = a.coefficient() <=> b.coefficient();
  } else {
    const int scale = std::max(a.scale_, b.scale_);
    magnitude = scaled(a.coefficient(), scale - a.scale_) <=> scaled(b.coefficient(), scale - b.scale_);
  }
  return a_sign > 0 ? magnitude : 0 <=> magnitude;
}

DecimalResult<Decimal> Decimal::checked_add(const Decimal& other) const {
  return add_signed(*this, other, false, DecimalFault::AdditionOverflow);
}

DecimalResult<Decimal> Decimal::checked_sub(const Decimal& other) const {
  return add_signed(*this, other, true, DecimalFault::SubtractionOverflow);
}

DecimalResult<Decimal> Decimal::checked_mul(const Decimal& other) const {
  const u128 a = coefficient(), b = other.coefficient();
  const Wide product = (a >> 64) == 0 && (b >> 64) == 0 ? Wide::from(a * b) : multiply(a, b);
  return fit(product, scale_ + other.scale_, negative_ != other.negative_,
             DecimalFault::MultiplicationOverflow);
}

DecimalResult<Decimal> Decimal::checked_div(const Decimal& other) const {
  const u128 divisor = other.coefficient();
  if (divisor == 0) return std::unexpected(DecimalFault::DivisionByZero);
  const bool negative = negative_ != other.negative_;
  // Long division with digits gained in chunks of up to nine: the quotient
  // plus rest / divisor is this / other × 10^scale.
  int scale = static_cast<int>(scale_) - static_cast<int>(other.scale_);
  const int first_scale = std::max(scale, 0);
  u128 quotient = coefficient() / divisor;
  u128 rest = coefficient() - quotient * divisor;
  struct Digits {
    u64 value;  // the next count digits of the quotient
    u128 rest;
  };
  auto next_digits = [&](int count) {  // rest < 2^96, so rest × 10^9 fits
    const u128 partial = rest * kPow10[count];
    const u64 value = static_cast<u64>(partial / divisor);
    return Digits{value, partial - value * divisor};
  };
  // Up to scale 0 the integer part must fit.
  while (scale < first_scale) {
    const int count = std::min(first_scale - scale, 9);
    const Digits digits = next_digits(count);
    quotient = quotient * kPow10[count] + digits.value;
    rest = digits.rest;
    scale += count;
    if (quotient > kMax) return std::unexpected(DecimalFault::DivisionOverflow);  // no wrap: q < 2^96
  }
  // Fractional digits while inexact and the coefficient has room; an exact
  // quotient ends at its smallest scale.
  while (rest != 0 && scale < kLargestScale) {
    int count = std::min(kLargestScale - scale, 9);
    while (count > 1 && quotient >= kDigitRoom[count]) --count;
    Digits digits = next_digits(count);
    while (digits.rest == 0 && digits.value % 10 == 0) {  // value > 0 once exact
      digits.value /= 10;
      --count;
    }
    const u128 next = quotient * kPow10[count] + digits.value;
    if (next > kMax) break;  // only when a single digit was tried
    quotient = next;
    rest = digits.rest;
    scale += count;
  }
  if (rest != 0) {
    const u128 twice = rest * 2;
    if (twice > divisor || (twice == divisor && (quotient & 1) != 0)) ++quotient;
  }
  if (quotient > kMax) {
    // Rounded up from kMax: one digit fewer instead, where the dropped part
    // (the digit 5 and a nonzero rest) rounds up.
    if (scale == 0) return std::unexpected(DecimalFault::DivisionOverflow);
    quotient = kMax / 10 + 1;
    --scale;
  }
  return make(quotient, scale, negative);
}

DecimalResult<Decimal> Decimal::checked_rem(const Decimal& other) const {
  const u128 divisor = other.coefficient();
  if (divisor == 0) return std::unexpected(DecimalFault::DivisionByZero);
  // Both aligned to the larger scale; the remainder is below both magnitudes.
  u128 rest = coefficient();
  if (scale_ <= other.scale_) {
    rest %= divisor;
    for (int gap = other.scale_ - scale_; gap > 0; gap -= 9) {
      rest = rest * kPow10[std::min(gap, 9)] % divisor;
    }
  } else {
    const u128 step = kPow10[scale_ - other.scale_];
    if (divisor <= kMax / step) rest %= divisor * step;
  }
  return make(rest, std::max(scale_, other.scale_), negative_);
}

Decimal Decimal::abs() const {
  Decimal result = *this;
  result.negative_ = false;
  return result;
}

double Decimal::to_f64() const {
  const u128 value = coefficient();
  if (value < (u128{1} << 53) && scale_ <= 22) {
    // Both operands exact, so the one division rounds correctly.
    constexpr std::array<double, 23> kExact = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const double result = static_cast<double>(value) / kExact[scale_];
    return negative_ ? -result : result;
  }
  // "[-]digits" "e-" scale, read back by the exact, locale-free reader.
  std::array<char, 48> buffer;
  char* const exponent = buffer.data() + 40;
  char* text = write_digits(value, exponent);
  if (negative_) *--text = '-';
  exponent[0] = 'e';
  exponent[1] = '-';
  char* const end = std::to_chars(exponent + 2, buffer.data() + buffer.size(), static_cast<int>(scale_)).ptr;
  double result = 0;
  std::from_chars(text, end, result);
  return result;
}

std::optional<std::uint64_t> Decimal::to_u64() const {
  const u128 whole = coefficient() / kPow10[scale_];
  if (negative_ && whole != 0) return std::nullopt;
  if (whole > std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
  return static_cast<std::uint64_t>(whole);
}

DecimalResult<Decimal> checked_sum(std::span<const Decimal> values) {
  Decimal total;
  for (const Decimal& value : values) {
    auto next = total.checked_add(value);
    if (!next) return next;
    total = *next;
  }
  return total;
}

}  // namespace vorn
