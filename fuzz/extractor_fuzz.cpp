// A compiled feature extractor driven by an event stream. A small fixed spec
// uses every feature kind over three symbols (one with a dense book, one with
// a sparse book, one without a book) and the global clock. The input decodes
// into events of every kind for those symbols, the global one and a symbol
// the spec does not know (arbitrary prices, sizes and update ids, timestamps
// that step back or jump to the ends of the range, non-finite values) and
// context updates (known, unknown, repeated and non-context ids, missing and
// non-finite values). Nothing aborts; a refused step leaves the cells, the
// update flags and the timestamps as they were; an accepted event records
// its timestamp; and an empty context update after each step changes
// nothing. One extractor is built per input: building is most of the cost.
//
// Allocation and free stacks are not recorded and the quarantine is small,
// which makes a run about a third faster; rerun a failing input with
// ASAN_OPTIONS=malloc_context_size=30:quarantine_size_mb=256 for the full report.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/errors.hpp"
#include "engine/event.hpp"
#include "engine/features/feature_extractor.hpp"
#include "engine/features/serde/feature_extractor_spec_json.hpp"
#include "engine/panic.hpp"
#include "engine/symbols.hpp"
#include "fuzz/byte_reader.hpp"
#include "fuzz/check.hpp"

extern "C" const char* __asan_default_options() { return "malloc_context_size=0:quarantine_size_mb=16"; }

