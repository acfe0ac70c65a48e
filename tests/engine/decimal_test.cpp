#include "engine/decimal.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <charconv>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace vorn {
namespace {

// A tab-separated line of data/decimal_cases.txt (written by decimal_oracle.py).
std::vector<std::string> split_fields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\t') {
      fields.emplace_back();
    } else if (line[i] == '\\' && i + 1 < line.size()) {
      const char next = line[++i];
      fields.back().push_back(next == 't' ? '\t' : next == 'n' ? '\n' : next);
    } else {
      fields.back().push_back(line[i]);
    }
  }
  return fields;
}

Decimal operand(const std::string& text) {
  auto parsed = Decimal::parse(text);
  EXPECT_TRUE(parsed.has_value()) << text;
  EXPECT_EQ(parsed.value_or(Decimal()).to_string(), text) << "operand keeps its stored form";
  return parsed.value_or(Decimal());
}

std::string outcome(const DecimalResult<Decimal>& result) {
  return result ? result->to_string() : std::string(fault_text(result.error()));
}

TEST(Decimal, MatchesOracleCases) {
  std::ifstream file(VORN_TEST_DATA_DIR "/decimal_cases.txt");
  ASSERT_TRUE(file.is_open());
  std::map<std::string, int> counts;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    SCOPED_TRACE("decimal_cases.txt line " + std::to_string(number) + ": " + line);
    const auto f = split_fields(line);
    ASSERT_GE(f.size(), 3u);
    const std::string& kind = f[0];
    ++counts[kind];
    if (kind == "parse") {
      const auto parsed = Decimal::parse(f[1]);
      if (f[2] == "err") {
        EXPECT_EQ(parsed ? "accepted" : parsed.error(), f[3]);
        continue;
      }
      ASSERT_TRUE(parsed.has_value()) << parsed.error();
      EXPECT_EQ(parsed->to_string(), f[3]);
      EXPECT_EQ(parsed->to_normalized_string(), f[4]);
      EXPECT_EQ(parsed->normalized().to_string(), f[4]);
      EXPECT_EQ(parsed->normalized(), *parsed);
    } else if (kind == "cmp") {
      const Decimal a = operand(f[1]), b = operand(f[2]);
      const int expected = std::stoi(f[3]);
      EXPECT_EQ(a <=> b, expected <=> 0);
      EXPECT_EQ(b <=> a, 0 <=> expected);
      EXPECT_EQ(a == b, expected == 0);
    } else if (kind == "f64") {
      double expected = 0;
      std::from_chars(f[2].data(), f[2].data() + f[2].size(), expected);
      EXPECT_EQ(std::bit_cast<std::uint64_t>(operand(f[1]).to_f64()),
                std::bit_cast<std::uint64_t>(expected));
    } else if (kind == "u64") {
      const auto value = operand(f[1]).to_u64();
      EXPECT_EQ(value ? std::to_string(*value) : "none", f[2]);
    } else {
      const Decimal a = operand(f[1]), b = operand(f[2]);
      DecimalResult<Decimal> result = std::unexpected(DecimalFault::DivisionByZero);
      if (kind == "add") result = a.checked_add(b);
      else if (kind == "sub") result = a.checked_sub(b);
      else if (kind == "mul") result = a.checked_mul(b);
      else if (kind == "div") result = a.checked_div(b);
      else if (kind == "rem") result = a.checked_rem(b);
      else FAIL() << "unknown case kind " << kind;
      EXPECT_EQ(outcome(result), f[3]);
    }
  }
  for (const char* kind : {"parse", "cmp", "add", "sub", "mul", "div", "rem", "f64", "u64"}) {
    EXPECT_GE(counts[kind], 400) << kind;
  }
}

TEST(Decimal, BuildsFromPartsAndIntegers) {
  EXPECT_EQ(Decimal::from_int(INT64_MIN).to_string(), "-9223372036854775808");
  EXPECT_EQ(Decimal::from_int(INT64_MAX).to_string(), "9223372036854775807");
  EXPECT_FALSE(Decimal::from_int(0).is_sign_negative());
  EXPECT_EQ(Decimal::from_parts(Decimal::kMaxCoefficient, 28, true)->to_string(),
            "-7.9228162514264337593543950335");
  EXPECT_FALSE(Decimal::from_parts(Decimal::kMaxCoefficient + 1, 0, false));
  EXPECT_FALSE(Decimal::from_parts(1, 29, false));
  EXPECT_EQ(fmt::format("[{}]", *Decimal::from_parts(150, 2, false)), "[1.50]");
}

TEST(Decimal, SignsOfZero) {
  const Decimal minus_zero = *Decimal::parse("-0.00");
  EXPECT_TRUE(minus_zero.is_sign_negative());
  EXPECT_FALSE(minus_zero.is_negative());
  EXPECT_FALSE(minus_zero.is_positive());
  EXPECT_FALSE(minus_zero.abs().is_sign_negative());
  EXPECT_FALSE(minus_zero.normalized().is_sign_negative());
  EXPECT_EQ(minus_zero.normalized().scale(), 0u);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(minus_zero.to_f64()), std::bit_cast<std::uint64_t>(-0.0));
  EXPECT_EQ(Decimal::parse("-2.50")->abs().to_string(), "2.50");
}

TEST(Decimal, SumsInOrderFromZero) {
  const auto d = [](const char* text) { return *Decimal::parse(text); };
  const std::array<Decimal, 3> values = {d("1.5"), d("-0.25"), d("2")};
  EXPECT_EQ(checked_sum(values)->to_string(), "3.25");
  EXPECT_EQ(checked_sum({})->to_string(), "0");
  const std::array<Decimal, 1> minus_zero = {d("-0")};
  EXPECT_EQ(checked_sum(minus_zero)->to_string(), "0");
  // The first two overflow before the third could bring the total back.
  const Decimal top = *Decimal::from_parts(Decimal::kMaxCoefficient, 0, false);
  const std::array<Decimal, 3> overflowing = {top, d("1"), top.checked_mul(d("-1")).value()};
  EXPECT_EQ(checked_sum(overflowing).error(), DecimalFault::AdditionOverflow);
}

}  // namespace
}  // namespace vorn
