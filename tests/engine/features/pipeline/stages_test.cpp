#include "engine/features/pipeline/stages.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace vorn {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const std::vector<std::string_view> kIds{"a", "b", "c", "d"};

// A valid stage of each variant over kIds, changed by `edit`.
template <class Stage>
FittedStage edited(Stage stage, const std::function<void(Stage&)>& edit) {
  edit(stage);
  return stage;
}

FittedStage::Scalar scalar() {
  return {{TransformerDefinition::Identity{"a", "x"}, TransformerDefinition::Lagged{2, "d", "y"}}};
}
FittedStage::Select select() { return {{"a", "c"}, {0, 2}}; }
FittedStage::StandardScale standard() { return {{"a", "b", "c", "d"}, {0, 1, 2, 3}, {1, 2, 3, 4}}; }
FittedStage::MinMaxScale min_max() { return {ClipBounds{0, 1}, {"a", "b", "c", "d"}, {1, 2, 3, 4}, {0, 0, -1, 1}}; }
FittedStage::PowerTransform power() {
  return {{"a", "b", "c", "d"}, "yeo-johnson", {0.5, 1, 1.5, 2}, {0, 0, 0, 0}, {1, 1, 1, 1}};
}
FittedStage::QuantileTransform quantile() {
  return {ClipBounds{-5.2, 5.2}, {"a", "b", "c", "d"}, "normal",
          {{1, 5, 0, 0}, {2, 5, 0, 1}, {3, 6, 0, 2}}, {0, 0.5, 1}, {2}, 1e-7};
}
FittedStage::SimpleImpute impute() { return {{"a", "c", "missing_b"}, {0, 2}, {1.5, -2}, {1}}; }
FittedStage::Pca pca() {
  return {{"pc0", "pc1"}, {1, 2, 3, 4}, {{0.5, 0.5, 0.5, 0.5}, {0.5, -0.5, 0.5, -0.5}}, {1, 2}};
}

struct Row {
  std::string name;
  FittedStage stage;
  std::string expected;  // "ok" or the message
  std::vector<std::string_view> ids = kIds;
};

void run(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    const auto message = row.stage.validate(row.ids);
    EXPECT_EQ(message.value_or("ok"), row.expected) << row.name;
  }
}

TEST(FittedStageValidate, LayoutsAndOutputIds) {
  const std::string empty = "input and output layouts must be nonempty";
  run({
      {"valid scalar", scalar(), "ok"},
      {"empty preceding layout", standard(), empty, {}},
      {"scalar without transformations", FittedStage::Scalar{}, empty},
      {"reserved scalar output",
       edited<FittedStage::Scalar>(scalar(), [](auto& s) { s.transformations.push_back(TransformerDefinition::Identity{"b", "__reserved_0"}); }),
       "output \"__reserved_0\" is reserved or duplicated"},
      {"duplicate scalar output seen before its transformation check",
       edited<FittedStage::Scalar>(scalar(), [](auto& s) { s.transformations.push_back(TransformerDefinition::Identity{"zz", "x"}); }),
       "output \"x\" is reserved or duplicated"},
      {"quoting escapes", edited<FittedStage::Pca>(pca(), [](auto& s) { s.outputs = {"q\"\\\t\n", "q\"\\\t\n"}; }),
       "output \"q\\\"\\\\\\t\\n\" is reserved or duplicated"},
      {"empty layout before duplicate outputs", edited<FittedStage::Select>(select(), [](auto& s) { s.outputs = {"a", "a"}; }),
       empty, {}},
      {"scalar transformation error",
       edited<FittedStage::Scalar>(scalar(), [](auto& s) { s.transformations.push_back(TransformerDefinition::Identity{"zz", "z"}); }),
       "invalid transformation definition at index 2: input feature ID does not exist in the preceding layout"},
      {"scalar window",
       FittedStage::Scalar{{TransformerDefinition::Sma{WarmupPolicy::FirstValue, 0, "a", "s"}}},
       "invalid transformation definition at index 0: average window must be positive"},
  });
}

