#include "engine/features/pipeline/pipeline.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/features/pipeline/specs.hpp"
#include "tests/engine/features/feature_test_support.hpp"
#include "tests/engine/features/refresh_harness.hpp"

namespace vorn {
namespace {

using namespace feature_test;
using Id = TransformerDefinition::Identity;
using Lag = TransformerDefinition::Lagged;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Events refresh observed, context updates unobserved: identities follow
// their input with its flag, lags move and flag only on observed refreshes
// and repeat themselves in between, averages move only on written finite
// inputs (never on a context cell). The same script gives the same model
// whether layer 1 writes the model directly or through one or two stages.
TEST(Pipeline, RefreshFlagsFollowObservedEventsThroughAnyStageChain) {
  const Symbol x = sym("x");
  const auto raw = FeatureExtractorSpec::with_metadata(
                       {def("px", Field{x, ValueField::Price}), def("ctx", Context{Symbol::global(), "c"})}, 2, std::nullopt)
                       .value();
  const std::vector<TransformerDefinition> layer1{
      Id{"px", "a"}, Lag{1, "px", "l"}, TransformerDefinition::Ema{FV, 3, "px", "e"},
      Id{"ctx", "c"}, Lag{1, "ctx", "lc"}, TransformerDefinition::Sma{FV, 1, "ctx", "sc"}};
  const std::vector<std::string> names{"a", "l", "e", "c", "lc", "sc"};
  std::vector<TransformerDefinition> copies;
  for (const auto& name : names) copies.push_back(Id{name, name});
  const FittedStage scalar = FittedStage::Scalar{copies}, select_all = FittedStage::Select{names, {0, 1, 2, 3, 4, 5}};

  struct Step {
    bool event;
    double input;  // a price, or the context value
    std::vector<double> values;
    std::vector<std::uint8_t> flags;
  };
  const std::vector<Step> script{
      {true, 10, {10, kNaN, 10, kNaN, kNaN, kNaN}, {1, 1, 1, 0, 1, 0}},
      {false, 5, {10, kNaN, 10, 5, kNaN, kNaN}, {0, 0, 0, 0, 0, 0}},
      {true, 20, {20, 10, 15, 5, kNaN, kNaN}, {1, 1, 1, 0, 1, 0}},
      {false, 7, {20, 10, 15, 7, kNaN, kNaN}, {0, 0, 0, 0, 0, 0}},
      {true, 30, {30, 20, 22.5, 7, 5, kNaN}, {1, 1, 1, 0, 1, 0}},
  };
  for (const auto& stages : std::vector<std::vector<FittedStage>>{{}, {scalar}, {scalar, select_all}}) {
    SCOPED_TRACE(stages.size());
    auto pipeline = PipelineSpec::with_stages(raw, layer1, stages, 8, std::nullopt)->build().value();
    for (std::size_t i = 0; i < script.size(); ++i) {
      const Step& step = script[i];
      if (step.event) {
        ASSERT_TRUE(pipeline.extractor().handle_event(Event::Price{step.input, std::int64_t(i), x}));
      } else {
        const ContextUpdate update{"ctx", step.input};
        ASSERT_TRUE(pipeline.extractor().update_context({&update, 1}));
      }
      pipeline.refresh(step.event);
      ASSERT_EQ(pipeline.model().length(), 6u);
      std::vector<double> values = step.values;  // reserved cells stay NaN, flag 0
      std::vector<std::uint8_t> flags = step.flags;
      values.resize(8, kNaN);
      flags.resize(8, 0);
      const auto model = pipeline.model().cells();
      testing::expect_values({model.begin(), model.end()}, values, "step " + std::to_string(i));
      EXPECT_EQ(std::vector<std::uint8_t>(pipeline.model_flags().begin(), pipeline.model_flags().end()), flags);
    }
  }
}

}  // namespace
}  // namespace vorn
