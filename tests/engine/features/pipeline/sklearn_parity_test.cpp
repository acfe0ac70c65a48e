// Pipelines read from documents whose stages carry the parameters of fitted
// scikit-learn transformers (see sklearn_fixtures.py), fed row by row through
// context features, against scikit-learn's own transform of the same rows.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "engine/features/pipeline/normal_quantile.hpp"
#include "engine/features/serde/pipeline_spec.hpp"

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
  const auto spec = serde::deserialize_pipeline_spec(c["document"].dump());
  ASSERT_TRUE(spec) << spec.error();
  EXPECT_TRUE(serde::deserialize_pipeline_spec(serde::serialize_pipeline_spec(*spec).value()) == *spec);
  auto pipeline = spec->build().value();
  const auto rows = matrix(c["rows"]);
  const auto expected = matrix(c["expected"]);
  // Layer 1 copies column i of a row from its context feature.
  const auto& columns = spec->transformations();
  std::vector<ContextUpdate> updates(columns.size());
  double worst = 0.0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const double x = rows[r].at(i);
      updates[i] = {columns[i].input(), std::isnan(x) ? std::nullopt : std::optional(x)};
    }
    ASSERT_TRUE(pipeline.extractor().update_context(updates));
    pipeline.refresh(false);
    ASSERT_EQ(pipeline.model().active().size(), expected[r].size());
    for (std::size_t k = 0; k < expected[r].size(); ++k) {
      const double actual = pipeline.model().value_at(k);
      EXPECT_TRUE(close(actual, expected[r][k], c["tolerance"]))
          << "row " << r << " output " << k << ": " << actual << " vs " << expected[r][k];
      if (std::isfinite(actual) && std::isfinite(expected[r][k])) {
        worst = std::fmax(worst, std::fabs(actual - expected[r][k]) / std::fmax(1.0, std::fabs(expected[r][k])));
      }
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
