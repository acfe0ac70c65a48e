// A randomized stream of snapshots and deltas (in order, with gaps, stale and
// repeated ids, invalid levels) applied to a book and to a small model kept in
// std::maps, which follows the sequencing rules step by step; after every step
// both must hold the same levels, ids and held deltas and give the same answers.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "engine/order_book/book.hpp"
#include "tests/engine/order_book/book_test_support.hpp"

namespace vorn {
namespace {

using book_test::dec;
using book_test::OwnedUpdate;
using book_test::text;

using Outcome = std::expected<UpdateOutcome, OrderBookUpdateError>;

// Dense grid of the test: tick 0.5 from 1 to 9.
constexpr int kQuarterMin = 4;
constexpr int kQuarterMax = 36;

struct Model {
  Model(UpdatePolicy policy, std::size_t capacity, bool dense)
      : policy(policy), capacity(capacity), dense(dense) {}

  UpdatePolicy policy;
  std::size_t capacity;
  bool dense;

  struct Held {
    std::uint64_t id;
    std::int64_t timestamp;
    std::vector<LevelUpdate> changes;
  };
  std::map<Decimal, Decimal> bids;
  std::map<Decimal, Decimal> asks;
  std::optional<std::uint64_t> last;
  std::optional<std::uint64_t> snapshot_id;
  std::optional<std::int64_t> last_timestamp;
  BookSyncState state = BookSyncState::AwaitingSnapshot;
  std::deque<Held> held;

  // Every test price is a multiple of 0.25, exact as a double.
  bool valid(const Decimal& price, const Decimal& size) const {
    if (size < Decimal()) return false;
    if (!dense) return !(price < Decimal());
    const double quarters = price.to_f64() * 4;
    const int k = static_cast<int>(quarters);
    return quarters == k && k % 2 == 0 && k >= kQuarterMin && k <= kQuarterMax;
  }

  void set(Side side, const Decimal& price, const Decimal& size) {
    auto& levels = side == Side::Bid ? bids : asks;
    if (size == Decimal()) levels.erase(price);
    else levels[price] = size;
  }

  Outcome handle(const OwnedUpdate& update, std::int64_t timestamp) {
    if (!update.is_snapshot) {
      for (const LevelUpdate& c : update.changes) {
        if (!valid(c.price, c.size)) return std::unexpected(book_error::InvalidUpdate{c.side, c.price, c.size});
      }
      return handle_delta(update, timestamp);
    }
    for (const auto& [side, levels] : {std::pair{Side::Bid, &update.bids}, std::pair{Side::Ask, &update.asks}}) {
      for (const Level& l : *levels) {
        if (!valid(l.price, l.size)) return std::unexpected(book_error::InvalidUpdate{side, l.price, l.size});
      }
    }
    return handle_snapshot(update, timestamp);
  }

  Outcome overflow() {
    state = BookSyncState::Desynchronized;
    return std::unexpected(book_error::BufferCapacityExceeded{held.size()});
  }

  Outcome handle_delta(const OwnedUpdate& update, std::int64_t timestamp) {
    const std::uint64_t id = update.update_id;
    const bool contiguous = policy == UpdatePolicy::Contiguous;
    const Held entry{id, timestamp, update.changes};
    if (!held.empty()) {
      if (id <= held.back().id) return UpdateOutcome::Ignored;
      if (contiguous && id != held.back().id + 1) {
        if (held.size() == capacity) return overflow();
        const book_error::SequenceGap gap{held.back().id + 1, id};
        if (state == BookSyncState::Synchronized) state = BookSyncState::Desynchronized;
        held.push_back(entry);
        return std::unexpected(gap);
      }
    }
    if (state != BookSyncState::Synchronized) {
      if (held.size() == capacity) return overflow();
      held.push_back(entry);
      return UpdateOutcome::Buffered;
    }
    const std::uint64_t last_id = last.value_or(0);
    if (id <= last_id) return UpdateOutcome::Ignored;
    if (held.size() == capacity) return overflow();
    if (contiguous && id != last_id + 1) {
      state = BookSyncState::Desynchronized;
      held.push_back(entry);
      return std::unexpected(book_error::SequenceGap{last_id + 1, id});
    }
    for (const LevelUpdate& c : update.changes) set(c.side, c.price, c.size);
    last = id;
    last_timestamp = timestamp;
    held.push_back(entry);
    return UpdateOutcome::Applied;
  }

