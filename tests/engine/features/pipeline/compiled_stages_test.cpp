// One compiled stage at a time: the special values and edge cases of each
// variant's formula and flags, against hand-computed results.

#include "engine/features/pipeline/compiled_stages.hpp"

#include <gtest/gtest.h>
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/features/pipeline/normal_quantile.hpp"
#include "engine/features/pipeline/stage_math.hpp"
#include "tests/engine/features/refresh_harness.hpp"

namespace vorn {
namespace {

using testing::expect_values;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Applied {
  std::vector<double> values;
  std::vector<std::uint8_t> flags;
};

// Validates and compiles `stage` over inputs "i0".."i{n-1}", then applies it
// once to `x` into an output of `width` cells prefilled with 99 and flags 7.
Applied apply_once(const FittedStage& stage, const std::vector<double>& x, const std::vector<std::uint8_t>& flags,
                   std::size_t width) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < x.size(); ++i) names.push_back(fmt::format("i{}", i));
  const std::vector<std::string_view> ids(names.begin(), names.end());
  EXPECT_EQ(stage.validate(ids), std::nullopt);
  auto compiled = CompiledStage::compile(stage, ids);
  auto out = VecFeatureVector::new_of_length(width, width);
  for (double& v : out.cells()) v = 99;
  std::vector<std::uint8_t> out_flags(width, 7);
  compiled->apply(x, flags, out, out_flags, true);
  return {{out.cells().begin(), out.cells().end()}, out_flags};
}

TEST(CompiledStage, PositionalStagesAndTheirFlags) {
  const std::vector<std::string> two{"i0", "i1"};
  struct Row {
    std::string name;
    FittedStage stage;
    std::vector<double> x;
    std::vector<std::uint8_t> flags;
    std::vector<double> expected;
  };
  const std::vector<Row> rows{
      {"standard scaling", FittedStage::StandardScale{two, {1, 1}, {4, 4}}, {3, kNaN}, {1, 0}, {0.5, kNaN, 99}},
      {"min-max clipped",
       FittedStage::MinMaxScale{ClipBounds{0, 1}, {"i0", "i1", "i2", "i3", "i4"}, {2, 2, 2, 2, 2}, {-1, -1, -1, -1, -1}},
       {0.25, kNaN, 0.75, 2, -kInf}, {1, 0, 1, 0, 1}, {0, kNaN, 0.5, 1, 0}},
      {"min-max unclipped", FittedStage::MinMaxScale{std::nullopt, two, {2, 0.5}, {-1, 3}}, {0.25, kInf}, {0, 1}, {-0.5, kInf, 99}},
      {"power then standardised", FittedStage::PowerTransform{two, "yeo-johnson", {0, 2}, {0.5, 0}, {2, 1}},
       {3, -1}, {1, 1}, {(std::log1p(3.0) - 0.5) * 0.5, -std::log1p(1.0), 99}},
      {"box-cox of non-positive", FittedStage::PowerTransform{two, "box-cox", {1, 1}, {0, 0}, {1, 1}}, {0, -1}, {1, 0},
       {kNaN, kNaN, 99}},
  };
  for (const Row& row : rows) {
    const std::size_t n = row.x.size();
    const Applied a = apply_once(row.stage, row.x, row.flags, n == 2 ? 3 : n);
    expect_values(a.values, row.expected, row.name);
    std::vector<std::uint8_t> flags = row.flags;
    if (n == 2) flags.push_back(0);  // cells past the outputs are cleared
    EXPECT_EQ(a.flags, flags) << row.name;
  }
}

TEST(CompiledStage, PowerFunctionsAgreeWithTheirClosedForms) {
  EXPECT_TRUE(std::isnan(power_transform(true, 0.0, 1.0)));
  EXPECT_TRUE(std::isnan(power_transform(true, -0.0, 1.0)));
  EXPECT_TRUE(std::isnan(power_transform(false, kNaN, 1.0)));
  EXPECT_EQ(power_transform(true, std::exp(1.0), 0.0), 1.0);
  EXPECT_EQ(power_transform(false, -1.0, 2.0), -0.6931471805599453);
  EXPECT_EQ(power_transform(false, 3.0, 0.0), std::log1p(3.0));
  EXPECT_EQ(power_transform(false, -0.0, 0.5), 0.0);
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> lambdas(-2.5, 3.5), xs(-20, 20);
  for (int i = 0; i < 2000; ++i) {
    const double lambda = lambdas(rng), x = xs(rng);
    const double yeo = x >= 0 ? (std::pow(x + 1, lambda) - 1) / lambda
                              : -(std::pow(1 - x, 2 - lambda) - 1) / (2 - lambda);
    EXPECT_NEAR(power_transform(false, x, lambda), yeo, 1e-12 * std::fmax(1, std::fabs(yeo))) << x << " " << lambda;
    if (x > 0) {
      const double box = (std::pow(x, lambda) - 1) / lambda;
      EXPECT_NEAR(power_transform(true, x, lambda), box, 1e-12 * std::fmax(1, std::fabs(box))) << x << " " << lambda;
    }
  }
}

