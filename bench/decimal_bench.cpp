// Costs of the exact decimal operations that order-book queries run per event.
#include <benchmark/benchmark.h>

#include "engine/decimal.hpp"

namespace {

using vorn::Decimal;

const Decimal kPrice = *Decimal::parse("64250.37");
const Decimal kOtherPrice = *Decimal::parse("64250.4");
const Decimal kSize = *Decimal::parse("0.01735");

void BM_CompareAcrossScales(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kPrice < kOtherPrice);
}
BENCHMARK(BM_CompareAcrossScales);

void BM_Add(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kPrice.checked_add(kOtherPrice));
}
BENCHMARK(BM_Add);

void BM_Multiply(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kPrice.checked_mul(kSize));
}
BENCHMARK(BM_Multiply);

void BM_DivideByTwo(benchmark::State& state) {
  const Decimal sum = *kPrice.checked_add(kOtherPrice);
  const Decimal two = Decimal::from_int(2);
  for (auto _ : state) benchmark::DoNotOptimize(sum.checked_div(two));
}
BENCHMARK(BM_DivideByTwo);

void BM_DivideInexact(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kPrice.checked_div(kSize));
}
BENCHMARK(BM_DivideInexact);

void BM_ToF64(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kPrice.to_f64());
}
BENCHMARK(BM_ToF64);

void BM_Parse(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Decimal::parse("64250.37"));
}
BENCHMARK(BM_Parse);

}  // namespace

BENCHMARK_MAIN();
