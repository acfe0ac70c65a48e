// PipelineSpec: a model-input pipeline as authored: the feature-extractor
// spec, the layer-1 scalar transformations over its raw features, the fitted
// stages after them, an optional checksum and the model vector's capacity.
// Its one constructor checks the whole chain; build() turns it into a
// running Pipeline.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/errors.hpp"
#include "engine/features/feature_id.hpp"
#include "engine/features/pipeline/pipeline.hpp"
#include "engine/features/pipeline/stages.hpp"
#include "engine/features/serde/feature_extractor_spec.hpp"
#include "engine/features/transformers/transformer_definition.hpp"
#include "engine/vectors.hpp"

namespace vorn {

class PipelineSpec {
public:
  // The spec with these five parts, checked in this order (the first failure
  // wins): the capacity against the final width (FeatureVectorCapacityTooSmall),
  // the transformations against the raw feature ids, then each stage against
  // the layout before it (InvalidPipelineStage{index, message}). An empty
  // spec (no transformations, no stages) cannot fail.
  static Result<PipelineSpec> with_stages(FeatureExtractorSpec feature_extractor,
                                          std::vector<TransformerDefinition> transformations,
                                          std::vector<FittedStage> stages, std::size_t capacity,
                                          std::optional<std::string> checksum);

  // The final width: the last stage's output count, or without stages the
  // number of transformations.
  std::size_t feature_vector_length() const { return final_width(transformations_, stages_); }
  static std::size_t final_width(std::span<const TransformerDefinition> transformations,
                                 std::span<const FittedStage> stages);
  // The ids of the final layout, in order.
  std::vector<FeatureId> output_ids() const;

  // A pipeline over these stores: `model` must have the spec's capacity
  // (ModelVectorCapacityMismatch) and the final width as its active length
  // (ModelVectorLengthMismatch); `raw` is checked and used by the
  // feature-extractor spec's build, whose errors pass unchanged. Then layer 1
  // and the stages are compiled; every model cell starts as NaN.
  Result<Pipeline> build(VecFeatureVector raw, VecFeatureVector model) const;
  // As build(raw, model) with both stores obtained here. Model storage that
  // cannot be obtained fails, after the extractor's errors, with
  // StorageUnavailable{ModelVector, capacity}, as do its flags; stage buffers
  // with StorageUnavailable{StageBuffer, width}.
  Result<Pipeline> build() const;

  const FeatureExtractorSpec& feature_extractor() const { return feature_extractor_; }
  const std::vector<TransformerDefinition>& transformations() const { return transformations_; }
  const std::vector<FittedStage>& stages() const { return stages_; }
  const std::optional<std::string>& checksum() const { return checksum_; }
  std::size_t capacity() const { return capacity_; }

  friend bool operator==(const PipelineSpec&, const PipelineSpec&) = default;

private:
  PipelineSpec(FeatureExtractorSpec feature_extractor, std::vector<TransformerDefinition> transformations,
               std::vector<FittedStage> stages, std::optional<std::string> checksum, std::size_t capacity);
  Result<Pipeline> assemble(FeatureExtractor extractor, VecFeatureVector model) const;

  FeatureExtractorSpec feature_extractor_;
  std::vector<TransformerDefinition> transformations_;
  std::vector<FittedStage> stages_;
  std::optional<std::string> checksum_;
  std::size_t capacity_ = 0;
};

}  // namespace vorn
