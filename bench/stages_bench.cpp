// Cost of one pipeline refresh through the stage runtime (layer 1 of copies,
// then the fitted stages). The malloc family is counted while the timed loop
// runs: "allocations_per_refresh" should be 0.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bench/allocation_counter.hpp"
#include "engine/features/pipeline/pipeline.hpp"
#include "engine/features/transformers/compile.hpp"

namespace {

using namespace vorn;

constexpr std::size_t kInputs = 64;
constexpr std::size_t kRows = 256;

std::vector<std::string> names(const char* prefix, std::size_t n) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(fmt::format("{}{}", prefix, i));
  return out;
}

// Layer 1 (a copy of every raw cell), the stage runtime and the model vector:
// the parts of a pipeline that one refresh runs.
struct Refresh {
  std::vector<Transformer> layer1;
  StageRuntime stages;
  VecFeatureVector model;
  std::vector<std::uint8_t> model_flags;

  static Refresh build(const std::vector<FittedStage>& fitted) {
    const auto raw = names("f", kInputs);
    const std::vector<std::string_view> raw_ids(raw.begin(), raw.end());
    std::vector<TransformerDefinition> definitions;
    for (const auto& id : raw) definitions.emplace_back(TransformerDefinition::Identity{id, id});
    std::vector<std::string_view> ids = raw_ids;
    for (const auto& stage : fitted) {
      if (stage.validate(ids)) std::abort();
      ids = stage.outputs();
    }
    const std::size_t width = ids.size();
    return Refresh{std::move(*transformers::compile(definitions, raw_ids)),
                   std::move(**StageRuntime::create(definitions, fitted)),
                   VecFeatureVector::new_of_length(width, width), std::vector<std::uint8_t>(width, 0)};
  }

  void run(std::span<const double> raw, std::span<const std::uint8_t> raw_flags) {
    refresh_model(layer1, &stages, raw, raw_flags, model, model_flags, true);
  }
};

std::vector<std::vector<double>> rows(std::mt19937_64& rng) {
  std::normal_distribution<double> normal(0.0, 2.0);
  std::vector<std::vector<double>> out(kRows, std::vector<double>(kInputs));
  for (auto& row : out) {
    for (double& v : row) v = normal(rng);
  }
  return out;
}

void measure(benchmark::State& state, Refresh& refresh, const std::vector<std::vector<double>>& data) {
  const std::vector<std::uint8_t> flags(kInputs, 1);
  std::size_t row = 0;
  allocations = 0;
  counting = true;
  for (auto _ : state) {
    refresh.run(data[row], flags);
    benchmark::DoNotOptimize(refresh.model.cells().data());
    row = row + 1 == kRows ? 0 : row + 1;
  }
  counting = false;
  state.counters["allocations_per_refresh"] =
      static_cast<double>(allocations.load()) / static_cast<double>(state.iterations());
}

void BM_StandardScaleThenPca64To16(benchmark::State& state) {
  std::mt19937_64 rng(1);
  std::normal_distribution<double> normal;
  const auto inputs = names("f", kInputs);
  std::vector<double> mean(kInputs), scale(kInputs);
  for (std::size_t i = 0; i < kInputs; ++i) {
    mean[i] = normal(rng);
    scale[i] = 0.5 + std::abs(normal(rng));
  }
  std::vector<std::vector<double>> components(16, std::vector<double>(kInputs));
  for (auto& row : components) {
    for (double& v : row) v = normal(rng) * 0.125;
  }
  std::vector<double> pca_mean(kInputs, 0.0), output_scale(16, 1.5);
  Refresh refresh = Refresh::build({FittedStage::StandardScale{inputs, mean, scale},
                                    FittedStage::Pca{names("pc", 16), pca_mean, components, output_scale}});
  measure(state, refresh, rows(rng));
}
BENCHMARK(BM_StandardScaleThenPca64To16);

void BM_QuantileTransform64x1000(benchmark::State& state) {
  const bool normal_output = state.range(0) == 1;
  std::mt19937_64 rng(2);
  std::normal_distribution<double> normal(0.0, 2.0);
  constexpr std::size_t kQuantiles = 1000;
  std::vector<std::vector<double>> quantiles(kQuantiles, std::vector<double>(kInputs));
  for (std::size_t j = 0; j < kInputs; ++j) {
    std::vector<double> column(kQuantiles);
    for (double& v : column) v = normal(rng);
    std::sort(column.begin(), column.end());
    for (std::size_t q = 0; q < kQuantiles; ++q) quantiles[q][j] = column[q];
  }
  std::vector<double> references(kQuantiles);
  for (std::size_t q = 0; q < kQuantiles; ++q) references[q] = static_cast<double>(q) / (kQuantiles - 1);
  std::optional<ClipBounds> clip;
  if (normal_output) clip = ClipBounds{-5.199337582605575, 5.19933758270342};
  Refresh refresh = Refresh::build({FittedStage::QuantileTransform{
      clip, names("f", kInputs), normal_output ? "normal" : "uniform", quantiles, references, {}, 1e-7}});
  measure(state, refresh, rows(rng));
}
BENCHMARK(BM_QuantileTransform64x1000)->ArgName("normal")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
