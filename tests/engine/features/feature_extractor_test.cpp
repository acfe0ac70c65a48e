#include "engine/features/feature_extractor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/features/derivation/event_field.hpp"
#include "engine/features/serde/feature_extractor_spec.hpp"
#include "tests/engine/features/feature_test_support.hpp"
#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

using namespace feature_test;
using oracle::oracle_bucket_start;

constexpr double kNaN = kNoValue;
constexpr std::int64_t kDay = 86'400'000;

// One input: an event with the level lists it borrows, or a context update.
struct Step {
  Event event = Event::Time{0};
  std::vector<LevelUpdate> changes;
  std::vector<Level> bids;
  std::optional<std::optional<double>> context;

  Symbol symbol() const { return event.symbol(); }
  std::int64_t ts() const { return event.timestamp(); }
  double get(ValueField f) const { return field_value(event, f).value_or(kNaN); }
  const Event::Trade* trade() const { return std::get_if<Event::Trade>(&event.value); }
};

// Timestamps repeat, step back now and then (rejected, or accepted behind the
// watermark) and jump across local days; prices include zeros and NaN; deltas
// reuse old ids, skip ids and carry negative sizes; snapshots hold bids only,
// and now and then an id behind the newest delta's.
std::vector<Step> generate(const std::vector<Symbol>& symbols) {
  std::mt19937_64 rng(11);
  const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<Step> steps(1500);
  std::vector<std::uint64_t> ids(symbols.size(), 10);
  std::int64_t clock = -10'800'000;
  for (Step& s : steps) {
    clock += pick(0, 99) < 2 ? pick(0, 10'800'000) : pick(0, 3) == 0 ? 0 : pick(1, 900);
    const int i = pick(0, static_cast<int>(symbols.size()) - 1), k = pick(0, 99), side = pick(0, 2);
    const std::int64_t ts = clock - (pick(0, 19) == 0 ? pick(1, 3000) : 0);
    const double price = pick(0, 5) == 0 ? 0.0 : pick(95, 105);
    if (k < 25) {
      s.event = Event::Trade{pick(0, 99) == 0 ? kNaN : price, double(pick(1, 5)), ts, symbols[i],
                             side < 2 ? std::optional(AggressorSide(side)) : std::nullopt};
    } else if (k < 37) {
      s.event = k < 33 ? Event{Event::Price{price, ts, symbols[i]}} : Event{Event::Volume{price / 5, ts, symbols[i]}};
    } else if (k < 45) {
      s.event = Event::Time{ts};
      if (k >= 41) s.context = side == 0 ? std::nullopt : std::optional<double>(pick(-5, 5));
    } else if (k < 50) {
      for (int n = pick(0, 4); n > 0; --n) s.bids.push_back({Decimal::from_int(95 + n), Decimal::from_int(pick(1, 5))});
      const std::uint64_t id = pick(0, 3) == 0 ? ids[i] - std::uint64_t(pick(0, 4)) : (ids[i] += 3);
      s.event = Event::OrderBookSnapshot{s.bids, {}, id, ts, symbols[i]};
    } else {
      for (int n = pick(1, 3); n > 0; --n) {
        const int size = pick(0, 49) == 0 ? -1 : pick(0, 4);
        s.changes.push_back({Decimal::from_int(pick(96, 104)), Decimal::from_int(size), Side(pick(0, 1))});
      }
      const int skip = pick(0, 29);
      s.event = Event::OrderBookDelta{s.changes, skip < 3 ? ids[i] - 1 : skip == 3 ? (ids[i] += 2) : ++ids[i], ts, symbols[i]};
    }
  }
  return steps;
}

std::uint64_t update_id(const Step& s) {
  const auto* delta = std::get_if<Event::OrderBookDelta>(&s.event.value);
  return delta ? delta->update_id : std::get<Event::OrderBookSnapshot>(s.event.value).update_id;
}

// Which events are accepted and what they did: per-symbol order, finite
// numbers, valid levels, book sequencing under either policy, the watermark.
struct Model {
  struct Book {
    UpdatePolicy policy = UpdatePolicy::Monotonic;
    std::size_t capacity = 0;  // of the replay buffer
    std::map<double, double> sides[2];  // bids, asks: price -> size
    BookSyncState state = BookSyncState::AwaitingSnapshot;
    std::optional<std::uint64_t> last, snapshot;
    std::vector<const Step*> held;  // deltas held for replay, oldest first

