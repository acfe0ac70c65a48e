#include "engine/features/transformers/compile.hpp"

#include <limits>
#include <map>
#include <tuple>
#include <unordered_map>

#include "engine/panic.hpp"

namespace vorn::transformers {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The member windows (lags or average windows) and output cells of one group.
struct Group {
  explicit Group(std::size_t input_index) : input(input_index) {}

  std::size_t input = 0;
  std::vector<std::uint64_t> windows;
  std::vector<std::size_t> outputs;
  std::uint64_t largest_window = 0;
  // The first definition with the largest window: it sizes the ring.
  std::size_t largest_definition = 0;

  void add(std::uint64_t window, std::size_t definition) {
    if (windows.empty() || window > largest_window) {
      largest_window = window;
      largest_definition = definition;
    }
    windows.push_back(window);
    outputs.push_back(definition);
  }
};

struct AverageGroup {
  bool is_ema = false;
  WarmupPolicy warmup = WarmupPolicy::FirstValue;
  Group members;
};

std::unexpected<VornError> storage_unavailable(std::size_t definition) {
  return std::unexpected(VornError{vorn_error::InvalidTransformationDefinition{
      definition, InvalidTransformationDefinitionError::StorageUnavailable}});
}

Result<Transformer> build_lagged(const Group& group) {
  if (group.windows.empty()) panic("At least one lag window is required");
  if (group.windows.size() != group.outputs.size()) panic("Lag window and output counts must match");
  for (std::uint64_t lag : group.windows) {
    if (lag == 0) panic("Lag windows must be positive");
  }
  auto history = HeapRingBuffer<double>::try_new(group.largest_window);
  if (!history) return storage_unavailable(group.largest_definition);
  LaggedFeature lagged{std::move(*history), {}, group.input};
  lagged.members.reserve(group.windows.size());
  for (std::size_t k = 0; k < group.windows.size(); ++k) {
    lagged.members.push_back({group.windows[k], group.outputs[k], kNaN});
  }
  return Transformer{std::move(lagged)};
}

Result<AverageTransformer::State> average_state(const AverageGroup& group) {
  if (group.members.windows.size() > AverageTransformer::kMaxOutputs) {
    panic("validated average windows");
  }
  if (group.is_ema) {
    ExponentialMovingAverage ema(group.warmup);
    for (std::uint64_t window : group.members.windows) ema.add_window(window);
    return ema;
  }
  for (std::uint64_t window : group.members.windows) {
    if (window == 0) panic("validated average windows");
  }
  auto sma = SimpleMovingAverage::try_new(group.members.largest_window, group.warmup);
  if (!sma) return storage_unavailable(group.members.largest_definition);
  for (std::uint64_t window : group.members.windows) {
    if (!sma->add_window(window)) panic("validated average windows");
  }
  return std::move(*sma);
}

Result<Transformer> build_average(const AverageGroup& group) {
  auto state = average_state(group);
  if (!state) return std::unexpected(std::move(state.error()));
  auto average = std::make_unique<AverageTransformer>(AverageTransformer{
      .outputs = {}, .values = {}, .output_count = group.members.outputs.size(),
      .input = group.members.input, .state = std::move(*state)});
  for (std::size_t k = 0; k < average->output_count; ++k) {
    average->outputs[k] = group.members.outputs[k];
    average->values[k] = kNaN;
  }
  return Transformer{std::move(average)};
}

}  // namespace

Result<std::vector<Transformer>> compile(std::span<const TransformerDefinition> definitions,
                                         std::span<const std::string_view> input_ids) {
  std::unordered_map<std::string_view, std::size_t> first_index;
  for (std::size_t i = 0; i < input_ids.size(); ++i) first_index.emplace(input_ids[i], i);

  std::vector<Transformer> transformers;
  transformers.reserve(definitions.size());
  std::vector<Group> lag_groups;
  std::unordered_map<std::size_t, std::size_t> lag_group_of_input;
  std::vector<AverageGroup> average_groups;
  std::map<std::tuple<std::size_t, bool, WarmupPolicy>, std::size_t> average_group_of_key;

  const auto add_average = [&](bool is_ema, std::size_t input, std::size_t i, const auto& d) {
    const auto [it, inserted] =
        average_group_of_key.try_emplace({input, is_ema, d.warmup}, average_groups.size());
    if (inserted) average_groups.push_back({is_ema, d.warmup, Group(input)});
    average_groups[it->second].members.add(d.window, i);
  };

  for (std::size_t i = 0; i < definitions.size(); ++i) {
    const TransformerDefinition& definition = definitions[i];
    const auto found = first_index.find(definition.input());
    if (found == first_index.end()) panic("pipeline construction validated every input ID");
    const std::size_t input = found->second;
    if (std::holds_alternative<TransformerDefinition::Identity>(definition.value)) {
      transformers.push_back(Transformer::Identity{input, i});
    } else if (const auto* scale = std::get_if<TransformerDefinition::StandardScale>(&definition.value)) {
      transformers.push_back(Transformer::StandardScale{input, i, scale->mean, 1.0 / scale->scale});
    } else if (const auto* lag = std::get_if<TransformerDefinition::Lagged>(&definition.value)) {
      const auto [it, inserted] = lag_group_of_input.try_emplace(input, lag_groups.size());
      if (inserted) lag_groups.push_back(Group(input));
      lag_groups[it->second].add(lag->lag_window, i);
    } else if (const auto* ema = std::get_if<TransformerDefinition::Ema>(&definition.value)) {
      add_average(true, input, i, *ema);
    } else {
      add_average(false, input, i, std::get<TransformerDefinition::Sma>(definition.value));
    }
  }

  for (const Group& group : lag_groups) {
    auto lagged = build_lagged(group);
    if (!lagged) return std::unexpected(std::move(lagged.error()));
    transformers.push_back(std::move(*lagged));
  }
  for (const AverageGroup& group : average_groups) {
    auto average = build_average(group);
    if (!average) return std::unexpected(std::move(average.error()));
    transformers.push_back(std::move(*average));
  }
  return transformers;
}

}  // namespace vorn::transformers