TEST(FittedStageValidate, SelectAndScalers) {
  const std::string selection = "selection indices must be nonempty, unique, increasing, and below 4";
  const std::string scaler = "scaler must preserve 4 input IDs and have matching mean/scale lengths";
  const std::string min_max_shape = "MinMaxScaler must preserve 4 input IDs and have matching scale/min lengths";
  const std::string min_max_input = "MinMaxScaler scale must be positive and finite and min must be finite";
  const std::string clip = "MinMaxScaler clipping bounds must be finite and strictly increasing";
  using Sel = FittedStage::Select;
  using Std = FittedStage::StandardScale;
  using Mm = FittedStage::MinMaxScale;
  run({
      {"valid select", select(), "ok"},
      {"repeated index", edited<Sel>(select(), [](auto& s) { s.input_indices = {0, 0}; }), selection},
      {"index equal to input count", edited<Sel>(select(), [](auto& s) { s.input_indices = {0, 4}; }), selection},
      {"output id differs", edited<Sel>(select(), [](auto& s) { s.outputs = {"a", "d"}; }),
       "selected output IDs must match their input IDs"},
      {"indices before ids", edited<Sel>(select(), [](auto& s) { s.outputs = {"a", "d"}; s.input_indices = {1, 0}; }), selection},

      {"valid standard", standard(), "ok"},
      {"reordered outputs", edited<Std>(standard(), [](auto& s) { std::swap(s.outputs[0], s.outputs[1]); }), scaler},
      {"tiny scale", edited<Std>(standard(), [](auto& s) { s.scale[1] = 5e-324; }),
       "input \"b\": standard-scaler inverse scale must be finite"},
      {"negative scale", edited<Std>(standard(), [](auto& s) { s.scale[0] = -1; }),
       "input \"a\": standard-scaler scale must be positive"},
      {"inputs in order", edited<Std>(standard(), [](auto& s) { s.mean[2] = kNaN; s.scale[1] = 0; }),
       "input \"b\": standard-scaler scale must be positive"},
      {"mean before scale", edited<Std>(standard(), [](auto& s) { s.mean[2] = kNaN; s.scale[2] = 0; }),
       "input \"c\": standard-scaler mean must be finite"},

      {"valid min-max", min_max(), "ok"},
      {"subnormal scale", edited<Mm>(min_max(), [](auto& s) { s.scale[0] = 5e-324; }), "ok"},
      {"short min", edited<Mm>(min_max(), [](auto& s) { s.min.pop_back(); }), min_max_shape},
      {"zero scale", edited<Mm>(min_max(), [](auto& s) { s.scale[1] = 0.0; }), "input \"b\": " + min_max_input},
      {"infinite min", edited<Mm>(min_max(), [](auto& s) { s.min[3] = -kInf; }), "input \"d\": " + min_max_input},
      {"empty clip", edited<Mm>(min_max(), [](auto& s) { s.clip = ClipBounds{0, 0}; }), clip},
      {"inputs before clip", edited<Mm>(min_max(), [](auto& s) { s.clip = ClipBounds{1, 0}; s.scale[0] = -2; }),
       "input \"a\": " + min_max_input},
  });
}