    void change(const Step& s) {
      for (const LevelUpdate& c : s.changes) {
        if (c.size.is_zero()) sides[int(c.side)].erase(c.price.to_f64());
        else sides[int(c.side)][c.price.to_f64()] = c.size.to_f64();
      }
      last = update_id(s);
    }
    // The outcome, or none when the update is refused (its effect stays).
    std::optional<UpdateOutcome> delta(const Step& s) {
      const std::uint64_t id = update_id(s);
      const bool contiguous = policy == UpdatePolicy::Contiguous, full = held.size() == capacity;
      const auto lose = [this] { state = BookSyncState::Desynchronized; return std::nullopt; };
      if (!held.empty() && id <= update_id(*held.back())) return UpdateOutcome::Ignored;
      if (!held.empty() && contiguous && id != update_id(*held.back()) + 1) {  // a gap
        if (full) return lose();
        if (state == BookSyncState::Synchronized) state = BookSyncState::Desynchronized;
        held.push_back(&s);
        return std::nullopt;
      }
      if (state != BookSyncState::Synchronized) {
        if (full) return lose();
        held.push_back(&s);
        return UpdateOutcome::Buffered;
      }
      if (id <= last.value_or(0)) return UpdateOutcome::Ignored;
      if (full) return lose();
      held.push_back(&s);
      if (contiguous && id != last.value_or(0) + 1) return lose();
      change(s);
      return UpdateOutcome::Applied;
    }
    std::optional<UpdateOutcome> apply_snapshot(const Step& s) {
      const std::uint64_t id = update_id(s);
      if (snapshot && id <= *snapshot) return std::nullopt;  // stale
      std::uint64_t previous = id;
      for (const Step* p : held) {
        if (update_id(*p) <= id) continue;
        if (policy == UpdatePolicy::Contiguous && update_id(*p) != previous + 1) return std::nullopt;  // history gap
        previous = update_id(*p);
      }
      const bool resynchronized = state == BookSyncState::Desynchronized;
      for (auto& side : sides) side.clear();
      for (const Level& level : s.bids) sides[0][level.price.to_f64()] = level.size.to_f64();
      last = snapshot = id;
      std::erase_if(held, [id](const Step* p) { return update_id(*p) <= id; });
      for (const Step* p : held) change(*p);
      state = BookSyncState::Synchronized;
      return resynchronized ? UpdateOutcome::Resynchronized : UpdateOutcome::Applied;
    }
  };
  std::vector<const Step*> accepted;
  std::vector<bool> global;  // per accepted event: reached the global features
  std::map<std::uint16_t, std::int64_t> last_ts;
  std::optional<std::int64_t> watermark;
  std::map<std::uint16_t, Book> books;
  std::optional<UpdateOutcome> outcome;

  bool apply(const Step& s) {
    const auto symbol = s.symbol().id;
    if ((last_ts.contains(symbol) && last_ts[symbol] > s.ts()) || (s.trade() && std::isnan(s.trade()->price))) return false;
    const auto* delta = std::get_if<Event::OrderBookDelta>(&s.event.value);
    const auto* snapshot = std::get_if<Event::OrderBookSnapshot>(&s.event.value);
    outcome.reset();
    if (books.contains(symbol) && (delta || snapshot)) {
      Book& b = books[symbol];
      if (std::ranges::any_of(s.changes, [](const LevelUpdate& c) { return c.size.is_negative(); })) return false;
      outcome = delta ? b.delta(s) : b.apply_snapshot(s);
      if (!outcome) return false;
    }
    global.push_back(!watermark || s.ts() >= *watermark);
    accepted.push_back(&s);
    last_ts[symbol] = s.ts();
    watermark = std::max(watermark.value_or(s.ts()), s.ts());
    return true;
  }
};

using Pred = std::function<bool(const Step&, std::size_t)>;  // an accepted event and its position
using Seen = std::vector<const Step*>;

double population_std(const std::vector<double>& xs) {
  double mean = 0.0, squares = 0.0;
  for (double x : xs) mean += x / double(xs.size());
  for (double x : xs) squares += (x - mean) * (x - mean);
  return xs.empty() ? kNaN : std::sqrt(squares / double(xs.size()));
}

// (timestamp, simple return) of consecutive values, none after a zero.
std::vector<std::pair<std::int64_t, double>> simple_returns(const Seen& seen, ValueField f) {
  std::vector<std::pair<std::int64_t, double>> out;
  for (std::size_t j = 1; j < seen.size(); ++j) {
    const double past = seen[j - 1]->get(f);
    if (past != 0.0) out.emplace_back(seen[j]->ts(), (seen[j]->get(f) - past) / past);
  }
  return out;
}

double sum_last(const std::vector<double>& xs, std::size_t n) {
  double sum = 0.0;
  for (std::size_t j = xs.size() - std::min(n, xs.size()); j < xs.size(); ++j) sum += xs[j];
  return sum;
}

struct Feature {
  FeatureKey key;
  std::function<bool()> written;  // by the event just accepted
  std::function<double()> value;
};