namespace {

using namespace vorn;
using fuzz::ByteReader;
using fuzz::check;

// Every feature kind once, a few twice: the book kinds on the dense book of
// a, two on the sparse book of b, the trade and price kinds with short windows
// and millisecond buckets so that they warm up within a few events, a field
// of c (which has no book), the clock kinds and two context cells.
constexpr std::string_view kSpec = R"({"version": "2.0", "capacity": 40, "length": 38,
 "required_events": [
   {"symbol": "__global__", "event": "time"},
   {"symbol": "a", "event": "order_book_delta"}, {"symbol": "a", "event": "order_book_snapshot"},
   {"symbol": "a", "event": "price"}, {"symbol": "a", "event": "trade"},
   {"symbol": "b", "event": "order_book_delta"}, {"symbol": "b", "event": "order_book_snapshot"},
   {"symbol": "c", "event": "trade"}
 ],
 "features": [
  {"symbol": "__global__", "indicators": [
   {"kind": "day_of_week", "source": {"type": "any_event"}},
   {"kind": "time_since_first_event_of_day", "source": {"type": "any_event"}, "options": {"utc_offset": "+05:30"}},
   {"kind": "context", "source": {"type": "context"}, "options": {"name": "regime"}},
   {"kind": "context", "source": {"type": "context"}, "options": {"name": "bias"}}
  ]},
  {"symbol": "a", "indicators": [
   {"kind": "order_book_best_bid_price", "source": {"type": "order_book"}},
   {"kind": "order_book_best_bid_size", "source": {"type": "order_book"}},
   {"kind": "order_book_best_ask_price", "source": {"type": "order_book"}},
   {"kind": "order_book_best_ask_size", "source": {"type": "order_book"}},
   {"kind": "order_book_mid_price", "source": {"type": "order_book"}},
   {"kind": "order_book_spread", "source": {"type": "order_book"}},
   {"kind": "order_book_spread_bps", "source": {"type": "order_book"}},
   {"kind": "order_book_weighted_mid_price", "source": {"type": "order_book"}},
   {"kind": "order_book_microprice", "source": {"type": "order_book"}},
   {"kind": "order_book_imbalance", "source": {"type": "order_book"}, "outputs": [{"n_levels": 3}]},
   {"kind": "order_book_level_size", "source": {"type": "order_book"}, "options": {"side": "bid", "price": "99.5"}},
   {"kind": "order_book_nth_price", "source": {"type": "order_book"}, "options": {"side": "ask", "n_levels": 2}},
   {"kind": "order_book_nth_size", "source": {"type": "order_book"}, "options": {"side": "bid", "n_levels": 1}},
   {"kind": "order_book_depth_until_price", "source": {"type": "order_book"}, "options": {"side": "ask", "price": "101"}},
   {"kind": "order_book_depth_until_size_price_from", "source": {"type": "order_book"},
    "options": {"side": "bid", "size": "2.5"}},
   {"kind": "order_book_depth_until_size_price_to", "source": {"type": "order_book"},
    "options": {"side": "ask", "size": "1"}},
   {"kind": "order_book_depth_until_size_total_size", "source": {"type": "order_book"},
    "options": {"side": "bid", "size": "3"}},
   {"kind": "order_book_volume_between_prices", "source": {"type": "order_book"},
    "options": {"side": "ask", "from_price": "100", "to_price": "102.5"}},
   {"kind": "cvd", "source": {"type": "event", "event": "trade"}, "warmup_policy": "full_window",
    "outputs": [{"window": 2}, {"window": 3}]},
   {"kind": "field", "source": {"type": "field", "event": "trade", "field": "price"}},
   {"kind": "simple_return", "source": {"type": "field", "event": "trade", "field": "price"}, "outputs": [{"lag": 1}]},
   {"kind": "log_return", "source": {"type": "field", "event": "price", "field": "value"}, "outputs": [{"lag": 2}]},
   {"kind": "volatility", "source": {"type": "field", "event": "trade", "field": "price"},
    "warmup_policy": "first_value", "outputs": [{"window": 3}]},
   {"kind": "sma_timed", "source": {"type": "field", "event": "trade", "field": "price"},
    "warmup_policy": "full_window", "options": {"aggregation": "1ms"}, "outputs": [{"window": "4ms"}]},
   {"kind": "volatility_timed", "source": {"type": "field", "event": "price", "field": "value"},
    "warmup_policy": "first_value", "options": {"aggregation": "2ms"}, "outputs": [{"window": "6ms"}]},
   {"kind": "obv_timed", "source": {"type": "event", "event": "trade"}, "warmup_policy": "first_value",
    "options": {"aggregation": "1ms"}, "outputs": [{"window": "3ms"}]},
   {"kind": "vpt", "source": {"type": "event", "event": "trade"}},
   {"kind": "trade_count_timed", "source": {"type": "event", "event": "trade"}, "warmup_policy": "full_window",
    "options": {"aggregation": "1ms"}, "outputs": [{"window": "5ms"}]},
   {"kind": "trade_volume_timed", "source": {"type": "event", "event": "trade"}, "warmup_policy": "first_value",
    "options": {"aggregation": "1s"}, "outputs": [{"window": "5s"}]},
   {"kind": "vwap_timed", "source": {"type": "event", "event": "trade"}, "warmup_policy": "first_value",
    "options": {"aggregation": "1ms"}, "outputs": [{"window": "20ms"}]}
  ]},
  {"symbol": "b", "indicators": [
   {"kind": "order_book_mid_price", "source": {"type": "order_book"}},
   {"kind": "order_book_level_size", "source": {"type": "order_book"}, "options": {"side": "ask", "price": "0.001"}}
  ]},
  {"symbol": "c", "indicators": [
   {"kind": "field", "source": {"type": "field", "event": "trade", "field": "volume"}, "outputs": [{"id": "c_volume"}]}
  ]}
 ],
 "order_books": [
  {"symbol": "a", "update_policy": "monotonic", "buffer_size": 3,
   "dense": {"tick_size": "0.5", "min_price": "90", "max_price": "110"}},
  {"symbol": "b", "update_policy": "contiguous", "buffer_size": 2}
 ]})";

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// A fresh extractor of the fixed spec, which must read and build.
FeatureExtractor fresh_extractor() {
  static const auto spec = serde::deserialize_feature_extractor_spec(kSpec);
  if (!spec) std::fprintf(stderr, "fixed spec: %s\n", spec.error().c_str());
  check(spec.has_value(), "the fixed spec reads");
  auto built = spec->build();
  if (!built) std::fprintf(stderr, "fixed spec: %s\n", to_string(built.error()).c_str());
  check(built.has_value(), "the fixed spec builds");
  return std::move(*built);
}

