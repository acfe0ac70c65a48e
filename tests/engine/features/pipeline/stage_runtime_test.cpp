// The stage runtime's two exchanged buffers against an independent chain in
// which every layer writes its own fresh vector of exactly its width.

#include "engine/features/pipeline/stage_runtime.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/features/transformers/compile.hpp"
#include "tests/engine/features/refresh_harness.hpp"

namespace vorn {
namespace {

using Ema = TransformerDefinition::Ema;
using Sma = TransformerDefinition::Sma;
using Identity = TransformerDefinition::Identity;
using Lagged = TransformerDefinition::Lagged;
constexpr auto kFirst = WarmupPolicy::FirstValue;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const std::vector<std::string> kRaw{"r0", "r1", "r2", "r3"};

// Layer 1 and every stage compiled on their own, each writing a vector of its
// own width, refilled with NaN before every refresh.
struct SeparateChain {
  std::vector<Transformer> layer1;
  std::vector<CompiledStage> stages;
  std::vector<VecFeatureVector> values;
  std::vector<std::vector<std::uint8_t>> flags;

  SeparateChain(const std::vector<TransformerDefinition>& l1, const std::vector<FittedStage>& fitted) {
    const auto raw = testing::views(kRaw);
    layer1 = std::move(*transformers::compile(l1, raw));
    std::vector<std::string_view> ids;
    for (const auto& d : l1) ids.emplace_back(d.output());
    add_layer(ids.size());
    for (const FittedStage& stage : fitted) {
      EXPECT_EQ(stage.validate(ids), std::nullopt);
      stages.push_back(std::move(*CompiledStage::compile(stage, ids)));
      ids = stage.outputs();
      add_layer(ids.size());
    }
  }

  void add_layer(std::size_t width) {
    values.push_back(VecFeatureVector::new_of_length(width, width));
    flags.emplace_back(width, 0);
  }

  void refresh(std::span<const double> raw, std::span<const std::uint8_t> raw_flags, bool observed) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      for (double& v : values[i].cells()) v = kNaN;
      std::fill(flags[i].begin(), flags[i].end(), 0);
    }
    for (Transformer& t : layer1) t.apply(raw, raw_flags, values[0], flags[0], observed);
    for (std::size_t s = 0; s < stages.size(); ++s) {
      stages[s].apply(values[s].cells(), flags[s], values[s + 1], flags[s + 1], observed);
    }
  }
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Chain {
  std::string name;
  std::vector<TransformerDefinition> layer1;
  std::vector<FittedStage> stages;
  std::size_t width;
};

std::vector<Chain> chains() {
  const std::vector<TransformerDefinition> five{Identity{"r0", "a"}, Ema{kFirst, 3, "r1", "b"}, Lagged{2, "r2", "c"},
                                                Identity{"r3", "d"}, Sma{kFirst, 2, "r0", "e"}};
  return {
      {"widths 5, 4, 2, 3", five,
       {FittedStage::Scalar{{Identity{"e", "w"}, Lagged{1, "c", "x"}, Ema{kFirst, 2, "a", "y"}, Identity{"b", "z"}}},
        FittedStage::Select{{"x", "z"}, {1, 3}},
        FittedStage::Scalar{{Lagged{3, "x", "p"}, Identity{"x", "q"}, Lagged{1, "z", "r"}}}},
       5},
      {"widening then narrowing", {Identity{"r0", "a"}, Lagged{1, "r1", "b"}},
       {FittedStage::Scalar{{Identity{"a", "a"}, Identity{"b", "b"}, Lagged{1, "a", "c"}, Lagged{2, "b", "d"},
                             Ema{kFirst, 4, "a", "e"}, Identity{"a", "f"}}},
        FittedStage::SimpleImpute{{"a", "c", "e", "mb", "md", "mf"}, {0, 2, 4}, {0.5, -1, 2}, {1, 3, 5}},
        FittedStage::StandardScale{{"a", "c", "e", "mb", "md", "mf"}, {0, 1, 0, 0.5, 0.5, 0}, {2, 1, 3, 1, 1, 4}},
        FittedStage::Select{{"c", "md", "mf"}, {1, 4, 5}}},
       6},
      {"projection last", five,
       {FittedStage::Scalar{{Identity{"a", "a"}, Lagged{1, "b", "b"}, Identity{"d", "d"}}},
        FittedStage::Pca{{"p0", "p1"}, {0, 0.5, 0}, {{0.5, 0.5, -0.5}, {0.25, -0.25, 0.1}}, {1.5, 2}}},
       5},
      {"one stage", five, {FittedStage::Select{{"c"}, {2}}}, 5},
  };
}

TEST(StageRuntime, ExchangedBuffersMatchSeparateVectors) {
  for (const Chain& chain : chains()) {
    SCOPED_TRACE(chain.name);
    const std::size_t final_width = chain.stages.back().outputs().size();
    auto runtime = testing::RefreshHarness::build(kRaw, chain.layer1, chain.stages, final_width + 2);
    ASSERT_TRUE(runtime.stages.has_value());
    EXPECT_EQ(runtime.stages->width(), chain.width);
    EXPECT_EQ(runtime.stages->input_width(), chain.layer1.size());
    SeparateChain separate(chain.layer1, chain.stages);
    std::mt19937_64 rng(5);
    std::normal_distribution<double> normal;
    for (int t = 0; t < 60; ++t) {
      std::vector<double> raw(4);
      std::vector<std::uint8_t> flags(4);
      for (std::size_t i = 0; i < 4; ++i) {
        raw[i] = rng() % 7 == 0 ? kNaN : normal(rng);
        flags[i] = rng() % 3 == 0 ? 0 : 1;
      }
      const bool observed = rng() % 4 != 0;
      runtime.refresh(raw, flags, observed);
      separate.refresh(raw, flags, observed);
      const auto& expected = separate.values.back();
      for (std::size_t k = 0; k < final_width; ++k) {
        ASSERT_TRUE(same_bits(runtime.model.value_at(k), expected.value_at(k)))
            << "refresh " << t << " cell " << k << ": " << runtime.model.value_at(k) << " vs " << expected.value_at(k);
        ASSERT_EQ(runtime.model_flags[k], separate.flags.back()[k]) << "refresh " << t << " cell " << k;
      }
      // Reserved model cells are never written and carry no flag.
      for (std::size_t k = final_width; k < final_width + 2; ++k) {
        ASSERT_TRUE(std::isnan(runtime.model.value_at(k)));
        ASSERT_EQ(runtime.model_flags[k], 0);
      }
    }
  }
}

TEST(StageRuntime, NoStagesNoRuntime) {
  auto runtime = StageRuntime::create(std::vector<TransformerDefinition>{Identity{"r0", "a"}}, {});
  ASSERT_TRUE(runtime.has_value());
  EXPECT_FALSE(runtime->has_value());
}

}  // namespace
}  // namespace vorn