TEST(FeatureExtractor, EveryFamilyMatchesABruteForceModelAndReplaysBitForBit) {
  const Symbol a = sym("fx_a"), b = sym("fx_b"), c = sym("fx_c"), d = sym("fx_d"), e = sym("fx_e");
  const Symbol global = Symbol::global();
  Model m;
  // d has no book; c has no book features; e's contiguous book loses
  // synchronization at gaps and when its replay buffer overflows.
  for (Symbol s : {a, b, c}) m.books[s.id].capacity = 4096;  // monotonic
  m.books[e.id].policy = UpdatePolicy::Contiguous;
  m.books[e.id].capacity = 12;
  const auto select = [&m](const Pred& keep) {
    Seen out;
    for (std::size_t i = 0; i < m.accepted.size(); ++i) if (keep(*m.accepted[i], i)) out.push_back(m.accepted[i]);
    return out;
  };
  const auto of = [](Symbol s, std::optional<ValueField> f) -> Pred {  // trades when no field
    return [=](const Step& e, std::size_t) { return e.symbol() == s && (f ? !std::isnan(e.get(*f)) : e.trade() != nullptr); };
  };
  const auto reached_global = [&m](const Step&, std::size_t i) { return bool(m.global[i]); };
  std::vector<Feature> features;
  const auto last = [&m] { return m.accepted.size() - 1; };
  // A feature written by the events `feeds` selects, its value from them all.
  const auto on = [&](FeatureKey key, const Pred& feeds, std::function<double(const Seen&)> value) {
    features.push_back({std::move(key), [&m, feeds, last] { return feeds(*m.accepted.back(), last()); },
                        [select, feeds, value] { return value(select(feeds)); }});
  };
  // Timed: written when fed or at a new timestamp of the symbol, NaN until
  // ready, then `window` of the fed events and the test of a bucket.
  using In = std::function<bool(std::int64_t)>;
  const auto timed = [&](FeatureKey key, Symbol s, const Pred& feeds, std::int64_t duration, WarmupPolicy w,
                         std::function<double(const Seen&, const In&)> window) {
    const auto written = [&m, s, feeds, last] {
      const Step& e = *m.accepted.back();
      const auto before = std::find_if(m.accepted.rbegin() + 1, m.accepted.rend(), [s](const Step* p) { return p->symbol() == s; });
      return e.symbol() == s && (feeds(e, last()) || before == m.accepted.rend() || (*before)->ts() != e.ts());
    };
    features.push_back({std::move(key), written, [=, &m] {
      const Seen fed = select(feeds);
      const std::int64_t now = m.accepted.back()->ts();
      if (fed.empty() || (w == FW && now - fed.front()->ts() < duration)) return kNaN;
      return window(fed, [=](std::int64_t t) { return oracle::oracle_covers(t, duration, now, 1000); });
    }});
  };
  const auto window_sum = [](std::function<double(const Step&)> amount) {
    return [amount](const Seen& fed, const In& in) {
      double sum = 0.0;
      for (const Step* e : fed) sum += in(e->ts()) ? amount(*e) : 0.0;
      return sum;
    };
  };
  const auto buckets = [](const Seen& fed) {  // (start, events) in time order
    std::vector<std::pair<std::int64_t, Seen>> out;
    for (const Step* e : fed) {
      const auto start = std::int64_t(oracle_bucket_start(e->ts(), 1000));
      if (out.empty() || out.back().first != start) out.push_back({start, {}});
      out.back().second.push_back(e);
    }
    return out;
  };
  const auto book = [&](FeatureKey key, Symbol s, std::function<double(std::vector<std::pair<double, double>> sides[2])> query) {
    features.push_back({std::move(key),
                        [&m, s] {
                          return m.accepted.back()->symbol() == s &&
                                 (m.outcome == UpdateOutcome::Applied || m.outcome == UpdateOutcome::Resynchronized);
                        },
                        [&m, s, query] {
                          std::vector<std::pair<double, double>> sides[2] = {  // best first
                              {m.books[s.id].sides[0].rbegin(), m.books[s.id].sides[0].rend()},
                              {m.books[s.id].sides[1].begin(), m.books[s.id].sides[1].end()}};
                          return query(sides);
                        }});
  };
  const auto since_day_start = [](std::int64_t offset) {
    return [offset](const Seen& seen) {
      const auto day = [offset](const Step* e) { return oracle_bucket_start(e->ts() + offset, kDay); };
      return double(seen.back()->ts() - (*std::ranges::find_if(seen, [&](const Step* e) { return day(e) == day(seen.back()); }))->ts());
    };
  };

  using enum ValueField;
  on(DayOfWeek{global, kAny}, reached_global,
     [](const Seen& seen) { return double((oracle_bucket_start(seen.back()->ts(), kDay) / kDay % 7 + 11) % 7); });
  on(TimeSinceFirstEventOfDay{global, kAny, 3'600'000}, reached_global, since_day_start(3'600'000));
  on(TimeSinceFirstEventOfDay{a, kTrades, -7'200'000}, of(a, std::nullopt), since_day_start(-7'200'000));
  on(Field{b, ValueField::Volume}, of(b, ValueField::Volume), [](const Seen& seen) { return seen.back()->get(ValueField::Volume); });
  for (const auto& [n, w] : std::vector<std::pair<int, WarmupPolicy>>{{3, FV}, {10, FV}, {5, FW}}) {
    on(Cvd{a, kTrades, std::uint64_t(n), w}, [=](const Step& e, std::size_t i) { return of(a, {})(e, i) && e.trade()->side; },
       [n, w](const Seen& seen) {
         std::vector<double> signed_quantities;
         for (const Step* e : seen) signed_quantities.push_back(e->trade()->side == AggressorSide::Sell ? -e->trade()->volume : e->trade()->volume);
         return seen.size() < (w == FW ? std::size_t(n) : 1) ? kNaN : sum_last(signed_quantities, n);
       });
  }
  using Sampled = std::tuple<Symbol, ValueField, int, WarmupPolicy>;  // symbol, field, window or lag, warm-up
  for (const auto& [s, f, lag, kind] : std::vector<std::tuple<Symbol, ValueField, int, ReturnKind>>{
           {a, TradePrice, 1, ReturnKind::Simple}, {a, TradePrice, 3, ReturnKind::Simple}, {b, Price, 2, ReturnKind::Log}}) {
    on(Return{s, FeatureSource::field(f), std::uint64_t(lag), kind}, of(s, f), [f, lag, kind](const Seen& seen) {
      if (seen.size() <= std::size_t(lag)) return kNaN;
      const double now = seen.back()->get(f), past = seen[seen.size() - 1 - lag]->get(f);
      if (kind == ReturnKind::Simple) return past == 0.0 ? kNaN : (now - past) / past;
      return now > 0.0 && past > 0.0 ? std::log(now) - std::log(past) : kNaN;
    });
  }
  for (const auto& [s, f, n, w] : std::vector<Sampled>{{a, TradePrice, 4, FW}, {a, TradePrice, 2, FW}, {b, Price, 3, FV}}) {
    on(Volatility{s, FeatureSource::field(f), std::uint64_t(n), w}, of(s, f), [f, n, w](const Seen& seen) {
      std::vector<double> returns;
      for (const auto& [t, r] : simple_returns(seen, f)) returns.push_back(r);
      if (w == FW && returns.size() < std::size_t(n)) return kNaN;
      return population_std({returns.end() - std::min<std::ptrdiff_t>(n, returns.size()), returns.end()});
    });
  }
  for (const auto& [s, f, seconds, w] : std::vector<Sampled>{{a, TradePrice, 3, FV}, {a, TradePrice, 10, FV}, {b, Price, 5, FW}}) {
    timed(SmaTimed{s, FeatureSource::field(f), ms(1000), ms(seconds * 1000), w}, s, of(s, f), seconds * 1000, w,
          [&, f](const Seen& fed, const In& in) {
            std::vector<double> means;
            for (const auto& [start, items] : buckets(fed)) {
              if (in(start)) means.push_back(window_sum([f](const Step& e) { return e.get(f); })(items, in) / double(items.size()));
            }
            return means.empty() ? kNaN : sum_last(means, means.size()) / double(means.size());
          });
  }
  timed(VolatilityTimed{a, kTradePrice, ms(1000), ms(5000), FV}, a, of(a, TradePrice), 5000, FV, [](const Seen& fed, const In& in) {
    std::vector<double> inside;
    for (const auto& [t, r] : simple_returns(fed, ValueField::TradePrice)) if (in(t)) inside.push_back(r);
    return population_std(inside);
  });
  for (const auto& [s, f, seconds, w] : std::vector<Sampled>{{a, TradePrice, 3, FV}, {b, TradePrice, 4, FW}}) {
    timed(ObvTimed{s, kTrades, ms(1000), ms(seconds * 1000), w}, s, of(s, std::nullopt), seconds * 1000, w,
          [&](const Seen& fed, const In& in) {
            const auto all = buckets(fed);
            double sum = 0.0;
            for (std::size_t j = 0; j < all.size(); ++j) {
              const double now = all[j].second.back()->get(TradePrice), before = j == 0 ? now : all[j - 1].second.back()->get(TradePrice);
              const double direction = now > before ? 1.0 : now < before ? -1.0 : 0.0;
              sum += in(all[j].first) ? direction * window_sum([](const Step& e) { return e.get(TradeVolume); })(all[j].second, in) : 0.0;
            }
            return sum;
          });
  }
  const auto count = window_sum([](const Step&) { return 1.0; }), volume = window_sum([](const Step& e) { return e.get(TradeVolume); });
  timed(feature_key::TradeCountTimed{a, kTrades, ms(1000), ms(5000), FW}, a, of(a, std::nullopt), 5000, FW, count);
  timed(feature_key::TradeCountTimed{b, kTrades, ms(1000), ms(2000), FV}, b, of(b, std::nullopt), 2000, FV, count);
  timed(TradeVolumeTimed{a, kTrades, ms(1000), ms(2000), FV}, a, of(a, std::nullopt), 2000, FV, volume);
  timed(TradeVolumeTimed{a, kTrades, ms(1000), ms(6000), FV}, a, of(a, std::nullopt), 6000, FV, volume);
  timed(VwapTimed{b, kTrades, ms(1000), ms(3000), FV}, b, of(b, std::nullopt), 3000, FV, [&](const Seen& fed, const In& in) {
    const double notional = window_sum([](const Step& e) { return e.get(TradePrice) * e.get(TradeVolume); })(fed, in);
    return volume(fed, in) == 0.0 ? kNaN : notional / volume(fed, in);
  });
  for (Symbol s : {a, b}) {
    on(Vpt{s, kTrades}, of(s, std::nullopt), [](const Seen& seen) {
      double sum = 0.0;
      for (std::size_t j = 1; j < seen.size(); ++j) {
        const double past = seen[j - 1]->get(TradePrice);
        if (past != 0.0) sum = sum + (seen[j]->get(TradePrice) - past) * seen[j]->get(TradeVolume) / past;
      }
      return sum;
    });
  }
  using Sides = std::vector<std::pair<double, double>>[2];
  book(OrderBookBestBidPrice{a}, a, [](Sides s) { return s[0].empty() ? kNaN : s[0][0].first; });
  book(OrderBookMidPrice{a}, a, [](Sides s) { return s[0].empty() || s[1].empty() ? kNaN : (s[0][0].first + s[1][0].first) / 2; });
  for (std::size_t n : {3, 1}) {
    book(OrderBookImbalance{a, n}, a, [n](Sides s) {
      double sizes[2] = {0.0, 0.0};
      for (int side : {0, 1}) for (std::size_t j = 0; j < std::min(n, s[side].size()); ++j) sizes[side] += s[side][j].second;
      return sizes[0] + sizes[1] == 0.0 ? kNaN : (sizes[0] - sizes[1]) / (sizes[0] + sizes[1]);
    });
  }
  book(OrderBookNthPrice{b, Side::Ask, 2}, b, [](Sides s) { return s[1].size() < 2 ? kNaN : s[1][1].first; });
  book(OrderBookBestBidPrice{e}, e, [](Sides s) { return s[0].empty() ? kNaN : s[0][0].first; });
  book(OrderBookNthSize{e, Side::Ask, 2}, e, [](Sides s) { return s[1].size() < 2 ? kNaN : s[1][1].second; });
  features.push_back({Context{global, "regime"}, [] { return false; }, [] { return kNaN; }});

  std::vector<FeatureDefinition> definitions;
  for (const Feature& f : features) definitions.push_back(&f == &features.back() ? def("regime", f.key) : def(f.key));
  std::vector<OrderBookConfig> configs;
  for (Symbol s : {c, b, a, e}) configs.push_back({s, m.books[s.id].policy, m.books[s.id].capacity, std::nullopt});
  const auto spec = FeatureExtractorSpec::with_order_books(
      FeatureExtractorSpec::with_metadata(definitions, definitions.size() + 3, std::nullopt).value(), configs).value();
  auto live = spec.build().value();
  std::optional<FeatureExtractor> replayed;
  std::vector<std::size_t> cell;
  for (const auto& definition : definitions) cell.push_back(std::ranges::find(live.ids(), definition.id) - live.ids().begin());
  std::vector<double> want(spec.capacity(), kNaN);
  std::vector<std::uint8_t> flags(spec.capacity(), 0);
  const auto same_bits = [&live](const FeatureExtractor& other) {
    return std::memcmp(live.values().cells().data(), other.values().cells().data(), live.values().capacity() * 8) == 0 &&
           std::ranges::equal(live.updated(), other.updated());
  };
  const auto apply = [](FeatureExtractor& ext, const Step& step) {
    const ContextUpdate update{"regime", step.context.value_or(std::nullopt)};
    return step.context ? ext.update_context({&update, 1}).has_value() : ext.handle_event(step.event).has_value();
  };

  const auto steps = generate({a, b, c, d, e});
  std::map<UpdateOutcome, int> outcomes_of_e;  // the stream reaches every outcome of the contiguous book
  for (std::size_t n = 0; n < steps.size(); ++n) {
    const Step& step = steps[n];
    if (n == steps.size() / 2) {  // a second extractor built midway, replaying what came before
      replayed.emplace(spec.build().value());
      for (std::size_t j = 0; j < n; ++j) apply(*replayed, steps[j]);
    }
    if (replayed) {  // stepped from here on with a no-op context update before each step
      ASSERT_TRUE(replayed->update_context({}));
      apply(*replayed, step);
    }
    if (step.context) {
      ASSERT_TRUE(apply(live, step));
      std::ranges::fill(flags, 0);
      want[cell.back()] = step.context->value_or(kNaN);
    } else {
      const auto outcome = live.handle_event(step.event);
      ASSERT_EQ(outcome.has_value(), m.apply(step)) << "step " << n << ": " << text_of(outcome);
      for (std::size_t i = 0; outcome && i < features.size(); ++i) {
        flags[cell[i]] = features[i].written();
        if (flags[cell[i]]) want[cell[i]] = features[i].value();
      }
      if (outcome) {
        EXPECT_EQ(outcome->book_outcome, m.outcome) << "step " << n;
        if (step.symbol() == e && m.outcome) ++outcomes_of_e[*m.outcome];
      }
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
      const double got = live.values().value_at(i);
      if (std::isnan(want[i])) EXPECT_TRUE(std::isnan(got)) << "step " << n << ", cell " << i << ": " << got;
      else EXPECT_NEAR(got, want[i], 1e-7 + 1e-9 * std::abs(want[i])) << "step " << n << ", cell " << i;
    }
    ASSERT_TRUE(std::ranges::equal(live.updated(), flags)) << "step " << n;
    ASSERT_TRUE(!replayed || same_bits(*replayed)) << "step " << n;
  }
  EXPECT_EQ(outcomes_of_e.size(), 4u);
  EXPECT_GE(outcomes_of_e[UpdateOutcome::Resynchronized], 3);
}

