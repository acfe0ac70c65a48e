// Order-book cost per delta: five level changes near the top of the book,
// then every best-level query and the imbalance over 10 levels; for sparse
// books of 100 and 10,000 levels a side and for a dense ladder. Then the cost
// of a delta alone on a sparse side of 100, 10,000 and 100,000 levels: one
// level removed and restored by the next delta, either at a random level or
// among the ten best. The malloc family is counted while the timed loop runs:
// "allocs_per_delta" should be 0.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
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

// Which deltas a fixture cycles through.
enum class Changes {
  FiveNearTop,   // five changes near the top, then five that restore them
  RandomLevel,   // one bid level removed, then restored, chosen at random
  TopTenLevels,  // the same among the ten best bids
};
constexpr std::size_t kRandomPairs = 4096;

// A book of `levels` levels a side (every other cent, so a ladder has empty
// slots between them), and a cycle of deltas that leaves the book at its
// starting levels after every second delta.
struct Fixture {
  std::vector<Level> bids;
  std::vector<Level> asks;
  std::vector<std::vector<LevelUpdate>> cycle;
  OrderBook book;

  Fixture(Storage storage, std::int64_t levels, Changes changes = Changes::FiveNearTop)
      : book(storage == Storage::Sparse
                 ? OrderBook::new_sparse(UpdatePolicy::Contiguous, kBufferSize).value()
                 : OrderBook::new_dense(UpdatePolicy::Contiguous, kBufferSize, cents(1), cents(0),
                                        cents(2'000'000)).value()) {
    const std::int64_t mid = 1'000'000;
    for (std::int64_t i = 0; i < levels; ++i) {
      bids.push_back({cents(mid - 1 - 2 * i), cents(100 + i % 7)});
      asks.push_back({cents(mid + 1 + 2 * i), cents(100 + i % 5)});
    }
    if (changes != Changes::FiveNearTop) {
      std::mt19937_64 rng(17);
      const std::int64_t deepest = changes == Changes::RandomLevel ? levels - 1 : std::min<std::int64_t>(levels, 10) - 1;
      std::uniform_int_distribution<std::int64_t> pick(0, deepest);
      for (std::size_t i = 0; i < kRandomPairs; ++i) {
        const Level& level = bids[static_cast<std::size_t>(pick(rng))];
        cycle.push_back({{level.price, cents(0), Side::Bid}});
        cycle.push_back({{level.price, level.size, Side::Bid}});
      }
      resnapshot(0);
      return;
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
    const OrderBookUpdate update = OrderBookDelta{cycle[(id - 1) % cycle.size()], id};
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
void run(benchmark::State& state, Storage storage, bool with_updates, bool with_queries = true,
         Changes changes = Changes::FiveNearTop) {
  Fixture fixture(storage, state.range(0), changes);
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
    if (with_queries) fixture.query();
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

void BM_DeltaAtRandomLevel_Sparse(benchmark::State& state) {
  run(state, Storage::Sparse, true, false, Changes::RandomLevel);
}
void BM_DeltaInTopTen_Sparse(benchmark::State& state) {
  run(state, Storage::Sparse, true, false, Changes::TopTenLevels);
}

BENCHMARK(BM_DeltaThenQueries_Sparse)->Arg(100)->Arg(10'000);
BENCHMARK(BM_DeltaThenQueries_Dense)->Arg(100)->Arg(10'000);
BENCHMARK(BM_QueriesOnly_Sparse)->Arg(100)->Arg(10'000);
BENCHMARK(BM_QueriesOnly_Dense)->Arg(100)->Arg(10'000);
BENCHMARK(BM_DeltaAtRandomLevel_Sparse)->Arg(100)->Arg(10'000)->Arg(100'000);
BENCHMARK(BM_DeltaInTopTen_Sparse)->Arg(100)->Arg(10'000)->Arg(100'000);

}  // namespace
}  // namespace vorn

BENCHMARK_MAIN();
