// The pipeline's refresh over a raw vector and flags that a test sets itself:
// layer-1 transformers, then the stage runtime (or layer 1 straight into the
// model vector when there is no stage); and a comparison of values with NaN.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "engine/features/pipeline/pipeline.hpp"
#include "engine/features/transformers/compile.hpp"
#include "engine/features/transformers/validate.hpp"
#include "engine/vectors.hpp"

namespace vorn::testing {

inline std::vector<std::string_view> views(const std::vector<std::string>& ids) {
  return {ids.begin(), ids.end()};
}

// Equal values, NaN where NaN is expected.
inline void expect_values(const std::vector<double>& actual, const std::vector<double>& expected,
                          const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(actual[i])) << what << " [" << i << "] = " << actual[i];
    } else {
      EXPECT_EQ(actual[i], expected[i]) << what << " [" << i << "]";
    }
  }
}

struct RefreshHarness {
  std::vector<Transformer> layer1;
  std::optional<StageRuntime> stages;
  VecFeatureVector model;
  std::vector<std::uint8_t> model_flags;

  // Compiles and sizes everything; the model vector holds `width` NaN cells.
  static RefreshHarness build(const std::vector<std::string>& raw_ids,
                              const std::vector<TransformerDefinition>& layer1,
                              const std::vector<FittedStage>& stages, std::size_t width) {
    const auto raw = views(raw_ids);
    EXPECT_TRUE(transformers::validate(layer1, raw).has_value());
    auto compiled = transformers::compile(layer1, raw);
    auto runtime = StageRuntime::create(layer1, stages);
    if (!compiled || !runtime) throw std::runtime_error("harness does not build");
    RefreshHarness h{std::move(*compiled), std::move(*runtime),
                     VecFeatureVector::new_of_length(width, width),
                     std::vector<std::uint8_t>(width, 0)};
    for (double& cell : h.model.cells()) cell = std::numeric_limits<double>::quiet_NaN();
    return h;
  }

  void refresh(std::span<const double> raw, std::span<const std::uint8_t> raw_flags, bool observed) {
    refresh_model(layer1, stages ? &*stages : nullptr, raw, raw_flags, model, model_flags, observed);
  }

  std::vector<double> values() const { return {model.active().begin(), model.active().end()}; }
};

}  // namespace vorn::testing