TEST(FeatureExtractor, RejectedInputsChangeNothingAndNameTheirCause) {
  const Symbol s = sym("fx_r");
  const auto made = FeatureExtractorSpec::with_metadata(
      {def("a", Context{s, "a"}), def("b", Context{s, "b"}), def("v", Vpt{s, kTrades}), def(OrderBookMidPrice{s})}, 4, {});
  auto ext = FeatureExtractorSpec::with_order_books(*made, {{s, UpdatePolicy::Monotonic, 4, std::nullopt}})->build().value();
  ASSERT_TRUE(ext.handle_event(Event::Trade{100.0, 2.0, 10, s, std::nullopt}));
  const std::vector<double> cells(ext.values().cells().begin(), ext.values().cells().end());
  const std::vector<std::uint8_t> flags(ext.updated().begin(), ext.updated().end());
  EXPECT_EQ(text_of(ext.handle_event(Event::Trade{kNaN, 1.0, 9, s, std::nullopt})),
            "timestamp 9 for trade event for symbol fx_r is earlier than previous timestamp 10");
  const auto update = [](std::string_view id, double value) { return ContextUpdate{id, value}; };
  const std::vector<std::pair<std::vector<ContextUpdate>, std::string>> contexts{
      {{update("a", 1), update("v", 2)}, "context update 1: target is not a context feature"},
      {{update("b", 1), update("zz", 1)}, "context update 1: unknown feature ID"},
      {{update("a", 1), update("b", 2), update("a", 3)}, "context update 2: duplicate feature ID"},
      {{update("a", 1), update("b", INFINITY)}, "context update 1: context value must be finite or None"},
  };
  for (const auto& [list, message] : contexts) EXPECT_EQ(text_of(ext.update_context(list)), message);
  EXPECT_EQ(std::memcmp(cells.data(), ext.values().cells().data(), cells.size() * 8), 0);
  EXPECT_TRUE(std::ranges::equal(flags, ext.updated()));
  auto empty = FeatureExtractorSpec().build().value();
  EXPECT_EQ(text_of(empty.update_context(contexts[0].first)), "context update 0: unknown feature ID");
}

