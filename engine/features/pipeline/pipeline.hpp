// Pipeline: a running model-input pipeline. It owns a feature extractor (the
// raw vector) and recomputes the model vector from it on every refresh:
// layer-1 scalar transformations, then the fitted stages. Built by
// PipelineSpec::build; a refresh allocates nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/features/feature_extractor.hpp"
#include "engine/features/feature_id.hpp"
#include "engine/features/pipeline/stage_runtime.hpp"
#include "engine/features/transformers/transformer.hpp"
#include "engine/update_flags.hpp"
#include "engine/vectors.hpp"

namespace vorn {

// One refresh of the model cells and flags from the raw cells and flags:
// layer 1 straight into the model vector without stages, else into the
// stages' input buffer, whose last stage writes the model vector.
void refresh_model(std::span<Transformer> layer1, StageRuntime* stages, std::span<const double> raw,
                   std::span<const std::uint8_t> raw_flags, VecFeatureVector& model,
                   std::span<std::uint8_t> model_flags, bool observed);

class Pipeline {
public:
  Pipeline(Pipeline&&) noexcept = default;
  Pipeline& operator=(Pipeline&&) noexcept = default;

  // Recomputes the model vector and its flags from the extractor's current
  // cells and flags. `observed` is true after an accepted event and false
  // after an accepted context update: only observed refreshes move the lags.
  void refresh(bool observed);

  // Events and context updates go to the extractor; a refresh follows each
  // one that was accepted.
  FeatureExtractor& extractor() { return extractor_; }
  const FeatureExtractor& extractor() const { return extractor_; }
  // Capacity = the spec's capacity, active length = the final width; cells
  // past the final width hold NaN for good.
  const VecFeatureVector& model() const { return model_; }
  // One flag per model cell for the latest refresh; 0 for reserved cells.
  std::span<const std::uint8_t> model_flags() const { return model_flags_.bytes(); }
  // The ids of the active model cells.
  std::span<const FeatureId> output_ids() const { return output_ids_; }

private:
  friend class PipelineSpec;
  Pipeline(FeatureExtractor extractor, VecFeatureVector model, std::optional<StageRuntime> stages,
           std::vector<Transformer> layer1, UpdateFlags model_flags, std::vector<FeatureId> output_ids);

  FeatureExtractor extractor_;
  VecFeatureVector model_;
  std::optional<StageRuntime> stages_;
  std::vector<Transformer> layer1_;
  UpdateFlags model_flags_;
  std::vector<FeatureId> output_ids_;
};

}  // namespace vorn
