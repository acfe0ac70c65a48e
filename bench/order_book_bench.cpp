// Order-book cost per delta: five level changes near the top of the book,
// then every best-level query and the imbalance over 10 levels; for sparse
// books of 100 and 10,000 levels a side and for a dense ladder. The malloc
// family is counted while the timed loop runs: "allocs_per_delta" should be 0.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/allocation_counter.hpp"
#include "engine/order_book/book.hpp"

namespace vorn {
namespace {

constexpr std::uint64_t kDeltasPerSnapshot = 1000;
constexpr std::size_t kBufferSize = 1024;

Decimal cents(std::int64_t value) { return Decimal::from_parts(value, 2, false).value(); }

enum class Storage { Sparse, Dense };

// A book of `levels` levels a side (every other cent, so a ladder has empty
// slots between them), and a cycle of two deltas that changes five levels near
// the top and then restores them.
struct Fixture {
  std::vector<Level> bids;
  std::vector<Level> asks;
  std::vector<std::vector<LevelUpdate>> cycle;
  OrderBook book;

  Fixture(Storage storage, std::int64_t levels)
      : book(storage == Storage::Sparse
                 ? OrderBook::new_sparse(UpdatePolicy::Contiguous, kBufferSize).value()
                 : OrderBook::new_dense(UpdatePolicy::Contiguous, kBufferSize, cents(1), cents(0),
                                        cents(2'000'000)).value()) {
    const std::int64_t mid = 1'000'000;
    for (std::int64_t i = 0; i < levels; ++i) {
      bids.push_back({cents(mid - 1 - 2 * i), cents(100 + i % 7)});
      asks.push_back({cents(mid + 1 + 2 * i), cents(100 + i % 5)});
    }
    cycle = {
        {{bids[0].price, cents(250), Side::Bid},
         {asks[0].price, cents(175), Side::Ask},
         {bids[1].price, cents(310), Side::Bid},
         {bids[2].price, cents(0), Side::Bid},
         {asks[2].price, cents(0), Side::Ask}},
        {{bids[2].price, bids[2].size, Side::Bid},
         {asks[2].price, asks[2].size, Side::Ask},
         {bids[0].price, bids[0].size, Side::Bid},
         {asks[0].price, asks[0].size, Side::Ask},
         {bids[1].price, bids[1].size, Side::Bid}},
    };
    resnapshot(0);
  }

  // The book is back at its starting levels after every whole cycle.
  void resnapshot(std::uint64_t id) {
    const OrderBookUpdate update = OrderBookSnapshot{bids, asks, id};
    if (!book.commit_update(book.prepare_update(update), update, 0)) std::abort();
  }

  void step(std::uint64_t id) {
    const OrderBookUpdate update = OrderBookDelta{cycle[id % 2], id};
    const auto outcome = book.commit_update(book.prepare_update(update), update, 0);
    if (!outcome) std::abort();
    benchmark::DoNotOptimize(outcome);
  }

  void query() const {
    benchmark::DoNotOptimize(book.best_bid());
    benchmark::DoNotOptimize(book.best_ask());
    benchmark::DoNotOptimize(book.mid_price());
    benchmark::DoNotOptimize(book.spread());
    benchmark::DoNotOptimize(book.spread_bps());
    benchmark::DoNotOptimize(book.weighted_mid_price());
    benchmark::DoNotOptimize(book.microprice());
    benchmark::DoNotOptimize(book.imbalance(10));
  }
};

// Deltas with ids 1, 2, ...; every kDeltasPerSnapshot deltas a snapshot (not
// timed) trims the replay buffer, whose slots are all used once beforehand.
void run(benchmark::State& state, Storage storage, bool with_updates) {
  Fixture fixture(storage, state.range(0));
  std::uint64_t id = 0;
  const auto advance = [&] {
    ++id;
    fixture.step(id);
    if (id % kDeltasPerSnapshot == 0) fixture.resnapshot(id);
  };
  for (std::uint64_t i = 0; i < 2 * kBufferSize; ++i) advance();

  allocations = 0;
  counting = true;
  for (auto _ : state) {
    if (with_updates) {
      ++id;
      fixture.step(id);
    }
    fixture.query();
    if (with_updates && id % kDeltasPerSnapshot == 0) {
      state.PauseTiming();
      fixture.resnapshot(id);
      state.ResumeTiming();
    }
  }
  counting = false;
  state.counters["allocs_per_delta"] = benchmark::Counter(
      static_cast<double>(allocations.load()) / static_cast<double>(state.iterations()));
  state.counters["allocs"] = static_cast<double>(allocations.load());
}

void BM_DeltaThenQueries_Sparse(benchmark::State& state) { run(state, Storage::Sparse, true); }
void BM_DeltaThenQueries_Dense(benchmark::State& state) { run(state, Storage::Dense, true); }
void BM_QueriesOnly_Sparse(benchmark::State& state) { run(state, Storage::Sparse, false); }
void BM_QueriesOnly_Dense(benchmark::State& state) { run(state, Storage::Dense, false); }

BENCHMARK(BM_DeltaThenQueries_Sparse)->Arg(100)->Arg(10'000);
BENCHMARK(BM_DeltaThenQueries_Dense)->Arg(100)->Arg(10'000);
BENCHMARK(BM_QueriesOnly_Sparse)->Arg(100)->Arg(10'000);
BENCHMARK(BM_QueriesOnly_Dense)->Arg(100)->Arg(10'000);

}  // namespace
}  // namespace vorn

BENCHMARK_MAIN();