// Everything an event can change outside the books: the cells bit for bit
// (NaN payloads included), the flags and the timestamps.
struct Observed {
  std::vector<std::uint64_t> bits;
  std::vector<std::uint8_t> flags;
  std::optional<std::int64_t> symbol_ts, watermark, last_ts;
  friend bool operator==(const Observed&, const Observed&) = default;
};

void PrintTo(const Observed& o, std::ostream* out) {
  const auto ts = [](std::optional<std::int64_t> t) { return t ? std::to_string(*t) : std::string("none"); };
  *out << "cells";
  for (const std::uint64_t bits : o.bits) {
    *out << ' ' << std::bit_cast<double>(bits) << " (" << std::hex << bits << std::dec << ')';
  }
  *out << ", flags";
  for (const std::uint8_t flag : o.flags) *out << ' ' << int(flag);
  *out << ", symbol " << ts(o.symbol_ts) << ", watermark " << ts(o.watermark) << ", last " << ts(o.last_ts);
}

Observed observe(const FeatureExtractor& ext, Symbol symbol) {
  Observed out{{}, {ext.updated().begin(), ext.updated().end()}, ext.symbol_timestamp(symbol), ext.watermark(),
               ext.last_event_timestamp()};
  for (const double cell : ext.values().cells()) out.bits.push_back(std::bit_cast<std::uint64_t>(cell));
  return out;
}

