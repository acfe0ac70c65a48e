#include "engine/features/pipeline/specs.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/engine/features/feature_test_support.hpp"

namespace vorn {
namespace {

using namespace feature_test;
using Id = TransformerDefinition::Identity;
using Sma = TransformerDefinition::Sma;
using Select = FittedStage::Select;

// Raw features "px" (prices of x) and "ctx" (a context value).
FeatureExtractorSpec raw_spec() {
  return FeatureExtractorSpec::with_metadata({def("px", Field{sym("x"), ValueField::Price}), def("ctx", Context{Symbol::global(), "c"})},
                                             2, std::nullopt)
      .value();
}

Result<PipelineSpec> spec(std::vector<TransformerDefinition> layer1, std::vector<FittedStage> stages, std::size_t capacity) {
  return PipelineSpec::with_stages(raw_spec(), std::move(layer1), std::move(stages), capacity, "model");
}

TEST(PipelineSpec, WithStagesChecksCapacityThenLayerOneThenEachStage) {
  const std::vector<TransformerDefinition> three{Id{"px", "a"}, Id{"ctx", "b"}, Id{"px", "c"}};
  const std::vector<TransformerDefinition> unknown{Id{"px", "a"}, Id{"nope", "b"}};
  const FittedStage pick_c = Select{{"c"}, {2}}, wrong_id = Select{{"b"}, {0}};
  const std::vector<std::pair<std::string, std::string>> cases{
      {text_of(spec({}, {}, 0)), "ok"},
      {text_of(spec(three, {}, 3)), "ok"},
      {text_of(spec(three, {}, 2)), "invalid argument: feature vector capacity 2 is smaller than active length 3"},
      {text_of(spec(unknown, {}, 1)), "invalid argument: feature vector capacity 1 is smaller than active length 2"},
      {text_of(spec(unknown, {wrong_id}, 1)),
       "invalid transformation definition at index 1: input feature ID does not exist in the preceding layout"},
      {text_of(spec({}, {pick_c}, 1)), "invalid pipeline stage 0: input and output layouts must be nonempty"},
      // Only the final width meets the capacity; wider layouts before it do not.
      {text_of(spec(three, {pick_c}, 1)), "ok"},
      {text_of(spec(three, {pick_c, wrong_id}, 1)),
       "invalid pipeline stage 1: selected output IDs must match their input IDs"},
      {text_of(spec(three, {wrong_id, pick_c}, 1)),
       "invalid pipeline stage 0: selected output IDs must match their input IDs"},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
  // A scalar stage is as wide as its transformations.
  const auto scalar = spec(three, {pick_c, FittedStage::Scalar{{Id{"c", "y"}, Id{"c", "z"}}}}, 5).value();
  EXPECT_EQ(scalar.output_ids(), (std::vector<FeatureId>{{"y"}, {"z"}}));
}

TEST(PipelineSpec, BuildChecksModelStoreThenExtractorThenStorage) {
  const auto two = spec({Id{"px", "a"}, Id{"ctx", "b"}}, {}, 3).value();
  const auto store = [](std::size_t capacity, std::size_t length) { return VecFeatureVector::new_of_length(capacity, length); };
  constexpr std::uint64_t kHuge = std::uint64_t{1} << 60;
  const std::vector<std::pair<std::string, std::string>> cases{
      {text_of(two.build(store(9, 2), store(4, 1))),
       "model-input storage has capacity 4, but the model-input spec requires capacity 3"},
      {text_of(two.build(store(9, 2), store(3, 1))),
       "model-input storage has 1 active cells, but the model-input spec requires exactly 2"},
      {text_of(two.build(store(9, 2), store(3, 2))),
       "output storage has capacity 9, but the feature-vector spec requires capacity 2"},
      {text_of(two.build(store(2, 2), store(3, 2))), "ok"},
      // Sizes that no memory can hold are valid specs that fail to build.
      {text_of(spec({Id{"px", "a"}}, {}, kHuge)->build()),
       "cannot allocate the model vector: 1152921504606846976 cells"},
      {text_of(spec({Sma{FV, kHuge, "px", "a"}}, {}, 1)->build()),
       "invalid transformation definition at index 0: transformation storage cannot be allocated"},
      {text_of(spec({Id{"px", "a"}}, {FittedStage::Scalar{{Id{"a", "b"}, Sma{FW, kHuge, "a", "c"}}}}, 2)->build()),
       "invalid pipeline stage 0: invalid transformation definition at index 1: transformation storage cannot be "
       "allocated"},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

// A final capacity beyond memory: the model vector is named with its size,
// after the extractor was built; the same layers build with a capacity that fits.
TEST(PipelineSpec, ModelVectorThatCannotBeAllocatedIsReportedAsSuch) {
  constexpr std::size_t kHuge = std::size_t{1} << 44;
  const auto huge = spec({Id{"px", "a"}}, {}, kHuge)->build();
  ASSERT_FALSE(huge);
  EXPECT_EQ(huge.error(), VornError(vorn_error::StorageUnavailable{StorageTarget::ModelVector, kHuge}));
  EXPECT_EQ(to_string(huge.error()), "cannot allocate the model vector: 17592186044416 cells");
  auto fits = spec({Id{"px", "a"}}, {}, 2)->build();
  ASSERT_TRUE(fits) << to_string(fits.error());
  EXPECT_EQ(fits->model().capacity(), 2u);
}

}  // namespace
}  // namespace vorn
