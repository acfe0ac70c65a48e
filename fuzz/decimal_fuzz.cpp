// Decimal text parsing, printing and arithmetic. The input is one text, or two
// separated by a space. Whatever parses is the value its text spells (checked
// by a string normalisation of the text) and prints back unchanged; a text
// fails exactly when its syntax is wrong or its value cannot be held. Checked
// arithmetic on two parsed values either fails with its own fault, and then
// the exact result is out of range, or lands within rounding of the result
// computed in doubles; an exact result undoes exactly.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "engine/decimal.hpp"
#include "fuzz/check.hpp"

namespace {

using vorn::Decimal;
using vorn::DecimalFault;
using vorn::fuzz::check;

constexpr std::string_view kMaxDigits = "79228162514264337593543950335";  // 2^96 - 1
const double kMaxValue = 7.9228162514264337593543950335e28;

// The normalised form of a well-formed text ("-001.2300" is "-1.23", "-0.0"
// is "0"), without the library; none for a malformed one.
std::optional<std::string> normalize_text(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const std::size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;
  for (std::string_view part : {whole, fraction}) {
    if (part.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  }
  whole.remove_prefix(std::min(whole.find_first_not_of('0'), whole.size()));
  fraction = fraction.substr(0, fraction.find_last_not_of('0') + 1);
  if (whole.empty() && fraction.empty()) return "0";
  std::string out = negative ? "-" : "";
  out.append(whole.empty() ? "0" : whole);
  if (!fraction.empty()) out.append(".").append(fraction);
  return out;
}

// Whether a normalised text's value can be held: at most 28 fractional digits
// and a coefficient of at most 2^96 - 1.
bool holdable(std::string_view normal) {
  if (normal[0] == '-') normal.remove_prefix(1);
  const std::size_t point = normal.find('.');
  const std::size_t scale = point == std::string_view::npos ? 0 : normal.size() - point - 1;
  std::string digits(normal.substr(0, point));
  if (point != std::string_view::npos) digits.append(normal.substr(point + 1));
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  return scale <= Decimal::kMaxScale &&
         (digits.size() < kMaxDigits.size() || (digits.size() == kMaxDigits.size() && digits <= kMaxDigits));
}

bool same_parts(const Decimal& a, const Decimal& b) {
  return a.coefficient() == b.coefficient() && a.scale() == b.scale() &&
         a.is_sign_negative() == b.is_sign_negative();
}

Decimal negated(const Decimal& value) {
  return *Decimal::from_parts(value.coefficient(), value.scale(), !value.is_sign_negative());
}

std::optional<Decimal> parse_and_check(std::string_view text) {
  const auto parsed = Decimal::parse(text);
  const auto normal = normalize_text(text);
  check(parsed.has_value() == (normal && holdable(*normal)), "parse accepts exactly what can be held");
  if (!parsed) {
    check(parsed.error().starts_with("Invalid decimal: "), "parse failure text");
    return std::nullopt;
  }
  check(parsed->to_normalized_string() == *normal, "parsed value is the value of the text");
  const auto reparsed = Decimal::parse(parsed->to_string());
  check(reparsed && same_parts(*reparsed, *parsed), "stored form parses back unchanged");
  check(parsed->to_f64() == std::strtod(parsed->to_string().c_str(), nullptr),
        "to_f64 rounds like strtod");
  const Decimal normalized = parsed->normalized();
  check(normalized == *parsed && (normalized.scale() == 0 || normalized.coefficient() % 10 != 0),
        "normalized keeps the value and drops trailing zeros");
  if (const auto whole = parsed->to_u64()) {
    const Decimal below = *Decimal::from_parts(*whole, 0, false);
    check(below <= parsed->abs() && parsed->abs() < *below.checked_add(Decimal::from_int(1)),
          "to_u64 truncates");
  }
  return *parsed;
}

// A checked result against the exact value computed in doubles: a fault only
// when the exact value is out of range, otherwise within `tolerance`.
void check_result(const vorn::DecimalResult<Decimal>& result, DecimalFault overflow, double exact,
                  double tolerance, const char* property) {
  if (result) {
    check(std::fabs(result->to_f64() - exact) <= tolerance, property);
  } else {
    check(result.error() == overflow && std::fabs(exact) >= kMaxValue * (1 - 1e-12), property);
  }
}

void check_arithmetic(const Decimal& a, const Decimal& b) {
  const double x = a.to_f64(), y = b.to_f64();
  const std::uint32_t wider = std::max(a.scale(), b.scale());

  const auto sum = a.checked_add(b);
  const auto swapped = b.checked_add(a);
  check(sum.has_value() == swapped.has_value() && (!sum || same_parts(*sum, *swapped)),
        "addition commutes");
  check_result(sum, DecimalFault::AdditionOverflow, x + y, 1e-12 * (std::fabs(x) + std::fabs(y)),
               "addition");
  const auto difference = a.checked_sub(b);
  const auto plus_negated = a.checked_add(negated(b));
  check(difference.has_value() == plus_negated.has_value() &&
            (!difference || same_parts(*difference, *plus_negated)),
        "a - b is a + -b");
  if (sum && sum->scale() == wider) {
    const auto back = sum->checked_sub(b);
    check(back && *back == a, "an exact sum undoes");
  }
  if (difference) check((a <=> b) == (*difference <=> Decimal()), "order follows the difference");

  const auto product = a.checked_mul(b);
  const auto product_swapped = b.checked_mul(a);
  check(product.has_value() == product_swapped.has_value() &&
            (!product || same_parts(*product, *product_swapped)),
        "multiplication commutes");
  check_result(product, DecimalFault::MultiplicationOverflow, x * y,
               1e-12 * std::fabs(x * y) + 1e-27, "multiplication");
  if (product && !b.is_zero() && product->scale() == a.scale() + b.scale()) {
    const auto back = product->checked_div(b);
    check(back && *back == a, "an exact product divides back");
  }

  const auto quotient = a.checked_div(b);
  const auto remainder = a.checked_rem(b);
  if (b.is_zero()) {
    check(!quotient && quotient.error() == DecimalFault::DivisionByZero, "division by zero");
    check(!remainder && remainder.error() == DecimalFault::DivisionByZero, "remainder by zero");
    return;
  }
  check_result(quotient, DecimalFault::DivisionOverflow, x / y, 1e-12 * std::fabs(x / y) + 1e-27,
               "division");
  check(remainder && remainder->scale() == wider && remainder->abs() < b.abs() &&
            (remainder->is_zero() || remainder->is_sign_negative() == a.is_sign_negative()),
        "remainder is below the divisor with the dividend's sign");
  // a - r is a whole multiple of b.
  const auto multiple = a.checked_sub(*remainder);
  const auto times = multiple && multiple->scale() == wider ? multiple->checked_div(b) : multiple;
  if (multiple && multiple->scale() == wider && times) {
    check(times->normalized().scale() == 0, "a - a % b is a multiple of b");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t space = input.find(' ');
  const auto a = parse_and_check(input.substr(0, space));
  const auto b = space == std::string_view::npos ? a : parse_and_check(input.substr(space + 1));
  if (a && b) {
    check_arithmetic(*a, *b);
    check_arithmetic(*b, *a);
  }
  return 0;
}
