#include "engine/features/pipeline/stage_runtime.hpp"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>

#include "engine/panic.hpp"

namespace vorn {

StageRuntime::StageRuntime(VecFeatureVector values_a, VecFeatureVector values_b, UpdateFlags flags_a,
                           UpdateFlags flags_b, std::vector<CompiledStage> stages, std::size_t input_width)
    : values_a_(std::move(values_a)),
      values_b_(std::move(values_b)),
      flags_a_(std::move(flags_a)),
      flags_b_(std::move(flags_b)),
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
  const std::size_t width_b = stages.size() >= 2 ? width : 0;
  auto values_a = VecFeatureVector::try_new_of_length(width, width);
  auto values_b = VecFeatureVector::try_new_of_length(width_b, width_b);
  auto flags_a = UpdateFlags::try_new(width);
  auto flags_b = UpdateFlags::try_new(width);
  if (!values_b) return std::unexpected(VornError{vorn_error::StorageUnavailable{StorageTarget::StageBuffer, width_b}});
  if (!values_a || !flags_a || !flags_b) {
    return std::unexpected(VornError{vorn_error::StorageUnavailable{StorageTarget::StageBuffer, width}});
  }
  return StageRuntime(std::move(*values_a), std::move(*values_b), std::move(*flags_a), std::move(*flags_b),
                      std::move(compiled), layer1.size());
}

void StageRuntime::prepare_input() {
  flags_a_.clear();
  std::fill_n(values_a_.cells().begin(), input_width_, std::numeric_limits<double>::quiet_NaN());
}

void StageRuntime::apply(VecFeatureVector& model, std::span<std::uint8_t> model_flags, bool observed) {
  if (stages_.empty()) panic("nonempty stage sequence");
  for (std::size_t i = 0; i + 1 < stages_.size(); ++i) {
    stages_[i].apply(values_a_.cells(), flags_a_.bytes(), values_b_, flags_b_.bytes(), observed);
    std::swap(values_a_, values_b_);
    std::swap(flags_a_, flags_b_);
  }
  stages_.back().apply(values_a_.cells(), flags_a_.bytes(), model, model_flags, observed);
}

}  // namespace vorn