// What a refused step must leave alone.
struct Snapshot {
  std::vector<std::uint64_t> cells;
  std::vector<std::uint8_t> flags;
  std::vector<std::optional<std::int64_t>> timestamps;
  std::optional<std::int64_t> watermark;
  std::optional<std::int64_t> last_event;

  friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

struct Stream {
  ByteReader& in;
  std::vector<Symbol> symbols;  // global, a, b, c, and d which the spec does not know
  std::vector<std::string_view> ids;  // every cell's id, an unknown id, a reserved one
  std::int64_t timestamp = 0;
  std::uint64_t update_id = 0;
  Snapshot before, after, after_empty_update;

  // Fills `out`, reusing its storage.
  void snapshot(const FeatureExtractor& extractor, Snapshot& out) const {
    const auto cells = extractor.values().cells();
    out.cells.resize(cells.size());
    std::ranges::transform(cells, out.cells.begin(), [](double cell) { return std::bit_cast<std::uint64_t>(cell); });
    out.flags.assign(extractor.updated().begin(), extractor.updated().end());
    out.timestamps.resize(symbols.size());
    std::ranges::transform(symbols, out.timestamps.begin(), [&](Symbol symbol) { return extractor.symbol_timestamp(symbol); });
    out.watermark = extractor.watermark();
    out.last_event = extractor.last_event_timestamp();
  }

  Symbol symbol() { return symbols[in.byte() % symbols.size()]; }

  // Mostly a small step from the last timestamp (back as well as forward),
  // sometimes one of the ends of the range or any value.
  std::int64_t next_timestamp() {
    const std::uint8_t code = in.byte();
    if (code < 0xF0) {
      const std::int64_t step = code % 32 - 8;
      timestamp = step > 0 && timestamp > kMax - step ? kMax
                  : step < 0 && timestamp < kMin - step ? kMin
                                                        : timestamp + step;
    } else {
      constexpr std::int64_t kEnds[] = {kMin, kMin + 1, kMin + 86'400'000, -1, 0, kMax - 86'400'000, kMax - 1, kMax};
      timestamp = code < 0xF8 ? kEnds[code - 0xF0] : static_cast<std::int64_t>(in.bytes(8));
    }
    return timestamp;
  }

  // Mostly a small number (quarters from -2 to 5.75), sometimes a special
  // one or any bit pattern.
  double number() {
    const std::uint8_t code = in.byte();
    if (code < 0xF0) return (code % 32) * 0.25 - 2;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    constexpr double kSpecial[] = {std::numeric_limits<double>::quiet_NaN(), kInf, -kInf, -0.0,
                                   std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                                   -std::numeric_limits<double>::max()};
    return code < 0xF7 ? kSpecial[code - 0xF0] : std::bit_cast<double>(static_cast<std::uint64_t>(in.bytes(8)));
  }

  // Mostly a price on or near a's grid (89 to 112.5 in halves), else any decimal.
  Decimal price() {
    const std::uint8_t code = in.byte();
    if (code >= 0xC0) return in.decimal();
    return *Decimal::from_parts(890 + (code % 48) * 5, 1, false);
  }

  // Mostly the next id or near it, sometimes any.
  std::uint64_t next_update_id() {
    const std::uint8_t code = in.byte();
    update_id = code >= 0xF8 ? static_cast<std::uint64_t>(in.bytes(8))
                             : update_id + (code % 8) - std::min<std::uint64_t>(update_id, 2);
    return update_id;
  }

