#include "engine/features/pipeline/specs.hpp"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>

#include "engine/features/transformers/compile.hpp"
#include "engine/features/transformers/validate.hpp"

namespace vorn {
namespace {

std::vector<std::string_view> output_layout(std::span<const TransformerDefinition> transformations,
                                            std::span<const FittedStage> stages) {
  if (!stages.empty()) return stages.back().outputs();
  std::vector<std::string_view> ids;
  ids.reserve(transformations.size());
  for (const auto& definition : transformations) ids.emplace_back(definition.output());
  return ids;
}

}  // namespace

PipelineSpec::PipelineSpec(FeatureExtractorSpec feature_extractor, std::vector<TransformerDefinition> transformations,
                           std::vector<FittedStage> stages, std::optional<std::string> checksum, std::size_t capacity)
    : feature_extractor_(std::move(feature_extractor)),
      transformations_(std::move(transformations)),
      stages_(std::move(stages)),
      checksum_(std::move(checksum)),
      capacity_(capacity) {}

Result<PipelineSpec> PipelineSpec::with_stages(FeatureExtractorSpec feature_extractor,
                                               std::vector<TransformerDefinition> transformations,
                                               std::vector<FittedStage> stages, std::size_t capacity,
                                               std::optional<std::string> checksum) {
  const std::size_t width = final_width(transformations, stages);
  if (capacity < width) {
    return std::unexpected(VornError{InvalidArgumentError{argument_error::FeatureVectorCapacityTooSmall{capacity, width}}});
  }
  std::vector<std::string_view> raw_ids;
  raw_ids.reserve(feature_extractor.definitions().size());
  for (const auto& definition : feature_extractor.definitions()) raw_ids.emplace_back(definition.id.view());
  if (auto valid = transformers::validate(transformations, raw_ids); !valid) {
    return std::unexpected(std::move(valid.error()));
  }
  std::vector<std::string_view> layout = output_layout(transformations, {});
  for (std::size_t i = 0; i < stages.size(); ++i) {
    if (auto message = stages[i].validate(layout)) {
      return std::unexpected(VornError{vorn_error::InvalidPipelineStage{i, std::move(*message)}});
    }
    layout = stages[i].outputs();
  }
  return PipelineSpec(std::move(feature_extractor), std::move(transformations), std::move(stages),
                      std::move(checksum), capacity);
}

std::size_t PipelineSpec::final_width(std::span<const TransformerDefinition> transformations,
                                      std::span<const FittedStage> stages) {
  return stages.empty() ? transformations.size() : stages.back().outputs().size();
}

std::vector<FeatureId> PipelineSpec::output_ids() const {
  std::vector<FeatureId> ids;
  for (const std::string_view id : output_layout(transformations_, stages_)) ids.push_back(FeatureId{std::string(id)});
  return ids;
}

Result<Pipeline> PipelineSpec::build(VecFeatureVector raw, VecFeatureVector model) const {
  if (model.capacity() != capacity_) {
    return std::unexpected(VornError{vorn_error::ModelVectorCapacityMismatch{capacity_, model.capacity()}});
  }
  if (const std::size_t width = feature_vector_length(); model.length() != width) {
    return std::unexpected(VornError{vorn_error::ModelVectorLengthMismatch{width, model.length()}});
  }
  auto extractor = feature_extractor_.build(std::move(raw));
  if (!extractor) return std::unexpected(std::move(extractor.error()));
  return assemble(std::move(*extractor), std::move(model));
}

Result<Pipeline> PipelineSpec::build() const {
  auto extractor = feature_extractor_.build();
  if (!extractor) return std::unexpected(std::move(extractor.error()));
  auto model = VecFeatureVector::try_new_of_length(capacity_, feature_vector_length());
  if (!model) return std::unexpected(VornError{vorn_error::StorageUnavailable{StorageTarget::ModelVector, capacity_}});
  return assemble(std::move(*extractor), std::move(*model));
}

Result<Pipeline> PipelineSpec::assemble(FeatureExtractor extractor, VecFeatureVector model) const {
  std::vector<std::string_view> raw_ids;
  raw_ids.reserve(extractor.ids().size());
  for (const FeatureId& id : extractor.ids()) raw_ids.emplace_back(id.view());
  auto layer1 = transformers::compile(transformations_, raw_ids);
  if (!layer1) return std::unexpected(std::move(layer1.error()));
  std::ranges::fill(model.cells(), std::numeric_limits<double>::quiet_NaN());
  auto stages = StageRuntime::create(transformations_, stages_);
  if (!stages) return std::unexpected(std::move(stages.error()));
  auto flags = UpdateFlags::try_new(capacity_);
  if (!flags) return std::unexpected(VornError{vorn_error::StorageUnavailable{StorageTarget::ModelVector, capacity_}});
  return Pipeline(std::move(extractor), std::move(model), std::move(*stages), std::move(*layer1), std::move(*flags),
                  output_ids());
}

}  // namespace vorn
