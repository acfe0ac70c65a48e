// Cost of one update of each rolling indicator with one window of 10 and of
// 100,000 samples (or buckets). Every timed update opens a new bucket and
// expires the oldest, the steady state of a full window.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/indicators/averages/simple_moving_average.hpp"
#include "engine/indicators/averages/simple_moving_average_timed.hpp"
#include "engine/indicators/counts/trade_count_timed.hpp"
#include "engine/indicators/timed_sum.hpp"
#include "engine/indicators/volatility/rolling_volatility.hpp"
#include "engine/indicators/volatility/rolling_volatility_timed.hpp"
#include "engine/indicators/volume/cumulative_volume_delta.hpp"
#include "engine/indicators/volume/on_balance_volume_timed.hpp"

namespace vorn {
namespace {

// A repeating price path with rises, falls and flat steps.
struct Prices {
  std::array<double, 1024> values{};
  Prices() {
    std::uint64_t state = 12345;
    double price = 100.0;
    for (double& v : values) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      price += static_cast<double>(static_cast<int>(state >> 61) - 3) * 0.25;
      v = price;
    }
  }
  double operator[](std::int64_t i) const { return values[static_cast<std::size_t>(i) & 1023]; }
};
const Prices kPrices;

constexpr Duration kOneMs = Duration::from_millis(1);

// Feeds `step(i)` for a whole window and more before timing, then times it.
template <class Step>
void run(benchmark::State& state, std::int64_t window, Step step) {
  std::int64_t i = 0;
  for (; i < window + 1000; ++i) step(i);
  for (auto _ : state) {
    step(i);
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}

std::size_t window_of(const benchmark::State& state) { return static_cast<std::size_t>(state.range(0)); }

void BM_RollingTimedSum(benchmark::State& state) {
  const std::size_t p = window_of(state);
  auto sum = RollingTimedSum<2, 16>::new_heap(kOneMs, p + 1, WarmupPolicy::FirstValue).value();
  (void)sum.add_window(p);
  run(state, static_cast<std::int64_t>(p), [&](std::int64_t i) {
    sum.update({kPrices[i], 1.0}, i);
    benchmark::DoNotOptimize(sum.sums(0));
  });
}

void BM_TradeCountTimed(benchmark::State& state) {
  const auto p = static_cast<std::uint64_t>(state.range(0));
  auto count = TradeCountTimed::new_heap(kOneMs, Duration::from_millis(p), WarmupPolicy::FirstValue)
                   .value();
  run(state, static_cast<std::int64_t>(p), [&](std::int64_t i) {
    count.update(1.0, i);
    benchmark::DoNotOptimize(count.count());
  });
}

void BM_OnBalanceVolumeTimed(benchmark::State& state) {
  const std::size_t p = window_of(state);
  auto obv = OnBalanceVolumeTimed::try_new(kOneMs, p + 1, WarmupPolicy::FirstValue).value();
  (void)obv.add_window(p);
  run(state, static_cast<std::int64_t>(p), [&](std::int64_t i) {
    obv.update(i, kPrices[i], 2.0);
    benchmark::DoNotOptimize(obv.sum(0));
  });
}

void BM_CumulativeVolumeDelta(benchmark::State& state) {
  const std::size_t n = window_of(state);
  auto cvd = CumulativeVolumeDelta::try_new(n, WarmupPolicy::FirstValue).value();
  (void)cvd.add_window(n);
  run(state, static_cast<std::int64_t>(n), [&](std::int64_t i) {
    cvd.update_inner((i & 1) != 0 ? AggressorSide::Sell : AggressorSide::Buy, kPrices[i]);
    benchmark::DoNotOptimize(cvd.sum(0));
  });
}

void BM_SimpleMovingAverage(benchmark::State& state) {
  const std::size_t n = window_of(state);
  auto sma = SimpleMovingAverage::try_new(n, WarmupPolicy::FirstValue).value();
  (void)sma.add_window(n);
  run(state, static_cast<std::int64_t>(n), [&](std::int64_t i) {
    sma.update(kPrices[i]);
    benchmark::DoNotOptimize(sma.average(0));
  });
}

void BM_SimpleMovingAverageTimed(benchmark::State& state) {
  const std::size_t p = window_of(state);
  auto sma = SimpleMovingAverageTimed::try_new(kOneMs, p + 1, WarmupPolicy::FirstValue).value();
  (void)sma.add_window(p);
  run(state, static_cast<std::int64_t>(p), [&](std::int64_t i) {
    sma.update(kPrices[i], i);
    benchmark::DoNotOptimize(sma.average(0));
  });
}

void BM_RollingVolatility(benchmark::State& state) {
  const std::size_t n = window_of(state);
  auto volatility = RollingVolatility::try_new(n, WarmupPolicy::FirstValue).value();
  (void)volatility.add_window(n);
  run(state, static_cast<std::int64_t>(n), [&](std::int64_t i) {
    volatility.update(kPrices[i]);
    benchmark::DoNotOptimize(volatility.moments(0));
  });
}

void BM_RollingVolatilityTimed(benchmark::State& state) {
  const std::size_t p = window_of(state);
  auto volatility = RollingVolatilityTimed::try_new(kOneMs, p + 1, WarmupPolicy::FirstValue).value();
  (void)volatility.add_window(p);
  run(state, static_cast<std::int64_t>(p), [&](std::int64_t i) {
    volatility.update(kPrices[i], i);
    benchmark::DoNotOptimize(volatility.moments(0));
  });
}

BENCHMARK(BM_RollingTimedSum)->Arg(10)->Arg(100'000);
BENCHMARK(BM_TradeCountTimed)->Arg(10)->Arg(100'000);
BENCHMARK(BM_OnBalanceVolumeTimed)->Arg(10)->Arg(100'000);
BENCHMARK(BM_CumulativeVolumeDelta)->Arg(10)->Arg(100'000);
BENCHMARK(BM_SimpleMovingAverage)->Arg(10)->Arg(100'000);
BENCHMARK(BM_SimpleMovingAverageTimed)->Arg(10)->Arg(100'000);
BENCHMARK(BM_RollingVolatility)->Arg(10)->Arg(100'000);
BENCHMARK(BM_RollingVolatilityTimed)->Arg(10)->Arg(100'000);

}  // namespace
}  // namespace vorn

BENCHMARK_MAIN();