  Outcome handle_snapshot(const OwnedUpdate& update, std::int64_t timestamp) {
    const std::uint64_t id = update.update_id;
    if (snapshot_id && id <= *snapshot_id) {
      return std::unexpected(book_error::StaleSnapshot{*snapshot_id, id});
    }
    if (policy == UpdatePolicy::Contiguous) {
      std::uint64_t expected = id + 1;
      for (const Held& h : held) {
        if (h.id <= id) continue;
        if (h.id != expected) return std::unexpected(book_error::SnapshotHistoryGap{id, expected, h.id});
        ++expected;
      }
    }
    const bool resynchronized = state == BookSyncState::Desynchronized;
    bids.clear();
    asks.clear();
    for (const Level& l : update.bids) set(Side::Bid, l.price, l.size);
    for (const Level& l : update.asks) set(Side::Ask, l.price, l.size);
    last = snapshot_id = id;
    last_timestamp = timestamp;
    while (!held.empty() && held.front().id <= id) held.pop_front();
    for (const Held& h : held) {
      for (const LevelUpdate& c : h.changes) set(c.side, c.price, c.size);
      last = h.id;
      last_timestamp = h.timestamp;
    }
    state = BookSyncState::Synchronized;
    return resynchronized ? UpdateOutcome::Resynchronized : UpdateOutcome::Applied;
  }