// Every number of a price, volume or trade event is checked, not only the
// price: a volume or quantity that is not finite would otherwise reach the
// features that sum, average or copy it.
TEST(FeatureExtractor, AnEventWithANumberThatIsNotFiniteIsRefusedAndChangesNothing) {
  const Symbol s = sym("fx_nonfinite"), global = Symbol::global();
  const std::vector<FeatureKey> keys{
      Field{s, ValueField::Volume}, Field{s, ValueField::TradeVolume},
      SmaTimed{s, FeatureSource::field(ValueField::Volume), ms(1000), ms(3000), FV}, Cvd{s, kTrades, 2, FV},
      Cvd{s, kTrades, 4, FV}, TradeVolumeTimed{s, kTrades, ms(1000), ms(2000), FV},
      VwapTimed{s, kTrades, ms(1000), ms(3000), FV}, ObvTimed{s, kTrades, ms(1000), ms(2000), FV}, Vpt{s, kTrades},
      DayOfWeek{global, kAny}, TimeSinceFirstEventOfDay{global, kAny, 0}};
  const auto spec = FeatureExtractorSpec::with_metadata(defs(keys), keys.size(), std::nullopt).value();
  const std::vector<Event> before{Event::Volume{2.0, 1000, s}, Event::Trade{100.0, 1.5, 1200, s, AggressorSide::Buy},
                                  Event::Trade{101.0, 0.5, 1300, s, AggressorSide::Sell}};
  const std::vector<Event> after{Event::Volume{3.0, 1500, s}, Event::Trade{102.0, 1.0, 1500, s, AggressorSide::Buy}};
  const std::vector<std::pair<Event, std::string>> refused{
      {Event::Volume{kNaN, 1400, s}, "invalid argument: event volume must be finite"},
      {Event::Volume{INFINITY, 1400, s}, "invalid argument: event volume must be finite"},
      {Event::Trade{101.0, kNaN, 1400, s, AggressorSide::Buy}, "invalid argument: event trade volume must be finite"},
      {Event::Trade{101.0, -INFINITY, 1400, s, std::nullopt}, "invalid argument: event trade volume must be finite"},
      {Event::Trade{kNaN, 1.0, 1400, s, AggressorSide::Sell}, "invalid argument: event trade price must be finite"},
  };
  for (std::size_t i = 0; i < refused.size(); ++i) {
    const auto& [event, message] = refused[i];
    const std::string label = "event " + std::to_string(i);
    auto ext = spec.build().value(), clean = spec.build().value();
    for (const Event& valid : before) ASSERT_TRUE(ext.handle_event(valid) && clean.handle_event(valid)) << label;
    const Observed held = observe(ext, s);
    ASSERT_EQ(held, observe(clean, s)) << label;
    EXPECT_EQ(text_of(ext.handle_event(event)), message) << label;
    EXPECT_EQ(observe(ext, s), held) << label;
    for (const Event& valid : after) {  // as if the refused event had never come
      ASSERT_TRUE(ext.handle_event(valid) && clean.handle_event(valid)) << label;
      EXPECT_EQ(observe(ext, s), observe(clean, s)) << label;
    }
  }
}