TEST(FittedStageValidate, PowerAndQuantile) {
  const std::string power_shape =
      "PowerTransformer must preserve 4 input IDs and have matching lambdas/mean/scale lengths";
  const std::string method = "PowerTransformer method must be yeo-johnson or box-cox";
  const std::string q_shape =
      "QuantileTransformer must preserve 4 input IDs and have matching quantile/reference dimensions";
  const std::string q_values = "QuantileTransformer quantiles must be finite and nondecreasing per column";
  const std::string q_all_nan = "QuantileTransformer all-NaN input indices must be unique, increasing, and below 4";
  const std::string q_refs =
      "QuantileTransformer references must run from 0 to 1 in strictly increasing finite probabilities";
  const std::string q_bounds = "QuantileTransformer bounds threshold must be finite and nonnegative";
  const std::string q_normal = "normal QuantileTransformer requires finite increasing clipping bounds";
  using Pw = FittedStage::PowerTransform;
  using Qt = FittedStage::QuantileTransform;
  run({
      {"valid power", power(), "ok"},
      {"box-cox", edited<Pw>(power(), [](auto& s) { s.method = "box-cox"; }), "ok"},
      {"short lambdas", edited<Pw>(power(), [](auto& s) { s.lambdas.pop_back(); }), power_shape},
      {"method case", edited<Pw>(power(), [](auto& s) { s.method = "Yeo-Johnson"; }), method},
      {"infinite lambda", edited<Pw>(power(), [](auto& s) { s.lambdas[1] = kInf; }),
       "input \"b\": PowerTransformer lambda must be finite"},
      {"mean of an earlier input first", edited<Pw>(power(), [](auto& s) { s.lambdas[1] = kNaN; s.mean[0] = kNaN; }),
       "input \"a\": standard-scaler mean must be finite"},
      {"lambda before mean", edited<Pw>(power(), [](auto& s) { s.lambdas[1] = kNaN; s.mean[1] = kNaN; }),
       "input \"b\": PowerTransformer lambda must be finite"},
      {"method before inputs", edited<Pw>(power(), [](auto& s) { s.method = ""; s.lambdas[0] = kNaN; }), method},

      {"valid normal quantiles", quantile(), "ok"},
      {"valid uniform quantiles", edited<Qt>(quantile(), [](auto& s) { s.output_distribution = "uniform"; s.normal_clip.reset(); }), "ok"},
      {"no quantile", edited<Qt>(quantile(), [](auto& s) { s.quantiles.clear(); s.references.clear(); }), q_shape},
      {"short row", edited<Qt>(quantile(), [](auto& s) { s.quantiles[1].pop_back(); }), q_shape},
      {"decreasing column", edited<Qt>(quantile(), [](auto& s) { s.quantiles[2][1] = 4.9; }), q_values},
      {"NaN in an all-NaN column", edited<Qt>(quantile(), [](auto& s) { s.quantiles[1][2] = kNaN; }), q_values},
      {"repeated all-NaN index", edited<Qt>(quantile(), [](auto& s) { s.all_nan_input_indices = {2, 2}; }), q_all_nan},
      {"repeated reference", edited<Qt>(quantile(), [](auto& s) { s.references = {0, 1, 1}; }), q_refs},
      {"reference not from 0", edited<Qt>(quantile(), [](auto& s) { s.references = {0.1, 0.5, 1}; }), q_refs},
      {"negative zero reference", edited<Qt>(quantile(), [](auto& s) { s.references = {-0.0, 0.5, 1}; }), "ok"},
      {"single quantile at 1", edited<Qt>(quantile(), [](auto& s) { s.quantiles.resize(1); s.references = {1}; }), q_refs},
      {"negative zero threshold", edited<Qt>(quantile(), [](auto& s) { s.bounds_threshold = -0.0; }), "ok"},
      {"negative threshold", edited<Qt>(quantile(), [](auto& s) { s.bounds_threshold = -1e-300; }), q_bounds},
      {"distribution case", edited<Qt>(quantile(), [](auto& s) { s.output_distribution = "Normal"; }),
       "QuantileTransformer output distribution must be uniform or normal"},
      {"uniform with clip", edited<Qt>(quantile(), [](auto& s) { s.output_distribution = "uniform"; }),
       "uniform QuantileTransformer must not define normal clipping bounds"},
      {"normal without clip", edited<Qt>(quantile(), [](auto& s) { s.normal_clip.reset(); }), q_normal},
      {"normal with empty clip", edited<Qt>(quantile(), [](auto& s) { s.normal_clip = ClipBounds{1, 1}; }), q_normal},
      {"values before references", edited<Qt>(quantile(), [](auto& s) { s.quantiles[2][0] = 0; s.references = {0, 1, 1}; }), q_values},
      {"references before threshold", edited<Qt>(quantile(), [](auto& s) { s.bounds_threshold = kNaN; s.references = {0, 1, 1}; }), q_refs},
  });
}