  // ---- the queries, over the maps ----
  std::vector<Level> walk(Side side) const {
    std::vector<Level> out;
    if (side == Side::Bid) {
      for (auto it = bids.rbegin(); it != bids.rend(); ++it) out.push_back({it->first, it->second});
    } else {
      for (const auto& [price, size] : asks) out.push_back({price, size});
    }
    return out;
  }
  std::optional<Level> best(Side side) const {
    const auto levels = walk(side);
    if (levels.empty()) return std::nullopt;
    return levels.front();
  }
  // Sums sizes best first while `take` says so.
  template <class Take>
  static DecimalResult<Decimal> sum(const std::vector<Level>& levels, Take take) {
    Decimal total;
    for (std::size_t i = 0; i < levels.size(); ++i) {
      if (!take(i, levels[i])) continue;
      const auto next = total.checked_add(levels[i].size);
      if (!next) return next;
      total = *next;
    }
    return total;
  }
  static DecimalAnswer maybe(const DecimalResult<Decimal>& value) {
    if (!value) return std::unexpected(value.error());
    return *value;
  }
  DecimalAnswer mid_price() const {
    const auto b = best(Side::Bid), a = best(Side::Ask);
    if (!b || !a) return std::nullopt;
    return maybe(b->price.checked_add(a->price).value().checked_div(Decimal::from_int(2)));
  }
  DecimalAnswer spread() const {
    const auto b = best(Side::Bid), a = best(Side::Ask);
    if (!b || !a) return std::nullopt;
    return a->price.checked_sub(b->price).value().abs();
  }
  DecimalAnswer spread_bps() const {
    const auto s = spread();
    const auto m = mid_price();
    if (!*s || !*m || (*m)->is_zero()) return std::nullopt;
    return maybe((*s)->checked_div(**m).value().checked_mul(Decimal::from_int(10000)));
  }
  DecimalAnswer weighted(bool crossed) const {
    const auto b = best(Side::Bid), a = best(Side::Ask);
    if (!b || !a) return std::nullopt;
    const Decimal& bid_weight = crossed ? a->size : b->size;
    const Decimal& ask_weight = crossed ? b->size : a->size;
    const Decimal numerator = b->price.checked_mul(bid_weight).value().checked_add(
        a->price.checked_mul(ask_weight).value()).value();
    return maybe(numerator.checked_div(b->size.checked_add(a->size).value()));
  }
  DecimalAnswer imbalance(std::uint64_t n) const {
    const auto first_n = [n](std::size_t i, const Level&) { return i < n; };
    const Decimal b = sum(walk(Side::Bid), first_n).value();
    const Decimal a = sum(walk(Side::Ask), first_n).value();
    const Decimal total = b.checked_add(a).value();
    if (total.is_zero()) return std::nullopt;
    return maybe(b.checked_sub(a).value().checked_div(total));
  }
  std::optional<Decimal> level(Side side, const Decimal& price) const {
    const auto& levels = side == Side::Bid ? bids : asks;
    const auto it = levels.find(price);
    if (it == levels.end()) return std::nullopt;
    return it->second;
  }
  DecimalResult<Decimal> depth_until_price(Side side, const Decimal& limit) const {
    const auto levels = walk(side);
    std::size_t stop = 0;
    while (stop < levels.size() &&
           (side == Side::Bid ? levels[stop].price >= limit : levels[stop].price <= limit)) {
      ++stop;
    }
    return sum(levels, [stop](std::size_t i, const Level&) { return i < stop; });
  }
  DecimalResult<std::optional<DepthUntilSize>> depth_until_total_size(Side side, const Decimal& target) const {
    const auto levels = walk(side);
    if (!target.is_positive() || levels.empty()) return std::nullopt;
    Decimal total;
    for (const Level& l : levels) {
      total = total.checked_add(l.size).value();
      if (total >= target) return DepthUntilSize{levels.front().price, l.price, total};
    }
    return std::nullopt;
  }
  DecimalResult<Result<Decimal>> volume_between_prices(Side side, const Decimal& from, const Decimal& to) const {
    if (from >= to) return Result<Decimal>(std::unexpected(VornError(vorn_error::InvalidPriceRange{from, to})));
    return Result<Decimal>(
        sum(walk(side), [&](std::size_t, const Level& l) { return l.price >= from && l.price < to; }).value());
  }
};

// Prices are multiples of 0.25 written at varied scales.
Decimal quarter_price(int quarters, std::mt19937_64& random) {
  const bool negative = quarters < 0;
  const int whole = (negative ? -quarters : quarters) / 4;
  const int fraction = (negative ? -quarters : quarters) % 4;
  const char* zero = random() % 3 == 0 ? "0" : "";
  const std::string text = fraction != 0 ? fmt::format("{}{}.{}{}", negative ? "-" : "", whole, fraction * 25, zero)
                                         : fmt::format("{}{}{}", negative ? "-" : "", whole, *zero ? ".0" : "");
  return dec(text);
}

Decimal random_size(std::mt19937_64& random) {
  switch (random() % 10) {
    case 0: case 1: return dec(random() % 2 ? "0" : "0.00");
    case 2: return dec("-1");  // invalid
    default: return dec(std::to_string(random() % 9 + 1) + (random() % 2 ? ".5" : ""));
  }
}

// On a dense book most prices lie on its grid; a few lie off it or outside.
Decimal random_price(bool dense, std::mt19937_64& random) {
  if (random() % 40 == 0) return quarter_price(-1, random);  // invalid anywhere
  if (dense && random() % 30 != 0) {
    return quarter_price(kQuarterMin + 2 * static_cast<int>(random() % 17), random);
  }
  return quarter_price(static_cast<int>(random() % 41), random);
}

std::uint64_t next_id(std::uint64_t cursor, std::mt19937_64& random) {
  const auto roll = random() % 20;
  if (roll < 12) return cursor + 1;
  if (roll < 15) return cursor + 2 + random() % 3;  // a gap
  if (roll < 17) return cursor;                     // repeated
  if (roll < 19) return cursor > 3 ? cursor - 1 - random() % 3 : 0;  // stale
  return cursor + 20;
}

OwnedUpdate random_update(bool dense, std::uint64_t& cursor, std::mt19937_64& random) {
  OwnedUpdate update;
  // Invalid levels are rare so that the books get somewhere.
  const auto level = [&] {
    Level l{random_price(dense, random), random_size(random)};
    if (l.size < Decimal() && random() % 4 != 0) l.size = dec("1");
    return l;
  };
  if (random() % 7 == 0) {
    update.is_snapshot = true;
    const std::int64_t offset = static_cast<std::int64_t>(random() % 7) - 3;
    update.update_id = static_cast<std::uint64_t>(std::max<std::int64_t>(0, static_cast<std::int64_t>(cursor) + offset));
    for (auto* side : {&update.bids, &update.asks}) {
      const auto count = random() % 7;
      for (std::uint64_t i = 0; i < count; ++i) side->push_back(level());
    }
  } else {
    update.update_id = next_id(cursor, random);
    const auto count = 1 + random() % 4;
    for (std::uint64_t i = 0; i < count; ++i) {
      const Level l = level();
      update.changes.push_back({l.price, l.size, random() % 2 ? Side::Bid : Side::Ask});
    }
  }
  cursor = std::max(cursor, update.update_id);
  return update;
}

std::string outcome_text(const Outcome& outcome) {
  if (outcome) return "outcome " + std::to_string(static_cast<int>(*outcome));
  return "error variant " + std::to_string(outcome.error().value.index());
}

void expect_same(const OrderBook& book, const Model& model, std::mt19937_64& random) {
  EXPECT_EQ(book.state(), model.state);
  EXPECT_EQ(book.last_update_id(), model.last);
  EXPECT_EQ(book.snapshot_update_id(), model.snapshot_id);
  EXPECT_EQ(book.last_timestamp(), model.last_timestamp);
  ASSERT_EQ(book.replay_buffer().size(), model.held.size());
  for (std::size_t i = 0; i < model.held.size(); ++i) {
    const auto entry = book.replay_buffer()[i];
    EXPECT_EQ(entry.delta.update_id, model.held[i].id);
    EXPECT_EQ(entry.timestamp, model.held[i].timestamp);
    EXPECT_TRUE(std::equal(entry.delta.updates.begin(), entry.delta.updates.end(),
                           model.held[i].changes.begin(), model.held[i].changes.end()));
  }
  for (const Side side : {Side::Bid, Side::Ask}) {
    ASSERT_EQ(book_test::all_levels(book, side), model.walk(side));
    EXPECT_EQ(text(book.best_bid()), text(model.best(Side::Bid)));
    EXPECT_EQ(text(book.best_ask()), text(model.best(Side::Ask)));
    for (std::uint64_t n : {1, 2, 3}) {
      const auto levels = model.walk(side);
      TopLevels top = book.top_n(side, n);
      std::optional<Level> nth;
      for (std::uint64_t i = 0; i < n; ++i) nth = top.next();
      EXPECT_EQ(text(nth), text(levels.size() >= n ? std::optional<Level>(levels[n - 1]) : std::nullopt));
    }
    for (int quarters = 0; quarters <= 40; quarters += 1 + static_cast<int>(random() % 3)) {
      const Decimal price = quarter_price(quarters, random);
      EXPECT_EQ(text(book.level(side, price)), text(model.level(side, price)));
      EXPECT_EQ(text(book.depth_until_price(side, price)), text(model.depth_until_price(side, price)));
      const Decimal to = quarter_price(static_cast<int>(random() % 41), random);
      EXPECT_EQ(text(book.volume_between_prices(side, price, to)),
                text(model.volume_between_prices(side, price, to)));
    }
    for (const char* target : {"-1", "0", "0.5", "1", "3", "7.5", "20", "100"}) {
      EXPECT_EQ(text(book.depth_until_total_size(side, dec(target))),
                text(model.depth_until_total_size(side, dec(target))))
          << target;
    }
  }
  EXPECT_EQ(text(book.mid_price()), text(model.mid_price()));
  EXPECT_EQ(text(book.spread()), text(model.spread()));
  EXPECT_EQ(text(book.spread_bps()), text(model.spread_bps()));
  EXPECT_EQ(text(book.weighted_mid_price()), text(model.weighted(false)));
  EXPECT_EQ(text(book.microprice()), text(model.weighted(true)));
  for (std::uint64_t n : {0, 1, 2, 3, 4, 100}) {
    EXPECT_EQ(text(book.imbalance(n)), text(model.imbalance(n))) << n;
  }
}

TEST(OrderBookModel, RandomStreamsMatchTheModel) {
  std::uint64_t seed = 1;
  for (const bool dense : {false, true}) {
    for (const auto policy : {UpdatePolicy::Monotonic, UpdatePolicy::Contiguous}) {
      for (const std::size_t capacity : {0, 1, 2, 3, 5, 64}) {
        for (int run = 0; run < 3; ++run, ++seed) {
          SCOPED_TRACE("seed " + std::to_string(seed) + (dense ? " dense" : " sparse"));
          std::mt19937_64 random(seed);
          auto book = dense ? OrderBook::new_dense(policy, capacity, dec("0.5"), dec("1"), dec("9")).value()
                            : OrderBook::new_sparse(policy, capacity).value();
          Model model{policy, capacity, dense};
          std::uint64_t cursor = random() % 4;
          for (int step = 0; step < 150; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            const OwnedUpdate update = random_update(dense, cursor, random);
            const std::int64_t timestamp = 1000 + step;
            const auto expected = model.handle(update, timestamp);
            const auto got = book_test::apply(book, update, timestamp);
            ASSERT_TRUE(got == expected)
                << "book: " << outcome_text(got) << ", model: " << outcome_text(expected);
            expect_same(book, model, random);
            if (HasFailure()) return;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace vorn
