// Storage that cannot be obtained although its size is modest (memory is
// short): calloc is replaced in this process so that chosen requests fail,
// which reaches the buffers no input can make too large, such as the stage
// buffers, whose width is that of the stage lists the spec already holds.
// Under AddressSanitizer, which owns the allocator, the test is skipped.
#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/errors.hpp"
#include "engine/features/pipeline/specs.hpp"
#include "engine/features/serde/feature_extractor_spec.hpp"
#include "tests/engine/features/feature_test_support.hpp"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORN_SANITIZED_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VORN_SANITIZED_ALLOCATOR 1
#endif

namespace {
// While set, calloc refuses requests of exactly this many elements of this size.
struct Refused {
  std::size_t count;
  std::size_t size;
};
std::optional<Refused> refused;
}  // namespace

#ifndef VORN_SANITIZED_ALLOCATOR
extern "C" {
void* __libc_calloc(std::size_t count, std::size_t size);
void* calloc(std::size_t count, std::size_t size) {
  if (refused && refused->count == count && refused->size == size) return nullptr;
  return __libc_calloc(count, size);
}
}
#endif

namespace vorn {
namespace {

using namespace feature_test;
using Id = TransformerDefinition::Identity;
using Select = FittedStage::Select;

// One raw cell; five layer-1 cells (the widest layer, so the stage buffers
// hold five cells), two selections down to one final cell, capacity 3.
[[maybe_unused]] PipelineSpec five_wide() {
  auto raw = FeatureExtractorSpec::with_metadata({def("px", Field{sym("x"), ValueField::Price})}, 1, std::nullopt).value();
  std::vector<TransformerDefinition> layer1{Id{"px", "a"}, Id{"px", "b"}, Id{"px", "c"}, Id{"px", "d"},
                                            Id{"px", "e"}};
  std::vector<FittedStage> stages{Select{{"a", "b"}, {0, 1}}, Select{{"b"}, {1}}};
  return PipelineSpec::with_stages(std::move(raw), std::move(layer1), std::move(stages), 3, std::nullopt).value();
}

// The error of a build while calloc refuses (count, size), then a build with
// calloc restored, which must succeed.
template <class Spec>
std::string refused_build(const Spec& spec, std::size_t count, std::size_t size) {
  refused = Refused{count, size};
  auto failed = spec.build();
  refused.reset();
  auto built = spec.build();
  if (!built) return "no build after the refusal: " + to_string(built.error());
  return failed ? "built" : to_string(failed.error());
}

TEST(StorageAllocation, EachVectorAndBufferThatCannotBeObtainedIsNamed) {
#ifdef VORN_SANITIZED_ALLOCATOR
  GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
#else
  const PipelineSpec pipeline = five_wide();
  const FeatureExtractorSpec seven =
      FeatureExtractorSpec::with_metadata({def("py", Field{sym("y"), ValueField::Price})}, 7, std::nullopt).value();
  // The cells (8 bytes each) and the update flags (1 byte each) of every store.
  EXPECT_EQ(refused_build(seven, 7, sizeof(double)), "cannot allocate the feature vector: 7 cells");
  EXPECT_EQ(refused_build(seven, 7, 1), "cannot allocate the feature vector: 7 cells");
  EXPECT_EQ(refused_build(pipeline, 1, sizeof(double)), "cannot allocate the feature vector: 1 cells");
  EXPECT_EQ(refused_build(pipeline, 3, sizeof(double)), "cannot allocate the model vector: 3 cells");
  EXPECT_EQ(refused_build(pipeline, 3, 1), "cannot allocate the model vector: 3 cells");
  EXPECT_EQ(refused_build(pipeline, 5, sizeof(double)), "cannot allocate a stage buffer: 5 cells");
  EXPECT_EQ(refused_build(pipeline, 5, 1), "cannot allocate a stage buffer: 5 cells");
  const auto error = [&] {
    refused = Refused{5, sizeof(double)};
    auto failed = pipeline.build();
    refused.reset();
    return failed.error();
  }();
  EXPECT_EQ(error, VornError(vorn_error::StorageUnavailable{StorageTarget::StageBuffer, 5}));
#endif
}

}  // namespace
}  // namespace vorn
