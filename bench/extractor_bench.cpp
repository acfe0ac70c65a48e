// Cost of one event through a feature extractor built from a realistic spec:
// 66 features over 4 symbols (returns, volatility, CVD, timed averages,
// volumes, VWAP and trade counts with 1 s buckets and windows from 10 s to
// 5 min, VPT, top of book, imbalance, depth, clock features) fed a generated
// stream of one million events (about 70% book deltas with a snapshot every
// 1500 events of a symbol, 25% trades, 5% prices and time events). A second
// spec adds 500 features on 20 other symbols that the stream never touches.
//
// Two more rows follow the Python runtime benchmark's trade stream (three
// symbols, a trade every 0 to 39 ms, a random-walk price, exponential
// quantities, random aggressor sides): "Benchmark" with its seven features
// per symbol (simple returns over 1 and 10 trades, volatility over 50, CVD
// over 100, trade volume and VWAP over 60 s and SMA over 30 s in 1 s
// buckets), and "PerEvent" with the stepping set (the returns, volatility
// and CVD), both with full-window warm-up as the Python builders default.
//
// Each run builds a fresh extractor and feeds it the stream twice: a first
// pass, untimed, in which the books grow their level storage and replay slots
// to their working size, then the timed pass, the same events with later
// timestamps and update ids. Reported: events per second, allocations per
// event of the timed pass and of the first pass (the malloc family, counted
// by allocation_counter.hpp), and rejected events (0 expected).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "bench/allocation_counter.hpp"
#include "engine/features/serde/feature_extractor_spec.hpp"

