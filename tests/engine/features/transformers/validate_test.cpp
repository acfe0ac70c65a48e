#include "engine/features/transformers/validate.hpp"

#include <gtest/gtest.h>
#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace vorn {
namespace {

using Ema = TransformerDefinition::Ema;
using Sma = TransformerDefinition::Sma;
using Identity = TransformerDefinition::Identity;
using Lagged = TransformerDefinition::Lagged;
using Scale = TransformerDefinition::StandardScale;
constexpr auto kFirst = WarmupPolicy::FirstValue;
constexpr auto kFull = WarmupPolicy::FullWindow;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<TransformerDefinition> emas(std::size_t count, WarmupPolicy warmup, std::string input = "a") {
  std::vector<TransformerDefinition> out;
  for (std::size_t i = 0; i < count; ++i) {
    out.emplace_back(Ema{warmup, i + 1, input, fmt::format("{}_ema{}{}", input, i, warmup == kFull ? "f" : "")});
  }
  return out;
}

std::vector<TransformerDefinition> concat(std::vector<TransformerDefinition> a, const std::vector<TransformerDefinition>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string outcome(const std::vector<TransformerDefinition>& definitions, const std::vector<std::string_view>& ids) {
  auto result = transformers::validate(definitions, ids);
  return result ? "ok" : to_string(result.error());
}

std::string at(std::size_t index, std::string_view reason) {
  return fmt::format("invalid transformation definition at index {}: {}", index, reason);
}

struct Row {
  std::string name;
  std::vector<TransformerDefinition> definitions;
  std::vector<std::string_view> ids;
  std::string expected;
};

void run(const std::vector<Row>& rows) {
  for (const Row& row : rows) EXPECT_EQ(outcome(row.definitions, row.ids), row.expected) << row.name;
}

const std::vector<std::string_view> kIds{"a", "b", "c"};
const std::string kNotFound = "input feature ID does not exist in the preceding layout";
const std::string kReserved = "output feature ID uses the reserved namespace";
const std::string kDuplicate = "output feature ID duplicates an earlier output";

TEST(TransformersValidate, LayoutAndOutputIds) {
  run({
      {"empty list, empty layout", {}, {}, "ok"},
      {"empty layout", {Identity{"a", "x"}}, {}, at(0, kNotFound)},
      {"unknown input", {Identity{"a", "x"}, Identity{"d", "y"}}, kIds, at(1, kNotFound)},
      {"input compared byte for byte", {Identity{"A", "x"}}, kIds, at(0, kNotFound)},
      {"output equal to its own input", {Identity{"a", "a"}, Lagged{1, "b", "b"}}, kIds, "ok"},
      {"reserved output", {Identity{"a", "x"}, Identity{"a", "__reserved_x"}}, kIds, at(1, kReserved)},
      {"duplicate output", {Identity{"a", "x"}, Identity{"b", "y"}, Scale{0.0, 1.0, "c", "x"}}, kIds, at(2, kDuplicate)},
  });
}

TEST(TransformersValidate, AverageWindowsAndGroups) {
  run({
      {"EMA window 0", {Ema{kFirst, 0, "a", "x"}}, kIds, at(0, "average window must be positive")},
      {"huge windows validate", {Ema{kFirst, UINT64_MAX, "a", "x"}, Sma{kFirst, UINT64_MAX, "a", "y"}}, kIds, "ok"},
      {"sixteen EMAs", emas(16, kFirst), kIds, "ok"},
      {"seventeenth EMA", emas(17, kFirst), kIds, at(16, "too many compatible average outputs (maximum 16)")},
      {"sixteen per warm-up policy", concat(emas(16, kFirst), emas(16, kFull)), kIds, "ok"},
      {"sixteen per input", concat(emas(16, kFirst, "a"), emas(16, kFirst, "b")), kIds, "ok"},
      {"EMA and SMA counted apart", concat(emas(16, kFirst), {Sma{kFirst, 1, "a", "s"}}), kIds, "ok"},
  });
}

TEST(TransformersValidate, LagsAndScaling) {
  const std::string not_finite_mean = "standard-scaler mean must be finite";
  const std::string not_finite_scale = "standard-scaler scale must be finite";
  const std::string not_positive = "standard-scaler scale must be positive";
  run({
      {"lag 0", {Lagged{0, "a", "x"}}, kIds, at(0, "lag window must be positive")},
      {"lag 10000", {Lagged{10000, "a", "x"}}, kIds, "ok"},
      {"lag 10001", {Lagged{10000, "a", "x"}, Lagged{10001, "a", "y"}}, kIds,
       at(1, "lag window exceeds the maximum of 10000 values")},
      {"mean NaN", {Scale{kNaN, 1.0, "a", "x"}}, kIds, at(0, not_finite_mean)},
      {"scale NaN", {Scale{0.0, kNaN, "a", "x"}}, kIds, at(0, not_finite_scale)},
      {"scale 0", {Scale{0.0, 0.0, "a", "x"}}, kIds, at(0, not_positive)},
      {"scale -1", {Scale{0.0, -1.0, "a", "x"}}, kIds, at(0, not_positive)},
      {"scale 5e-324", {Scale{0.0, 5e-324, "a", "x"}}, kIds, at(0, "standard-scaler inverse scale must be finite")},
      {"scale 1e-308 has a finite inverse", {Scale{0.0, 1e-308, "a", "x"}}, kIds, "ok"},
      {"scale 5e-309 has none", {Scale{0.0, 5e-309, "a", "x"}}, kIds, at(0, "standard-scaler inverse scale must be finite")},
  });
}

TEST(TransformersValidate, FirstCheckWinsWhenTwoFail) {
  run({
      {"missing input before reserved output", {Identity{"z", "__reserved_1"}}, kIds, at(0, kNotFound)},
      {"reserved output before duplicate", {Identity{"a", "__reserved_1x"}, Identity{"a", "__reserved_1x"}}, kIds,
       at(0, kReserved)},
      {"reserved output before window", {Ema{kFirst, 0, "a", "__reserved_1"}}, kIds, at(0, kReserved)},
      {"duplicate output before lag", {Identity{"a", "x"}, Lagged{0, "a", "x"}}, kIds, at(1, kDuplicate)},
      {"window before group size", concat(emas(16, kFirst), {Ema{kFirst, 0, "a", "late"}}), kIds,
       at(16, "average window must be positive")},
      {"mean before scale", {Scale{kInf, -1.0, "a", "x"}}, kIds, at(0, "standard-scaler mean must be finite")},
      {"scale finiteness before sign", {Scale{0.0, -kInf, "a", "x"}}, kIds, at(0, "standard-scaler scale must be finite")},
      {"earlier definition first", {Lagged{0, "a", "x"}, Identity{"z", "y"}}, kIds, at(0, "lag window must be positive")},
  });
}

}  // namespace
}  // namespace vorn
