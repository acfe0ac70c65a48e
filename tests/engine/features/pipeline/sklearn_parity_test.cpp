// The compiled stages against scikit-learn's own transform of the same rows,
// with parameters taken from fitted transformers (see sklearn_fixtures.py).

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "engine/features/pipeline/normal_quantile.hpp"
#include "tests/engine/features/refresh_harness.hpp"

namespace vorn {
namespace {

using nlohmann::json;

const json& fixtures() {
  static const json data = [] {
    std::ifstream file(std::string(VORN_TEST_DATA_DIR) + "/sklearn_stages.json");
    if (!file) throw std::runtime_error("sklearn_stages.json is missing");
    return json::parse(file);
  }();
  return data;
}

double number(const json& j) {
  if (j.is_string()) {
    const auto text = j.get<std::string>();
    if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (text == "inf") return std::numeric_limits<double>::infinity();
    if (text == "-inf") return -std::numeric_limits<double>::infinity();
    throw std::runtime_error("bad number " + text);
  }
  return j.get<double>();
}

std::vector<double> numbers(const json& j) {
  std::vector<double> out;
  for (const auto& v : j) out.push_back(number(v));
  return out;
}

std::vector<std::vector<double>> matrix(const json& j) {
  std::vector<std::vector<double>> out;
  for (const auto& row : j) out.push_back(numbers(row));
  return out;
}

std::optional<ClipBounds> clip_of(const json& stage, const char* key) {
  if (!stage.contains(key)) return std::nullopt;
  return ClipBounds{number(stage[key][0]), number(stage[key][1])};
}

FittedStage stage_of(const json& s) {
  const auto type = s["type"].get<std::string>();
  const auto outputs = s["outputs"].get<std::vector<std::string>>();
  if (type == "standard_scale") return FittedStage::StandardScale{outputs, numbers(s["mean"]), numbers(s["scale"])};
  if (type == "min_max_scale") {
    return FittedStage::MinMaxScale{clip_of(s, "clip"), outputs, numbers(s["scale"]), numbers(s["min"])};
  }
  if (type == "power_transform") {
    return FittedStage::PowerTransform{outputs, s["method"].get<std::string>(), numbers(s["lambdas"]),
                                       numbers(s["mean"]), numbers(s["scale"])};
  }
  if (type == "quantile_transform") {
    return FittedStage::QuantileTransform{clip_of(s, "normal_clip"), outputs,
                                          s["output_distribution"].get<std::string>(),
                                          matrix(s["quantiles"]), numbers(s["references"]),
                                          s["all_nan_input_indices"].get<std::vector<std::size_t>>(),
                                          number(s["bounds_threshold"])};
  }
  if (type == "simple_impute") {
    return FittedStage::SimpleImpute{outputs, s["retained_input_indices"].get<std::vector<std::size_t>>(),
                                     numbers(s["replacement_values"]),
                                     s["indicator_input_indices"].get<std::vector<std::size_t>>()};
  }
  if (type == "select") return FittedStage::Select{outputs, s["input_indices"].get<std::vector<std::size_t>>()};
  if (type == "pca") {
    return FittedStage::Pca{outputs, numbers(s["mean"]), matrix(s["components"]), numbers(s["output_scale"])};
  }
  throw std::runtime_error("unknown stage " + type);
}

// Distance in units in the last place between two finite doubles.
std::uint64_t ulps_between(double a, double b) {
  const auto ordered = [](double v) {
    std::int64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits < 0 ? std::numeric_limits<std::int64_t>::min() - bits : bits;
  };
  const std::int64_t x = ordered(a), y = ordered(b);
  return x > y ? static_cast<std::uint64_t>(x) - static_cast<std::uint64_t>(y)
               : static_cast<std::uint64_t>(y) - static_cast<std::uint64_t>(x);
}

// Whether `actual` is within the case's tolerance of scikit-learn's value:
// "exact" bit for bit, "ulps" within that many units in the last place,
// "absolute" within a fixed distance, "relative" within tolerance * max(1, |expected|).
bool close(double actual, double expected, const json& tolerance) {
  if (std::isnan(expected) || std::isnan(actual)) return std::isnan(expected) && std::isnan(actual);
  const auto kind = tolerance["kind"].get<std::string>();
  if (kind == "exact") return std::memcmp(&actual, &expected, sizeof actual) == 0;
  if (kind == "ulps") return ulps_between(actual, expected) <= tolerance["ulps"].get<std::uint64_t>();
  const double bound = tolerance["tolerance"].get<double>();
  if (kind == "absolute") return std::fabs(actual - expected) <= bound;
  return std::fabs(actual - expected) <= bound * std::fmax(1.0, std::fabs(expected));
}

class SklearnParity : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SklearnParity, MatchesTransformOutput) {
  const json& c = fixtures()["cases"][GetParam()];
  SCOPED_TRACE(c["name"].get<std::string>());
  const auto ids = c["input_ids"].get<std::vector<std::string>>();
  std::vector<TransformerDefinition> layer1;
  for (const auto& id : ids) layer1.emplace_back(TransformerDefinition::Identity{id, id});
  std::vector<FittedStage> stages;
  std::vector<std::string_view> layout = testing::views(ids);
  for (const auto& s : c["stages"]) {
    stages.push_back(stage_of(s));
    ASSERT_EQ(stages.back().validate(layout), std::nullopt);
    layout = stages.back().outputs();
  }
  const auto rows = matrix(c["rows"]);
  const auto expected = matrix(c["expected"]);
  auto h = testing::RefreshHarness::build(ids, layer1, stages, expected.at(0).size());
  const std::vector<std::uint8_t> flags(ids.size(), 1);
  double worst = 0.0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    h.refresh(rows[r], flags, true);
    for (std::size_t k = 0; k < expected[r].size(); ++k) {
      const double actual = h.model.value_at(k);
      EXPECT_TRUE(close(actual, expected[r][k], c["tolerance"]))
          << "row " << r << " output " << k << ": " << actual << " vs " << expected[r][k];
      if (std::isfinite(actual) && std::isfinite(expected[r][k])) {
        worst = std::fmax(worst, std::fabs(actual - expected[r][k]) / std::fmax(1.0, std::fabs(expected[r][k])));
      }
      EXPECT_EQ(h.model_flags[k], 1);
    }
  }
  RecordProperty("worst_scaled_difference", fmt::format("{:.3e}", worst));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SklearnParity,
                         ::testing::Range<std::size_t>(0, fixtures()["cases"].size()),
                         [](const auto& info) { return fixtures()["cases"][info.param]["name"].template get<std::string>(); });

// The published algorithm as the Python standard library implements it agrees
// to the last bit or so; scipy's different method within a few ulps.
TEST(NormalQuantile, AgreesWithIndependentImplementations) {
  const json& q = fixtures()["normal_quantiles"];
  const auto p = numbers(q["p"]);
  const auto reference = numbers(q["statistics"]);
  const auto scipy = numbers(q["scipy"]);
  for (std::size_t i = 0; i < p.size(); ++i) {
    const double z = normal_quantile(p[i]);
    EXPECT_LE(ulps_between(z, reference[i]), 1u) << "p = " << p[i];
    EXPECT_LE(std::fabs(z - scipy[i]), 1e-15 * std::fmax(1.0, std::fabs(scipy[i]))) << "p = " << p[i];
  }
}

}  // namespace
}  // namespace vorn