namespace vorn {
namespace {

using namespace feature_key;

constexpr std::size_t kEvents = 1'000'000;
constexpr auto kTrades = FeatureSource::event(EventKind::Trade);
constexpr auto kTradePrice = FeatureSource::field(ValueField::TradePrice);
constexpr auto FV = WarmupPolicy::FirstValue;

Duration seconds(std::uint64_t s) { return Duration{s, 0}; }
Decimal cents(std::int64_t value) { return Decimal::from_parts(static_cast<unsigned __int128>(value), 2, false).value(); }

// 16 features of one symbol; `more` adds 9 further windows and queries.
std::vector<FeatureKey> symbol_features(Symbol s, bool more) {
  const Duration second = seconds(1);
  std::vector<FeatureKey> keys{
      Return{s, kTradePrice, 1, ReturnKind::Simple},
      Volatility{s, kTradePrice, 100, FV},
      Cvd{s, kTrades, 100, FV},
      Cvd{s, kTrades, 1000, FV},
      SmaTimed{s, kTradePrice, second, seconds(10), FV},
      SmaTimed{s, kTradePrice, second, seconds(300), FV},
      TradeVolumeTimed{s, kTrades, second, seconds(60), FV},
      VwapTimed{s, kTrades, second, seconds(60), FV},
      ObvTimed{s, kTrades, second, seconds(60), FV},
      feature_key::TradeCountTimed{s, kTrades, second, seconds(10), FV},
      Vpt{s, kTrades},
      OrderBookBestBidPrice{s},
      OrderBookMidPrice{s},
      OrderBookSpreadBps{s},
      OrderBookImbalance{s, 5},
      OrderBookDepthUntilSizeTotalSize{s, Side::Bid, Decimal::from_int(10)},
  };
  if (more) {
    for (std::uint64_t window : {30, 120}) keys.push_back(SmaTimed{s, kTradePrice, second, seconds(window), FV});
    for (std::uint64_t window : {10, 300}) keys.push_back(TradeVolumeTimed{s, kTrades, second, seconds(window), FV});
    for (std::uint64_t window : {10, 500}) keys.push_back(Cvd{s, kTrades, window, FV});
    keys.push_back(Volatility{s, kTradePrice, 20, FV});
    keys.push_back(OrderBookImbalance{s, 1});
    keys.push_back(OrderBookNthPrice{s, Side::Ask, 2});
  }
  return keys;
}

FeatureExtractorSpec make_spec(const std::vector<Symbol>& symbols, const std::vector<Symbol>& others) {
  std::vector<FeatureDefinition> definitions{
      FeatureDefinition::with_default_id(DayOfWeek{Symbol::global(), FeatureSource::any_event()}),
      FeatureDefinition::with_default_id(TimeSinceFirstEventOfDay{Symbol::global(), FeatureSource::any_event(), 0}),
  };
  std::vector<OrderBookConfig> books;
  for (const bool more : {false, true}) {
    for (const Symbol s : more ? others : symbols) {
      for (auto& key : symbol_features(s, more)) definitions.push_back(FeatureDefinition::with_default_id(std::move(key)));
      books.push_back({s, UpdatePolicy::Monotonic, 4096, std::nullopt});
    }
  }
  const std::size_t count = definitions.size();
  return FeatureExtractorSpec::with_order_books(
             FeatureExtractorSpec::with_metadata(std::move(definitions), count, std::nullopt).value(), std::move(books))
      .value();
}

// Events with the level lists they borrow. Each book keeps 20 levels a side
// around a mid that drifts by a tick now and then.
struct Stream {
  std::vector<LevelUpdate> changes;
  std::vector<Level> levels;
  std::vector<Event> events;
};

Stream generate(const std::vector<Symbol>& symbols, std::size_t count) {
  struct Pending {
    int kind;  // 0 delta, 1 snapshot, 2 trade, 3 price, 4 time
    std::size_t symbol, first, count;
    std::int64_t ts;
    double price, quantity;
    bool sell;
  };
  std::mt19937_64 rng(42);
  const auto chance = [&rng](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
  const auto between = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Stream stream;
  std::vector<Pending> pending;
  std::vector<std::int64_t> mid(symbols.size(), 10'000);  // in cents
  std::vector<std::size_t> since_snapshot(symbols.size(), 1500);
  std::int64_t ts = 1'700'000'000'000;
  for (std::size_t n = 0; n < count; ++n) {
    ts += between(0, 2);
    const std::size_t i = static_cast<std::size_t>(between(0, static_cast<int>(symbols.size()) - 1));
    if (chance(1)) mid[i] += between(-1, 1);
    Pending p{0, i, 0, 0, ts, 0.0, 0.0, false};
    const int roll = between(0, 99);
    if (++since_snapshot[i] >= 1500) {
      since_snapshot[i] = 0;
      p.kind = 1;
      p.first = stream.levels.size();
      for (int side = 0; side < 2; ++side) {
        for (int level = 1; level <= 20; ++level) {
          stream.levels.push_back({cents(mid[i] + (side == 0 ? -level : level)), Decimal::from_int(between(1, 20))});
        }
      }
    } else if (roll < 70) {
      p.first = stream.changes.size();
      p.count = static_cast<std::size_t>(between(1, 3));
      for (std::size_t c = 0; c < p.count; ++c) {
        const bool bid = chance(50);
        const std::int64_t price = mid[i] + (bid ? -1 : 1) * between(1, 20);
        stream.changes.push_back({cents(price), Decimal::from_int(chance(20) ? 0 : between(1, 20)), bid ? Side::Bid : Side::Ask});
      }
    } else if (roll < 95) {
      p = {2, i, 0, 0, ts, static_cast<double>(mid[i] + between(-1, 1)) / 100.0, between(1, 1000) / 1000.0, chance(50)};
    } else {
      p.kind = chance(60) ? 3 : 4;
      p.price = static_cast<double>(mid[i]) / 100.0;
    }
    pending.push_back(p);
  }
  std::vector<std::uint64_t> ids(symbols.size(), 0);
  stream.events.reserve(pending.size());
  for (const Pending& p : pending) {
    const Symbol s = symbols[p.symbol];
    switch (p.kind) {
      case 0:
        stream.events.push_back(Event::OrderBookDelta{{stream.changes.data() + p.first, p.count}, ++ids[p.symbol], p.ts, s});
        break;
      case 1: {
        const Level* levels = stream.levels.data() + p.first;
        stream.events.push_back(Event::OrderBookSnapshot{{levels, 20}, {levels + 20, 20}, ++ids[p.symbol], p.ts, s});
        break;
      }
      case 2:
        stream.events.push_back(Event::Trade{p.price, p.quantity, p.ts, s, p.sell ? AggressorSide::Sell : AggressorSide::Buy});
        break;
      case 3: stream.events.push_back(Event::Price{p.price, p.ts, s}); break;
      default: stream.events.push_back(Event::Time{p.ts}); break;
    }
  }
  return stream;
}

std::vector<Symbol> intern_all(const std::string& prefix, int count) {
  std::vector<Symbol> out;
  for (int i = 0; i < count; ++i) out.push_back(symbols::intern(prefix + std::to_string(i)).value());
  return out;
}

const std::vector<Symbol> kSymbols = intern_all("bench_main_", 4);
const std::vector<Symbol> kOthers = intern_all("bench_other_", 20);
const std::vector<Symbol> kTradeSymbols = intern_all("bench_trade_", 3);
Stream kStream = generate(kSymbols, kEvents);

// The trade stream of the Python benchmark (its generator's shape, not its numbers).
Stream generate_trades(const std::vector<Symbol>& symbols, std::size_t count) {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> step(0.0, 2e-4);
  std::exponential_distribution<double> quantity(1.0);
  std::vector<double> log_price(symbols.size(), 0.0);
  std::int64_t ts = 1'700'000'000'000;
  Stream stream;
  stream.events.reserve(count);
  for (std::size_t n = 0; n < count; ++n) {
    ts += std::uniform_int_distribution<int>(0, 39)(rng);
    for (double& p : log_price) p += step(rng);
    const std::size_t i = std::uniform_int_distribution<std::size_t>(0, symbols.size() - 1)(rng);
    const double price = std::round(100.0 * std::exp(log_price[i]) * 1e4) / 1e4;
    const bool sell = std::uniform_int_distribution<int>(0, 1)(rng) == 1;
    stream.events.push_back(Event::Trade{price, quantity(rng) + 1e-6, ts, symbols[i],
                                         sell ? AggressorSide::Sell : AggressorSide::Buy});
  }
  return stream;
}

Stream kTradeStream = generate_trades(kTradeSymbols, kEvents);

// The Python benchmark's features on every symbol; `all` adds the four timed ones to the stepping set.
FeatureExtractorSpec trade_spec(bool all) {
  constexpr auto FW = WarmupPolicy::FullWindow;
  const Duration second = seconds(1);
  std::vector<FeatureDefinition> definitions;
  for (const Symbol s : kTradeSymbols) {
    std::vector<FeatureKey> keys{
        Return{s, kTradePrice, 1, ReturnKind::Simple},
        Return{s, kTradePrice, 10, ReturnKind::Simple},
        Volatility{s, kTradePrice, 50, FW},
        Cvd{s, kTrades, 100, FW},
    };
    if (all) {
      keys.push_back(TradeVolumeTimed{s, kTrades, second, seconds(60), FW});
      keys.push_back(VwapTimed{s, kTrades, second, seconds(60), FW});
      keys.push_back(SmaTimed{s, kTradePrice, second, seconds(30), FW});
    }
    for (auto& key : keys) definitions.push_back(FeatureDefinition::with_default_id(std::move(key)));
  }
  const std::size_t count = definitions.size();
  return FeatureExtractorSpec::with_metadata(std::move(definitions), count, std::nullopt).value();
}

// Moves every timestamp and update id past those of the previous pass.
void next_pass(Stream& stream) {
  for (Event& event : stream.events) {
    std::visit(
        [](auto& e) {
          e.timestamp += 1'000'000'000;
          if constexpr (requires { e.update_id; }) e.update_id += 1'000'000'000;
        },
        event.value);
  }
}

void run(benchmark::State& state, const FeatureExtractorSpec& spec, Stream& stream) {
  std::optional<FeatureExtractor> extractor;
  std::size_t first_pass_allocations = 0;
  std::size_t timed_allocations = 0;
  std::size_t events = 0;
  std::size_t rejected = 0;
  // Feeds the whole stream; returns the allocations made meanwhile.
  const auto feed = [&] {
    const std::uint64_t before = allocations.load();
    counting = true;
    for (const Event& event : stream.events) {
      auto outcome = extractor->handle_event(event);
      rejected += !outcome.has_value();
      benchmark::DoNotOptimize(outcome);
    }
    benchmark::ClobberMemory();
    counting = false;
    return allocations.load() - before;
  };
  for (auto _ : state) {
    state.PauseTiming();
    extractor.reset();
    extractor.emplace(spec.build().value());
    first_pass_allocations += feed();
    next_pass(stream);
    state.ResumeTiming();
    timed_allocations += feed();
    events += stream.events.size();
  }
  const auto per_event = [&events](std::size_t count) { return static_cast<double>(count) / static_cast<double>(events); };
  state.counters["events_per_second"] = benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
  state.counters["seconds_per_event"] = benchmark::Counter(static_cast<double>(events),
                                                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["allocations_per_event"] = per_event(timed_allocations);
  state.counters["first_pass_allocations_per_event"] = per_event(first_pass_allocations);
  state.counters["rejected"] = static_cast<double>(rejected);
  state.counters["features"] = static_cast<double>(spec.definitions().size());
}

void BM_Extractor(benchmark::State& state) { run(state, make_spec(kSymbols, {}), kStream); }
void BM_ExtractorWith500IdleFeatures(benchmark::State& state) { run(state, make_spec(kSymbols, kOthers), kStream); }
void BM_ExtractorBenchmarkFeatures(benchmark::State& state) { run(state, trade_spec(true), kTradeStream); }
void BM_ExtractorPerEventFeatures(benchmark::State& state) { run(state, trade_spec(false), kTradeStream); }

BENCHMARK(BM_Extractor)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExtractorWith500IdleFeatures)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExtractorBenchmarkFeatures)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExtractorPerEventFeatures)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace vorn

BENCHMARK_MAIN();
