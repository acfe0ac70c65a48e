// Scalar transformers over sequences of refreshes: averages, lags, copies and
// scaling, their warm-up, their flags and their handling of non-finite values.

#include <gtest/gtest.h>
#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/engine/features/refresh_harness.hpp"

namespace vorn {
namespace {

using testing::expect_values;

using Ema = TransformerDefinition::Ema;
using Sma = TransformerDefinition::Sma;
using Identity = TransformerDefinition::Identity;
using Lagged = TransformerDefinition::Lagged;
using Scale = TransformerDefinition::StandardScale;
constexpr auto kFirst = WarmupPolicy::FirstValue;
constexpr auto kFull = WarmupPolicy::FullWindow;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// One refresh of the raw cells: values, update flags and whether it follows an event.
struct Step {
  std::vector<double> values;
  std::vector<std::uint8_t> flags;
  bool observed = true;
};

// Runs `definitions` over raw cells named "x", "y", ... and records every
// refresh's outputs and flags.
struct Trace {
  std::vector<std::vector<double>> values;
  std::vector<std::vector<std::uint8_t>> flags;
};

Trace run(const std::vector<TransformerDefinition>& definitions, const std::vector<Step>& steps) {
  const std::vector<std::string> raw_ids{"x", "y"};
  auto h = testing::RefreshHarness::build(raw_ids, definitions, {}, definitions.size());
  Trace out;
  for (const Step& step : steps) {
    h.refresh(step.values, step.flags, step.observed);
    out.values.push_back(h.values());
    out.flags.push_back(h.model_flags);
  }
  return out;
}

// Observed refreshes that write cell "x" with each value in turn.
std::vector<Step> observed(const std::vector<double>& xs) {
  std::vector<Step> steps;
  for (double x : xs) steps.push_back({{x, 0.0}, {1, 0}, true});
  return steps;
}

std::vector<double> column(const Trace& r, std::size_t k) {
  std::vector<double> out;
  for (const auto& row : r.values) out.push_back(row[k]);
  return out;
}

struct AverageRow {
  std::string name;
  TransformerDefinition definition;
  std::vector<double> inputs;
  std::vector<double> expected;
};

TEST(Transformer, AveragesWarmUpAndSkipNonFiniteInputs) {
  const std::vector<AverageRow> rows{
      {"EMA 3 first value", Ema{kFirst, 3, "x", "o"}, {1, 2, 3}, {1, 1.5, 2.25}},
      {"EMA 3 full window", Ema{kFull, 3, "x", "o"}, {1, 2, 3}, {kNaN, kNaN, 2.25}},
      {"EMA 1 full window follows its input", Ema{kFull, 1, "x", "o"}, {5, -2, 7}, {5, -2, 7}},
      {"EMA NaN then resumes", Ema{kFirst, 3, "x", "o"}, {1, kNaN, 2}, {1, kNaN, 1.5}},
      {"EMA infinity then resumes", Ema{kFirst, 3, "x", "o"}, {1, -kInf, 3}, {1, kNaN, 2}},
      {"EMA seeded by the first finite value", Ema{kFirst, 3, "x", "o"}, {kNaN, 4, 6}, {kNaN, 4, 5}},
      {"EMA full window counts finite samples only", Ema{kFull, 3, "x", "o"}, {1, kNaN, 2, 3}, {kNaN, kNaN, kNaN, 2.25}},
      {"SMA 3 over fewer samples", Sma{kFirst, 3, "x", "o"}, {1, 2, 3, 4}, {1, 1.5, 2, 3}},
      {"SMA 3 full window", Sma{kFull, 3, "x", "o"}, {1, 2, 3, 4}, {kNaN, kNaN, 2, 3}},
      {"SMA infinity then resumes", Sma{kFirst, 2, "x", "o"}, {1, kInf, 3, 5}, {1, kNaN, 2, 4}},
  };
  for (const auto& row : rows) {
    expect_values(column(run({row.definition}, observed(row.inputs)), 0), row.expected, row.name);
  }
}

// Averages sharing one running state give what each would give alone, and
// the SMA stays within rounding of the mean of its last samples.
TEST(Transformer, GroupedAveragesMatchSingleOnesAndTheMeanOfTheirWindow) {
  std::vector<TransformerDefinition> group;
  for (std::uint64_t w : {2, 5, 3, 1, 5}) {
    group.emplace_back(Sma{kFull, w, "x", fmt::format("s{}", group.size())});
    group.emplace_back(Ema{kFirst, w, "x", fmt::format("e{}", group.size())});
  }
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal(10.0, 3.0);
  std::vector<Step> steps;
  std::vector<double> finite_written;
  std::vector<std::size_t> finite_count_at;
  for (int t = 0; t < 200; ++t) {
    const int kind = static_cast<int>(rng() % 10);
    const double x = kind == 0 ? kNaN : normal(rng);
    const std::uint8_t flag = kind == 1 ? 0 : 1;
    steps.push_back({{x, 0.0}, {flag, 0}, kind != 2});
    if (flag && std::isfinite(x)) finite_written.push_back(x);
    finite_count_at.push_back(finite_written.size());
  }
  const Trace together = run(group, steps);
  for (std::size_t k = 0; k < group.size(); ++k) {
    TransformerDefinition alone = group[k];
    const Trace single = run({alone}, steps);
    expect_values(column(together, k), column(single, 0), group[k].output());
  }
  // SMA window 5 under FullWindow (output 2): on a written refresh, the mean
  // of the last five finite written samples (NaN for a non-finite sample or
  // fewer than five); an unwritten refresh keeps the previous output.
  double expected = kNaN;
  for (std::size_t t = 0; t < steps.size(); ++t) {
    const std::size_t n = finite_count_at[t];
    if (steps[t].flags[0] == 1) {
      expected = kNaN;
      if (std::isfinite(steps[t].values[0]) && n >= 5) {
        double sum = 0;
        for (std::size_t i = n - 5; i < n; ++i) sum += finite_written[i];
        expected = sum / 5;
      }
    }
    const double out = together.values[t][2];
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(out)) << t;
    } else {
      EXPECT_NEAR(out, expected, 1e-12) << t;
    }
  }
}