TEST(CompiledStage, QuantileTransforms) {
  const std::vector<double> column{1, 2, 2, 3}, refs{0, 0.25, 0.75, 1};
  const ClipBounds clip{-5.2, 5.2};
  struct Row {
    double x;
    double uniform;
    double normal;
  };
  // Normal values: the standard normal quantiles of 0.125, 0.5 and 0.875.
  const std::vector<Row> rows{
      {2, 0.5, 0.0},          {1, 0.0, -5.2},         {3, 1.0, 5.2},           {0, 0.0, -5.2},
      {5, 1.0, 5.2},          {1.5, 0.125, -1.1503493803760079},               {2.5, 0.875, 1.1503493803760079},
      {1 + 0x1p-24, 0x1p-26, -5.2}, {kNaN, kNaN, kNaN}, {-kInf, 0.0, -5.2},   {kInf, 1.0, 5.2},
  };
  for (const Row& row : rows) {
    const double u = quantile_transform(column, refs, row.x, 1e-7, std::nullopt);
    const double z = quantile_transform(column, refs, row.x, 1e-7, clip);
    if (std::isnan(row.x)) {
      EXPECT_TRUE(std::isnan(u) && std::isnan(z));
      continue;
    }
    EXPECT_NEAR(u, row.uniform, 1e-22) << row.x;
    EXPECT_NEAR(z, row.normal, 1e-15) << row.x;
  }
  // The bounds test is strict: x minus the threshold equal to the first
  // quantile, or x plus it equal to the last, is inside and interpolated.
  EXPECT_NEAR(quantile_transform(column, refs, 1.5, 0.5, clip), -1.1503493803760079, 1e-15);
  EXPECT_NEAR(quantile_transform(column, refs, 2.5, 0.5, clip), 1.1503493803760079, 1e-15);
  EXPECT_EQ(quantile_transform(column, refs, 1.25, 0.5, clip), -5.2);  // below by a quarter
  EXPECT_EQ(quantile_transform(column, refs, 2.75, 0.5, clip), 5.2);
  // The same at the usual threshold, 1e-7: 1.0000001 - 1e-7 is exactly 1; the
  // second quantile 1.0000002 puts x near the probability 0.25.
  const std::vector<double> narrow{1.0, 1.0000002, 2, 3}, narrow_refs{0, 0.5, 0.75, 1};
  ASSERT_EQ(1.0000001 - 1e-7, 1.0);
  EXPECT_NEAR(quantile_transform(narrow, narrow_refs, 1.0000001, 1e-7, clip), -0.6744897501960817, 1e-6);
  // At the ends, the uniform output is exact and the lower end wins.
  EXPECT_EQ(quantile_transform(std::vector<double>{4, 4}, std::vector<double>{0, 1}, 4, 0, std::nullopt), 0.0);
  EXPECT_EQ(quantile_transform(std::vector<double>{4}, std::vector<double>{0}, 5, 0, std::nullopt), 0.0);
  EXPECT_EQ(quantile_transform(std::vector<double>{1, 2, 3}, std::vector<double>{0.0, 0.5, 1.0}, 2.5, 0.0, clip),
            normal_quantile(0.75));

  // An all-NaN column: NaN stays NaN; one quantile gives 0 or the clip's low;
  // two or more give NaN.
  EXPECT_TRUE(std::isnan(all_nan_quantile_transform(1, std::nullopt, kNaN)));
  EXPECT_EQ(all_nan_quantile_transform(1, std::nullopt, 3.0), 0.0);
  EXPECT_EQ(all_nan_quantile_transform(1, clip, 3.0), -5.2);
  EXPECT_TRUE(std::isnan(all_nan_quantile_transform(2, clip, 3.0)));

  // Through a compiled stage, column by column, the all-NaN one included.
  const FittedStage stage = FittedStage::QuantileTransform{
      clip, {"i0", "i1", "i2"}, "normal", {{1, 10, 0}, {2, 20, 0}, {2, 30, 0}, {3, 40, 0}}, refs, {2}, 1e-7};
  const Applied a = apply_once(stage, {2, 15, 7}, {0, 1, 1}, 3);
  expect_values(a.values, {0.0, normal_quantile(0.125), kNaN}, "stage");
  EXPECT_EQ(a.flags, (std::vector<std::uint8_t>{0, 1, 1}));
}

