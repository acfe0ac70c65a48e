#include "engine/features/pipeline/pipeline.hpp"

#include <algorithm>
#include <utility>

namespace vorn {

void refresh_model(std::span<Transformer> layer1, StageRuntime* stages, std::span<const double> raw,
                   std::span<const std::uint8_t> raw_flags, VecFeatureVector& model,
                   std::span<std::uint8_t> model_flags, bool observed) {
  std::ranges::fill(model_flags, std::uint8_t{0});
  if (stages == nullptr) {
    for (Transformer& t : layer1) t.apply(raw, raw_flags, model, model_flags, observed);
    return;
  }
  stages->prepare_input();
  for (Transformer& t : layer1) t.apply(raw, raw_flags, stages->input_values(), stages->input_flags(), observed);
  stages->apply(model, model_flags, observed);
}

Pipeline::Pipeline(FeatureExtractor extractor, VecFeatureVector model, std::optional<StageRuntime> stages,
                   std::vector<Transformer> layer1, UpdateFlags model_flags, std::vector<FeatureId> output_ids)
    : extractor_(std::move(extractor)),
      model_(std::move(model)),
      stages_(std::move(stages)),
      layer1_(std::move(layer1)),
      model_flags_(std::move(model_flags)),
      output_ids_(std::move(output_ids)) {}

void Pipeline::refresh(bool observed) {
  refresh_model(layer1_, stages_ ? &*stages_ : nullptr, extractor_.values().cells(), extractor_.updated(), model_,
                model_flags_.bytes(), observed);
}

}  // namespace vorn
