#include "engine/features/pipeline/stage_runtime.hpp"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>

#include "engine/panic.hpp"

namespace vorn {

StageRuntime::StageRuntime(VecFeatureVector values_a, VecFeatureVector values_b, std::size_t width,
                           std::vector<CompiledStage> stages, std::size_t input_width)
    : values_a_(std::move(values_a)),
      values_b_(std::move(values_b)),
      flags_a_(width, 0),
      flags_b_(width, 0),
      stages_(std::move(stages)),
      input_width_(input_width) {}

Result<std::optional<StageRuntime>> StageRuntime::create(std::span<const TransformerDefinition> layer1,
                                                         std::span<const FittedStage> stages) {
  if (stages.empty()) return std::nullopt;
  std::vector<std::string_view> ids;
  ids.reserve(layer1.size());
  for (const auto& definition : layer1) ids.emplace_back(definition.output());
  std::size_t width = ids.size();
  std::vector<CompiledStage> compiled;
  compiled.reserve(stages.size());
  for (std::size_t i = 0; i < stages.size(); ++i) {
    auto stage = CompiledStage::compile(stages[i], ids);
    if (!stage) return std::unexpected(VornError{vorn_error::InvalidPipelineStage{i, to_string(stage.error())}});
    compiled.push_back(std::move(*stage));
    ids = stages[i].outputs();
    width = std::max(width, ids.size());
  }
  // The buffers are no wider than id lists already held in memory.
  auto values_a = VecFeatureVector::new_of_length(width, width);
  const std::size_t width_b = stages.size() >= 2 ? width : 0;
  auto values_b = VecFeatureVector::new_of_length(width_b, width_b);
  return StageRuntime(std::move(values_a), std::move(values_b), width, std::move(compiled), layer1.size());
}

void StageRuntime::prepare_input() {
  std::fill(flags_a_.begin(), flags_a_.end(), std::uint8_t{0});
  std::fill_n(values_a_.cells().begin(), input_width_, std::numeric_limits<double>::quiet_NaN());
}

void StageRuntime::apply(VecFeatureVector& model, std::span<std::uint8_t> model_flags, bool observed) {
  if (stages_.empty()) panic("nonempty stage sequence");
  for (std::size_t i = 0; i + 1 < stages_.size(); ++i) {
    stages_[i].apply(values_a_.cells(), flags_a_, values_b_, flags_b_, observed);
    std::swap(values_a_, values_b_);
    std::swap(flags_a_, flags_b_);
  }
  stages_.back().apply(values_a_.cells(), flags_a_, model, model_flags, observed);
}

}  // namespace vorn