  std::optional<double> context_value() {
    const std::uint8_t code = in.byte();
    if (code % 4 == 0) return std::nullopt;
    return number();
  }
};

// The error of a refused step.
template <class T>
std::optional<VornError> error_of(const std::expected<T, VornError>& result) {
  if (result) return std::nullopt;
  return result.error();
}

void step(Stream& stream, FeatureExtractor& extractor) {
  ByteReader& in = stream.in;
  const std::uint8_t kind = in.byte();
  std::vector<Level> bids, asks;
  std::vector<LevelUpdate> changes;
  std::vector<ContextUpdate> context;
  std::optional<Event> event;
  switch (kind % 8) {
    case 0:
      event = Event::Price{stream.number(), stream.next_timestamp(), stream.symbol()};
      break;
    case 1:
      event = Event::Volume{stream.number(), stream.next_timestamp(), stream.symbol()};
      break;
    case 2:
    case 3: {
      const std::uint8_t side = in.byte() % 3;
      event = Event::Trade{stream.number(), stream.number(), stream.next_timestamp(), stream.symbol(),
                           side == 2 ? std::nullopt : std::optional(static_cast<AggressorSide>(side))};
      break;
    }
    case 4:
      for (int i = (kind >> 3) & 7; i > 0; --i) {
        const Side side = in.byte() & 1 ? Side::Ask : Side::Bid;
        const Decimal price = stream.price();
        changes.push_back({price, in.decimal(), side});
      }
      event = Event::OrderBookDelta{changes, stream.next_update_id(), stream.next_timestamp(), stream.symbol()};
      break;
    case 5:
      for (int i = (kind >> 3) & 3; i > 0; --i) bids.push_back({stream.price(), in.decimal()});
      for (int i = (kind >> 5) & 7; i > 0; --i) asks.push_back({stream.price(), in.decimal()});
      event = Event::OrderBookSnapshot{bids, asks, stream.next_update_id(), stream.next_timestamp(), stream.symbol()};
      break;
    case 6:
      event = Event::Time{stream.next_timestamp()};
      break;
    default:
      for (int i = (kind >> 3) & 3; i > 0; --i) {
        context.push_back({stream.ids[in.byte() % stream.ids.size()], stream.context_value()});
      }
      break;
  }

  Snapshot& before = stream.before;
  Snapshot& after = stream.after;
  stream.snapshot(extractor, before);
  const auto error = event ? error_of(extractor.handle_event(*event)) : error_of(extractor.update_context(context));
  stream.snapshot(extractor, after);
  if (error) {
    check(!to_string(*error).empty(), "a refusal has a message");
    check(after == before, "a refused step changes no cell, flag or timestamp");
  } else if (event) {
    check(extractor.symbol_timestamp(event->symbol()) == event->timestamp() &&
              extractor.last_event_timestamp() == event->timestamp() &&
              extractor.watermark() == std::max(before.watermark.value_or(kMin), event->timestamp()),
          "an accepted event records its timestamp");
  }
  check(extractor.update_context({}).has_value(), "an empty context update is valid");
  stream.snapshot(extractor, stream.after_empty_update);
  check(stream.after_empty_update == after, "an empty context update changes nothing");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    static const std::vector<Symbol> symbols = [] {
      std::vector<Symbol> out{Symbol::global()};
      for (const char* name : {"a", "b", "c", "d"}) out.push_back(*symbols::intern(name));
      return out;
    }();
    FeatureExtractor extractor = fresh_extractor();
    ByteReader in(std::span(data, size));
    Stream stream{in, symbols, {}, 0, 0, {}, {}, {}};
    for (const FeatureId& id : extractor.ids()) stream.ids.push_back(id.view());
    stream.ids.push_back("unknown");
    stream.ids.push_back("__reserved_0");
    while (!in.empty()) step(stream, extractor);
  } catch (const Panic& panic) {
    std::fprintf(stderr, "panic: %s\n", panic.what());
    std::abort();
  }
  return 0;
}