// The count of an outcome is that of derivations, not of cells: the global
// ones that ran, the symbol's for the event's kind and for any of its events,
// and the symbol's book groups recomputed after Applied or Resynchronized.
TEST(FeatureExtractor, TheUpdatedCountAddsGlobalSymbolAndBookDerivations) {
  const Symbol p = sym("fx_count_p"), q = sym("fx_count_q"), r = sym("fx_count_r"), global = Symbol::global();
  const auto kind = [](EventKind k) { return FeatureSource::event(k); };
  // Derivations: 3 global (day of week, and time since the day's first event
  // at two offsets), 1 for time events of the global symbol; for p, 2 price
  // (the field, the two lags of one return), 1 volume, 4 trade (two fields,
  // the two windows of one CVD, VPT), 1 delta, 4 for any event (the two
  // windows of one timed SMA, two trade counters, time since the day's first
  // event) and 3 book groups (best bid, mid, the two depths of one
  // imbalance); the context cell has none. q has a book without features,
  // r neither.
  const std::vector<FeatureKey> keys{
      DayOfWeek{global, kAny}, TimeSinceFirstEventOfDay{global, kAny, 0},
      TimeSinceFirstEventOfDay{global, kAny, 3'600'000}, DayOfWeek{global, kind(EventKind::Time)},
      Field{p, ValueField::Price}, Return{p, kPrice, 1, ReturnKind::Simple}, Return{p, kPrice, 3, ReturnKind::Simple},
      Field{p, ValueField::Volume}, Field{p, ValueField::TradePrice}, Field{p, ValueField::TradeVolume},
      Cvd{p, kTrades, 3, FV}, Cvd{p, kTrades, 5, FV}, Vpt{p, kTrades}, DayOfWeek{p, kind(EventKind::OrderBookDelta)},
      SmaTimed{p, kPrice, ms(1000), ms(2000), FV}, SmaTimed{p, kPrice, ms(1000), ms(4000), FV},
      feature_key::TradeCountTimed{p, kTrades, ms(1000), ms(2000), FV},
      feature_key::TradeCountTimed{p, kTrades, ms(1000), ms(4000), FV}, TimeSinceFirstEventOfDay{p, kAny, 0},
      OrderBookBestBidPrice{p}, OrderBookMidPrice{p}, OrderBookImbalance{p, 1}, OrderBookImbalance{p, 3},
      Context{p, "regime"}};
  const auto made = FeatureExtractorSpec::with_metadata(defs(keys), keys.size(), std::nullopt).value();
  auto ext = FeatureExtractorSpec::with_order_books(made, {{p, UpdatePolicy::Contiguous, 8, std::nullopt},
                                                           {q, UpdatePolicy::Monotonic, 4, std::nullopt}})
                 ->build()
                 .value();
  const std::vector<Level> bids{{dec("10"), dec("1")}}, asks{{dec("12"), dec("2")}};
  const std::vector<LevelUpdate> change{{dec("11"), dec("3"), Side::Bid}};
  struct Case {
    Event event;
    std::size_t updated;
    std::optional<UpdateOutcome> book;
    std::string why;
    std::string refused = {};  // the error of a refused event
  };
  using enum UpdateOutcome;
  const std::vector<Case> cases{
      {Event::Time{1000}, 4, {}, "3 global + 1 for time events"},
      {Event::Price{50.0, 1000, r}, 3, {}, "3 global; r has no features"},
      {Event::Price{100.0, 1000, p}, 9, {}, "3 global + 2 price + 4 any"},
      {Event::Volume{7.0, 1100, p}, 8, {}, "3 global + 1 volume + 4 any"},
      {Event::Trade{100.0, 2.0, 1200, p, AggressorSide::Buy}, 11, {}, "3 global + 4 trade + 4 any"},
      {Event::OrderBookDelta{change, 5, 1300, p}, 8, Buffered, "3 global + 1 delta + 4 any; held before a snapshot"},
      {Event::OrderBookSnapshot{bids, asks, 10, 1400, p}, 10, Applied, "3 global + 4 any + 3 book"},
      {Event::OrderBookDelta{change, 11, 1500, p}, 11, Applied, "3 global + 1 delta + 4 any + 3 book"},
      {Event::OrderBookDelta{change, 11, 1600, p}, 8, Ignored, "3 global + 1 delta + 4 any; seen id"},
      {Event::OrderBookDelta{change, 13, 1700, p}, 0, {}, "a gap",
       "order-book update failed: expected update ID 12, received 13"},
      {Event::OrderBookSnapshot{bids, asks, 20, 1800, p}, 10, Resynchronized, "3 global + 4 any + 3 book"},
      {Event::OrderBookSnapshot{bids, asks, 1, 1800, q}, 3, Applied, "3 global; q's book has no features"},
      {Event::OrderBookSnapshot{bids, asks, 1, 1900, r}, 3, {}, "3 global; r has no book"},
      {Event::Price{50.0, 5000, r}, 3, {}, "3 global; the watermark moves to 5000"},
      {Event::Price{101.0, 4000, p}, 6, {}, "behind the watermark: 2 price + 4 any"},
      {Event::Trade{101.0, 1.0, 4500, p, std::nullopt}, 8, {}, "behind the watermark: 4 trade + 4 any"},
      {Event::Time{4800}, 1, {}, "behind the watermark: 1 for time events"},
      {Event::OrderBookDelta{change, 21, 4900, p}, 8, Applied, "behind the watermark: 1 delta + 4 any + 3 book"},
      {Event::Price{102.0, 5000, p}, 9, {}, "at the watermark: 3 global + 2 price + 4 any"},
  };
  for (const Case& c : cases) {
    const auto outcome = ext.handle_event(c.event);
    if (!c.refused.empty()) {
      EXPECT_EQ(text_of(outcome), c.refused) << c.why;
      continue;
    }
    ASSERT_TRUE(outcome) << c.why << ": " << text_of(outcome);
    EXPECT_EQ(outcome->updated, c.updated) << c.why;
    EXPECT_EQ(outcome->book_outcome, c.book) << c.why;
  }
}