// Columns with long runs of equal quantiles, probed at and between them,
// against the two interpolations written out with linear scans.
TEST(CompiledStage, QuantileSearchesMatchLinearScans) {
  std::mt19937_64 rng(9);
  const auto model = [](const std::vector<double>& column, const std::vector<double>& refs, double x) {
    const std::size_t n = column.size();
    std::size_t i = 0, k = 0;
    while (i < n && column[i] <= x) ++i;
    while (k < n && column[k] < x) ++k;
    const auto at = [&](std::size_t j) {
      if (j == 0) return refs[0];
      if (j == n) return refs[n - 1];
      return (x - column[j - 1]) * ((refs[j] - refs[j - 1]) / (column[j] - column[j - 1])) + refs[j - 1];
    };
    const double down = k < n && column[k] == x ? refs[k] : at(k);
    return (at(i) + down) * 0.5;
  };
  for (int trial = 0; trial < 200; ++trial) {
    const std::size_t n = 2 + rng() % 40;
    std::vector<double> column(n), refs(n);
    for (auto& v : column) v = static_cast<double>(rng() % 12) * 0.5;
    std::sort(column.begin(), column.end());
    for (std::size_t q = 0; q < n; ++q) refs[q] = static_cast<double>(q) / static_cast<double>(n - 1);
    for (int probe = 0; probe < 30; ++probe) {
      const double x = static_cast<double>(rng() % 30) * 0.25 - 0.5;
      double expected = model(column, refs, x);
      if (x == column[n - 1]) expected = 1.0;
      if (x == column[0]) expected = 0.0;
      EXPECT_EQ(quantile_transform(column, refs, x, 0.0, std::nullopt), expected) << trial << " " << x;
    }
  }
}

TEST(CompiledStage, SelectionAndImputation) {
  const Applied selected = apply_once(FittedStage::Select{{"i1", "i3"}, {1, 3}}, {1, 2, 3, kNaN}, {1, 0, 1, 1}, 4);
  expect_values(selected.values, {2, kNaN, 99, 99}, "select");
  EXPECT_EQ(selected.flags, (std::vector<std::uint8_t>{0, 1, 0, 0}));

  const FittedStage impute = FittedStage::SimpleImpute{{"i0", "i2", "m0", "m1", "m2"}, {0, 2}, {7, 8}, {0, 1, 2}};
  const Applied a = apply_once(impute, {kNaN, 5, kInf}, {1, 0, 1}, 5);
  expect_values(a.values, {7, kInf, 1, 0, 0}, "impute");
  EXPECT_EQ(a.flags, (std::vector<std::uint8_t>{1, 1, 1, 0, 1}));
}

TEST(CompiledStage, PcaProjectsInIndexOrderAndPoisonsOnNonFiniteInput) {
  const FittedStage small = FittedStage::Pca{{"p0", "p1"}, {1, 2}, {{1, 0}, {0.6, 0.8}}, {1, 2}};
  Applied a = apply_once(small, {3, 5}, {0, 1}, 2);
  EXPECT_EQ(a.values[0], 2.0);
  EXPECT_NEAR(a.values[1], 1.8, 1e-15);
  EXPECT_EQ(a.flags, (std::vector<std::uint8_t>{1, 1}));
  a = apply_once(small, {3, kInf}, {0, 0}, 2);
  expect_values(a.values, {kNaN, kNaN}, "infinite input");
  EXPECT_EQ(a.flags, (std::vector<std::uint8_t>{0, 0}));

  // Seven outputs of nine inputs (blocks and a remainder): each output is the
  // index-order sum of its own row, bit for bit.
  std::mt19937_64 rng(11);
  std::normal_distribution<double> normal;
  std::vector<double> mean(9), x(9);
  std::vector<std::vector<double>> rows(7, std::vector<double>(9));
  for (auto& v : mean) v = normal(rng);
  for (auto& v : x) v = normal(rng) * 10;
  for (auto& row : rows) {
    for (auto& v : row) v = normal(rng);
  }
  std::vector<double> scale{1, 2, 3, 0.5, 0.25, 7, 1.5};
  std::vector<std::string> outputs;
  for (int k = 0; k < 7; ++k) outputs.push_back(fmt::format("p{}", k));
  a = apply_once(FittedStage::Pca{outputs, mean, rows, scale}, x, std::vector<std::uint8_t>(9, 0), 7);
  for (std::size_t k = 0; k < 7; ++k) {
    double projected = -0.0, centre = -0.0;
    for (std::size_t i = 0; i < 9; ++i) {
      projected += x[i] * rows[k][i];
      centre += mean[i] * rows[k][i];
    }
    EXPECT_EQ(a.values[k], (projected - centre) / scale[k]) << k;
  }
  EXPECT_TRUE(std::signbit(dot({}, {})));
  EXPECT_EQ(dot(std::vector<double>{1, 2, 3}, std::vector<double>{4, 5}), 14.0);
}

TEST(CompiledStage, ScalarStageStartsFromNaN) {
  const FittedStage stage = FittedStage::Scalar{
      {TransformerDefinition::Lagged{1, "i0", "lag"}, TransformerDefinition::Identity{"i1", "copy"}}};
  const Applied a = apply_once(stage, {4, 5}, {1, 0}, 3);
  expect_values(a.values, {kNaN, 5, 99}, "scalar");
  EXPECT_EQ(a.flags, (std::vector<std::uint8_t>{1, 0, 0}));
}

}  // namespace
}  // namespace vorn
