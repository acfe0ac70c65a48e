// StageRuntime: the compiled stages of one pipeline and two working buffers,
// each as wide as the widest layout. Layer 1 writes into the input buffer;
// each stage reads one buffer and writes the other, and the last stage writes
// the model vector. A refresh allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/errors.hpp"
#include "engine/features/pipeline/compiled_stages.hpp"
#include "engine/features/pipeline/stages.hpp"
#include "engine/features/transformers/transformer_definition.hpp"
#include "engine/update_flags.hpp"
#include "engine/vectors.hpp"

namespace vorn {

class StageRuntime {
public:
  // None without stages. Every stage passed FittedStage::validate against the
  // layout before it (stage 0 against the layer-1 outputs). A scalar stage
  // whose transformer storage cannot be obtained is
  // InvalidPipelineStage{stage index, display text of the compile error};
  // buffers that cannot be obtained are StorageUnavailable{StageBuffer, width}.
  static Result<std::optional<StageRuntime>> create(std::span<const TransformerDefinition> layer1,
                                                    std::span<const FittedStage> stages);

  StageRuntime(StageRuntime&&) noexcept = default;
  StageRuntime& operator=(StageRuntime&&) noexcept = default;

  // Clears the input flags and writes NaN into the layer-1 cells of the input
  // buffer; layer 1 then writes into input_values() and input_flags().
  void prepare_input();
  VecFeatureVector& input_values() { return values_a_; }
  std::span<std::uint8_t> input_flags() { return flags_a_.bytes(); }

  // Runs every stage in order, the last into `model` and `model_flags`.
  void apply(VecFeatureVector& model, std::span<std::uint8_t> model_flags, bool observed);

  // The widest layout: layer 1 and every stage's outputs.
  std::size_t width() const { return values_a_.capacity(); }
  std::size_t input_width() const { return input_width_; }
  std::size_t stage_count() const { return stages_.size(); }

private:
  StageRuntime(VecFeatureVector values_a, VecFeatureVector values_b, UpdateFlags flags_a, UpdateFlags flags_b,
               std::vector<CompiledStage> stages, std::size_t input_width);

  VecFeatureVector values_a_;
  VecFeatureVector values_b_;  // no cells with a single stage
  UpdateFlags flags_a_;
  UpdateFlags flags_b_;
  std::vector<CompiledStage> stages_;
  std::size_t input_width_ = 0;
};

}  // namespace vorn