TEST(Transformer, OutputsTakeTheirInputFlag) {
  const std::vector<TransformerDefinition> list{Ema{kFirst, 3, "x", "ema"}, Identity{"x", "copy"},
                                                Scale{1.0, 4.0, "x", "scaled"}, Sma{kFirst, 2, "x", "sma"}};
  const Trace r = run(list, {{{1, 0}, {1, 0}, true}, {{100, 0}, {0, 0}, true}, {{3, 0}, {1, 0}, false}, {{kNaN, 0}, {1, 0}, true}});
  // The unwritten step neither advances the averages nor flags anything.
  expect_values(r.values[0], {1, 1, 0, 1}, "first");
  expect_values(r.values[1], {1, 100, 24.75, 1}, "unwritten");
  expect_values(r.values[2], {2, 3, 0.5, 2}, "written, unobserved");
  expect_values(r.values[3], {kNaN, kNaN, kNaN, kNaN}, "NaN");
  EXPECT_EQ(r.flags[0], (std::vector<std::uint8_t>{1, 1, 1, 1}));
  EXPECT_EQ(r.flags[1], (std::vector<std::uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(r.flags[2], (std::vector<std::uint8_t>{1, 1, 1, 1}));
  EXPECT_EQ(r.flags[3], (std::vector<std::uint8_t>{1, 1, 1, 1}));
}

TEST(Transformer, LagsCountObservedRefreshesOnly) {
  const std::vector<TransformerDefinition> list{Lagged{2, "x", "lag2"}, Lagged{1, "x", "lag1"}, Lagged{2, "x", "again2"},
                                                Lagged{1, "y", "ylag"}};
  // x written or not, y never flagged (a context cell); an unobserved refresh in between.
  const std::vector<Step> steps{{{10, 5}, {1, 0}, true},  {{20, 5}, {0, 0}, true},   {{21, 7}, {1, 0}, false},
                                {{30, 7}, {1, 0}, true},  {{40, 8}, {1, 0}, true},   {{41, 9}, {0, 0}, false}};
  const Trace r = run(list, steps);
  expect_values(column(r, 0), {kNaN, kNaN, kNaN, 10, 20, 20}, "lag 2");
  expect_values(column(r, 1), {kNaN, 10, 10, 20, 30, 30}, "lag 1");
  expect_values(column(r, 2), column(r, 0), "second lag 2");
  expect_values(column(r, 3), {kNaN, 5, 5, 5, 7, 7}, "lag 1 of a context cell");
  for (std::size_t t = 0; t < steps.size(); ++t) {
    const std::uint8_t expected = steps[t].observed ? 1 : 0;
    EXPECT_EQ(r.flags[t], std::vector<std::uint8_t>(4, expected)) << t;
  }
}

TEST(Transformer, LongestLagSlidesOverItsFullRing) {
  std::vector<double> xs(10050);
  for (std::size_t i = 0; i < xs.size(); ++i) xs[i] = static_cast<double>(i) * 0.5;
  const Trace r = run({Lagged{10000, "x", "far"}, Lagged{1, "x", "near"}}, observed(xs));
  for (std::size_t t = 1; t < xs.size(); ++t) {
    ASSERT_TRUE(t < 10000 ? std::isnan(r.values[t][0]) : r.values[t][0] == xs[t - 10000]) << t;
    ASSERT_EQ(r.values[t][1], xs[t - 1]) << t;
  }
}

TEST(Transformer, AveragesOfAContextCellNeverStart) {
  const std::vector<TransformerDefinition> list{Ema{kFirst, 1, "y", "ema"}, Sma{kFirst, 1, "y", "sma"}, Identity{"y", "copy"}};
  const Trace r = run(list, {{{1, 3}, {1, 0}, true}, {{1, 4}, {1, 0}, false}, {{1, 5}, {1, 0}, true}});
  expect_values(column(r, 0), {kNaN, kNaN, kNaN}, "EMA");
  expect_values(column(r, 1), {kNaN, kNaN, kNaN}, "SMA");
  expect_values(column(r, 2), {3, 4, 5}, "copy");
}

TEST(Transformer, EmaOfTheLargestWindowDoesNotWrap) {
  const std::vector<TransformerDefinition> list{Ema{kFirst, UINT64_MAX, "x", "a"}, Ema{kFull, UINT64_MAX, "x", "b"}};
  const Trace r = run(list, observed({1, 3}));
  EXPECT_EQ(r.values[0][0], 1.0);
  EXPECT_EQ(r.values[1][0], (1.0 - 0x1p-63) * 1.0 + 0x1p-63 * 3.0);
  EXPECT_TRUE(std::isnan(r.values[1][1]));
  ExponentialMovingAverage ema(kFirst);
  ema.add_window(UINT64_MAX);
  ema.add_window(3);
  EXPECT_EQ(ema.alpha(0), 0x1p-63);
  EXPECT_EQ(ema.alpha(1), 0.5);
}


// Real inputs and alphas other than one half (windows 4 and 9: 0.4 and 0.2),
// where the order of the steps shows in the last bit: each value is
// (1 - alpha) * previous + alpha * x, products first, then their sum.
TEST(Transformer, EmaKeepsItsOrderOfArithmeticBitForBit) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> real(-10.0, 10.0);
  std::vector<double> xs(300);
  for (double& x : xs) x = real(rng);
  const Trace r = run({Ema{kFirst, 4, "x", "e4"}, Ema{kFirst, 9, "x", "e9"}}, observed(xs));
  const double alphas[] = {2.0 / 5.0, 2.0 / 10.0};
  for (std::size_t k = 0; k < 2; ++k) {
    double v = xs[0];
    for (std::size_t t = 0; t < xs.size(); ++t) {
      if (t > 0) v = (1.0 - alphas[k]) * v + alphas[k] * xs[t];
      ASSERT_EQ(r.values[t][k], v) << "window " << k << ", refresh " << t;
    }
  }
}
}  // namespace
}  // namespace vorn