// The values of the features `keys` in the extractor, in the order given.
std::vector<double> values_of(const FeatureExtractor& ext, const std::vector<FeatureKey>& keys) {
  std::vector<double> out;
  for (const FeatureKey& key : keys) {
    const auto cell = std::ranges::find(ext.ids(), def(key).id) - ext.ids().begin();
    out.push_back(ext.values().value_at(std::size_t(cell)));
  }
  return out;
}

// A contiguous book that lost synchronization, by a gap or by overflowing its
// replay buffer, shows the levels of the snapshot that resynchronizes it.
TEST(FeatureExtractor, ASnapshotThatResynchronizesABookReevaluatesItsFeatures) {
  const Symbol s = sym("fx_resync");
  const std::vector<FeatureKey> keys{OrderBookBestBidPrice{s}, OrderBookBestAskSize{s}, OrderBookMidPrice{s}};
  const auto made = FeatureExtractorSpec::with_metadata(defs(keys), keys.size(), std::nullopt).value();
  const std::vector<Level> bids{{dec("10"), dec("1")}}, asks{{dec("12"), dec("2")}};
  const std::vector<Level> new_bids{{dec("9"), dec("4")}}, new_asks{{dec("9.5"), dec("5")}};
  const std::vector<LevelUpdate> raise_bid{{dec("11"), dec("3"), Side::Bid}}, lower_ask{{dec("11.5"), dec("7"), Side::Ask}};
  // Buffer size, the id of the delta that is refused, its message.
  const std::vector<std::tuple<std::size_t, std::uint64_t, std::string>> losses{
      {8, 103, "order-book update failed: expected update ID 102, received 103"},
      {1, 102, "order-book update failed: order-book update buffer capacity 1 was exceeded"},
  };
  for (const auto& [buffer, refused, message] : losses) {
    auto ext = FeatureExtractorSpec::with_order_books(made, {{s, UpdatePolicy::Contiguous, buffer, std::nullopt}})
                   ->build()
                   .value();
    ASSERT_TRUE(ext.handle_event(Event::OrderBookSnapshot{bids, asks, 100, 1, s}));
    const auto applied = ext.handle_event(Event::OrderBookDelta{raise_bid, 101, 2, s});
    ASSERT_TRUE(applied && applied->book_outcome == UpdateOutcome::Applied) << text_of(applied);
    EXPECT_EQ(values_of(ext, keys), (std::vector<double>{11.0, 2.0, 11.5}));
    EXPECT_EQ(text_of(ext.handle_event(Event::OrderBookDelta{lower_ask, refused, 3, s})), message);
    EXPECT_EQ(values_of(ext, keys), (std::vector<double>{11.0, 2.0, 11.5}));

    const auto resynchronized = ext.handle_event(Event::OrderBookSnapshot{new_bids, new_asks, 110, 4, s});
    ASSERT_TRUE(resynchronized) << text_of(resynchronized);
    EXPECT_EQ(resynchronized->book_outcome, UpdateOutcome::Resynchronized) << buffer;
    EXPECT_EQ(values_of(ext, keys), (std::vector<double>{9.0, 5.0, 9.25})) << buffer;
    EXPECT_TRUE(std::ranges::all_of(ext.updated(), [](std::uint8_t flag) { return flag == 1; })) << buffer;
  }
}

// An event behind the watermark does not pull it back: later events that are
// still behind the newest timestamp seen do not reach the global features.
TEST(FeatureExtractor, TheWatermarkNeverMovesBack) {
  const Symbol wa = sym("wa"), wb = sym("wb");
  const FeatureKey since = TimeSinceFirstEventOfDay{Symbol::global(), kAny, 0};
  auto ext = FeatureExtractorSpec::with_metadata(defs({since}), 1, std::nullopt)->build().value();
  // Symbol, timestamp, the feature's value and its update flag after the event.
  const std::vector<std::tuple<Symbol, std::int64_t, double, std::uint8_t>> steps{
      {wa, 0, 0.0, 1}, {wa, 100, 100.0, 1}, {wb, 50, 100.0, 0}, {wb, 70, 100.0, 0}};
  std::int64_t newest = 0;
  for (const auto& [symbol, ts, value, flag] : steps) {
    ASSERT_TRUE(ext.handle_event(Event::Price{1.0, ts, symbol}));
    EXPECT_EQ(ext.values().value_at(0), value) << ts;
    EXPECT_EQ(ext.updated()[0], flag) << ts;
    newest = std::max(newest, ts);
    EXPECT_EQ(ext.watermark(), newest) << ts;
  }
}

}  // namespace
}  // namespace vorn