TEST(FittedStageValidate, ImputeAndPca) {
  const std::vector<std::string_view> three{"a", "b", "c"};
  const std::string lengths = "SimpleImputer outputs, retained indices, replacements, and indicators have inconsistent lengths";
  const std::string indices = "SimpleImputer input indices must be unique, increasing, and below 3";
  const std::string pca_output =
      ": PCA components/projected mean must be finite and output scale positive and finite";
  using Im = FittedStage::SimpleImpute;
  using Pc = FittedStage::Pca;
  run({
      {"valid impute", impute(), "ok", three},
      {"indicator outputs only", FittedStage::SimpleImpute{{"m"}, {}, {}, {0}}, "ok", three},
      {"missing output", edited<Im>(impute(), [](auto& s) { s.outputs.pop_back(); }), lengths, three},
      {"retained out of order", edited<Im>(impute(), [](auto& s) { s.retained_input_indices = {2, 0}; s.outputs = {"c", "a", "m"}; }), indices, three},
      {"infinite replacement", edited<Im>(impute(), [](auto& s) { s.replacement_values[1] = kInf; }),
       "SimpleImputer replacement values must be finite", three},
      {"retained id differs", edited<Im>(impute(), [](auto& s) { s.outputs[1] = "b"; }),
       "SimpleImputer retained output IDs must match their input IDs", three},
      {"indices before replacements", edited<Im>(impute(), [](auto& s) { s.replacement_values[0] = kNaN; s.indicator_input_indices = {1}; s.retained_input_indices = {0, 0}; }),
       indices, three},

      {"valid pca", pca(), "ok"},
      {"more outputs than inputs",
       FittedStage::Pca{{"p0", "p1", "p2", "p3", "p4"}, {0, 0, 0, 0}, std::vector<std::vector<double>>(5, {1, 0, 0, 0}), {1, 1, 1, 1, 1}},
       "PCA requires mean[4], components[5][4], output_scale[5], and outputs <= inputs"},
      {"short row", edited<Pc>(pca(), [](auto& s) { s.components[1].pop_back(); }),
       "PCA requires mean[4], components[2][4], output_scale[2], and outputs <= inputs"},
      {"NaN mean", edited<Pc>(pca(), [](auto& s) { s.mean[2] = kNaN; }), "input \"c\": PCA mean must be finite"},
      {"zero output scale", edited<Pc>(pca(), [](auto& s) { s.output_scale[1] = 0; }), "output \"pc1\"" + pca_output},
      {"projected mean overflows",
       edited<Pc>(pca(), [](auto& s) { s.mean = {1e308, 1e308, 0, 0}; s.components[1] = {1, 1, 0, 0}; s.components[0] = {1, -1, 0, 0}; }),
       "output \"pc1\"" + pca_output},
      {"mean before outputs", edited<Pc>(pca(), [](auto& s) { s.mean[3] = kInf; s.output_scale[0] = -1; }),
       "input \"d\": PCA mean must be finite"},
  });
}

TEST(FittedStage, OutputLayouts) {
  const FittedStage scalar_stage = scalar();
  EXPECT_EQ(scalar_stage.outputs(), (std::vector<std::string_view>{"x", "y"}));
  const FittedStage impute_stage = impute();
  EXPECT_EQ(impute_stage.outputs(), (std::vector<std::string_view>{"a", "c", "missing_b"}));
  EXPECT_TRUE(FittedStage(FittedStage::Scalar{}).outputs().empty());
}

}  // namespace
}  // namespace vorn
