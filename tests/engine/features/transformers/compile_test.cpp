#include "engine/features/transformers/compile.hpp"

#include <gtest/gtest.h>
#include <fmt/format.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/features/pipeline/stage_runtime.hpp"

namespace vorn {
namespace {

using Ema = TransformerDefinition::Ema;
using Sma = TransformerDefinition::Sma;
using Identity = TransformerDefinition::Identity;
using Lagged = TransformerDefinition::Lagged;
using Scale = TransformerDefinition::StandardScale;
constexpr auto kFirst = WarmupPolicy::FirstValue;
constexpr auto kFull = WarmupPolicy::FullWindow;

const std::vector<std::string_view> kIds{"x", "y", "x"};

std::string panic_message(const std::function<void()>& action) {
  try {
    action();
  } catch (const Panic& panic) {
    return panic.message();
  }
  return "no panic";
}

TEST(TransformersCompile, GroupsAndOrder) {
  const std::vector<TransformerDefinition> list{
      Ema{kFirst, 3, "x", "e1"}, Lagged{2, "y", "l1"}, Identity{"y", "i"},  Ema{kFull, 3, "x", "e2"},
      Sma{kFirst, 2, "x", "s1"}, Ema{kFirst, 5, "x", "e3"}, Lagged{4, "y", "l2"}, Scale{1, 2, "x", "sc"},
      Lagged{1, "x", "l3"}};
  auto compiled = transformers::compile(list, kIds);
  ASSERT_TRUE(compiled.has_value());
  // Copies and scalings, then one lag group per input, then one average group
  // per (input, kind, warm-up).
  std::vector<std::size_t> kinds;
  for (const Transformer& t : *compiled) kinds.push_back(t.value.index());
  EXPECT_EQ(kinds, (std::vector<std::size_t>{1, 3, 2, 2, 0, 0, 0}));
  const auto& identity = std::get<Transformer::Identity>((*compiled)[0].value);
  EXPECT_EQ(identity.input, 1u);
  EXPECT_EQ(identity.output, 2u);
  const auto& scale = std::get<Transformer::StandardScale>((*compiled)[1].value);
  EXPECT_EQ(scale.input, 0u);  // the first cell named "x"
  EXPECT_EQ(scale.inverse_scale, 0.5);
  const auto& lags = std::get<LaggedFeature>((*compiled)[2].value);
  EXPECT_EQ(lags.history.capacity(), 4u);
  ASSERT_EQ(lags.members.size(), 2u);
  EXPECT_EQ(lags.members[1].lag, 4u);
  EXPECT_EQ(lags.members[1].output, 6u);
  const auto& ema = *std::get<0>((*compiled)[4].value);
  EXPECT_EQ(ema.output_count, 2u);
  EXPECT_EQ(ema.outputs[1], 5u);
}

TEST(TransformersCompile, StorageThatCannotBeObtainedIsAnError) {
  const std::string failure = "transformation storage cannot be allocated";
  const std::vector<std::pair<std::vector<TransformerDefinition>, std::string>> rows{
      {{Sma{kFirst, 3, "x", "a"}, Sma{kFirst, std::uint64_t{1} << 61, "x", "b"}}, "index 1"},
      {{Identity{"y", "i"}, Sma{kFull, std::uint64_t{1} << 58, "y", "a"}}, "index 1"},
      {{Sma{kFirst, UINT64_MAX, "x", "a"}, Sma{kFirst, UINT64_MAX, "x", "b"}}, "index 0"},
      // Above the validated maximum: compile still refuses rather than abort.
      {{Lagged{1, "x", "a"}, Lagged{2, "y", "b"}, Lagged{std::uint64_t{1} << 61, "y", "c"}}, "index 2"},
  };
  for (const auto& [list, index] : rows) {
    auto compiled = transformers::compile(list, kIds);
    ASSERT_FALSE(compiled.has_value()) << index;
    EXPECT_EQ(to_string(compiled.error()), "invalid transformation definition at " + index + ": " + failure);
  }

  // In a scalar stage the error names the stage.
  const std::vector<TransformerDefinition> layer1{Identity{"x", "x"}};
  const std::vector<FittedStage> stages{
      FittedStage::Scalar{{Identity{"x", "a"}}},
      FittedStage::Scalar{{Identity{"a", "b"}, Sma{kFirst, std::uint64_t{1} << 60, "a", "c"}}}};
  auto runtime = StageRuntime::create(layer1, stages);
  ASSERT_FALSE(runtime.has_value());
  EXPECT_EQ(to_string(runtime.error()), "invalid pipeline stage 1: invalid transformation definition at index 1: " + failure);
}

TEST(TransformersCompile, UnvalidatedDefinitionsAreBrokenInvariants) {
  const auto compile = [](std::vector<TransformerDefinition> list) {
    return [list] { (void)transformers::compile(list, kIds); };
  };
  std::vector<TransformerDefinition> seventeen;
  for (std::uint64_t w = 1; w <= 17; ++w) seventeen.emplace_back(Sma{kFirst, w, "x", fmt::format("s{}", w)});
  EXPECT_EQ(panic_message(compile({Identity{"x", "a"}, Identity{"z", "b"}})), "pipeline construction validated every input ID");
  EXPECT_EQ(panic_message(compile({Ema{kFirst, 0, "x", "a"}})), "validated average windows");
  EXPECT_EQ(panic_message(compile({Sma{kFull, 0, "x", "a"}})), "validated average windows");
  EXPECT_EQ(panic_message(compile(seventeen)), "validated average windows");
  EXPECT_EQ(panic_message(compile({Lagged{3, "x", "a"}, Lagged{0, "x", "b"}})), "Lag windows must be positive");
  seventeen.pop_back();
  EXPECT_EQ(panic_message(compile(seventeen)), "no panic");
}

TEST(TransformersCompile, EmptyListCompilesToNothing) {
  auto compiled = transformers::compile({}, {});
  ASSERT_TRUE(compiled.has_value());
  EXPECT_TRUE(compiled->empty());
}

}  // namespace
}  // namespace vorn
