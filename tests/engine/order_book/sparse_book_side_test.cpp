// A sparse side grown to thousands of levels and shrunk again by random
// changes and snapshots (in price order and in random order), checked after each batch against a std::map: the
// levels best first (with the text of their first price), sizes at prices,
// and runs between two prices. Each change reserves exactly one level first,
// as a book does, so a node pool reserved too small stops the test.
// Then trees of known shape, each driven into one way of rebalancing (a leaf
// or an inner node borrowing from either neighbour or merging with one, the
// root giving way) or of splitting, and first snapshots into pools that never
// grew; after each step every level is read back through lookups that
// descend from the root, not only by the walk from the best level.
#include "engine/order_book/sparse_book_side.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/order_book/book_side.hpp"
#include "engine/panic.hpp"

namespace vorn {
namespace {

// Cents, written with two or three decimals, so that equal prices differ in text.
Decimal price_of(std::int64_t cents, bool long_form) {
  return long_form ? Decimal::from_parts(cents * 10, 3, false).value()
                   : Decimal::from_parts(cents, 2, false).value();
}

struct Oracle {
  Side side;
  std::map<Decimal, Level> levels;  // by value

  void update(const Decimal& price, const Decimal& size) {
    if (size.is_zero()) {
      levels.erase(price);
    } else if (auto it = levels.find(price); it != levels.end()) {
      it->second.size = size;
    } else {
      levels.emplace(price, Level{price, size});
    }
  }
  std::vector<Level> best_first() const {
    std::vector<Level> out;
    for (const auto& [price, level] : levels) out.push_back(level);
    if (side == Side::Bid) std::reverse(out.begin(), out.end());
    return out;
  }
};

void expect_same(const BookSide& side, const Oracle& oracle, std::mt19937_64& rng) {
  const std::vector<Level> expected = oracle.best_first();
  std::vector<Level> walked;
  for (LevelCursor cursor(side); cursor.advance();) walked.push_back(cursor.level());
  ASSERT_EQ(walked.size(), expected.size());
  for (std::size_t i = 0; i < walked.size(); ++i) {
    ASSERT_EQ(walked[i].price.to_string(), expected[i].price.to_string()) << i;
    ASSERT_EQ(walked[i].size.to_string(), expected[i].size.to_string()) << i;
  }
  std::uniform_int_distribution<std::int64_t> cents(0, 24000);
  for (int probe = 0; probe < 20; ++probe) {
    const Decimal price = price_of(cents(rng), probe % 2 == 0);
    const auto found = oracle.levels.find(price);
    EXPECT_EQ(side.size_at(price), found == oracle.levels.end() ? std::nullopt : std::optional(found->second.size));
    // The run between two prices, best first.
    const Decimal to = price_of(cents(rng), probe % 3 == 0);
    if (!(price < to)) continue;
    std::vector<Level> inside;
    for (const Level& level : expected) {
      if (!(level.price < price) && level.price < to) inside.push_back(level);
    }
    const SparseBookSide& sparse = *side.sparse();
    const auto range = sparse.levels_between(price, to);
    std::vector<Level> between;
    for (auto at = range.end; at != range.begin;) between.push_back(sparse.step_back(at));
    EXPECT_EQ(between, inside);
  }
}

void run_stream(Side which, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  BookSide side{SparseBookSide(which)};
  Oracle oracle{which, {}};
  const auto chance = [&rng](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
  // A snapshot in strict price order, best first or worst first (built in
  // one pass), then growth and mostly removals around three centres; then a
  // snapshot in random order.
  const int ordered_sizes[] = {0, 49, 20000, 2305};
  for (int round = 0; round < 4; ++round) {
    {
      std::vector<std::int64_t> cents(24000);
      for (std::size_t i = 0; i < cents.size(); ++i) cents[i] = static_cast<std::int64_t>(i);
      std::shuffle(cents.begin(), cents.end(), rng);
      cents.resize(ordered_sizes[round]);
      std::sort(cents.begin(), cents.end());
      if ((round % 2 == 0) == (which == Side::Bid)) std::reverse(cents.begin(), cents.end());
      std::vector<Level> snapshot;
      for (std::int64_t c : cents) snapshot.push_back({price_of(c, chance(50)), Decimal::from_int(c % 89 + 1)});
      side.reserve_additional(snapshot.size());
      side.apply_snapshot(snapshot);
      oracle.levels.clear();
      for (const Level& level : snapshot) oracle.levels.emplace(level.price, level);
      expect_same(side, oracle, rng);
    }
    for (int phase = 0; phase < 2; ++phase) {
      const int zero_percent = phase == 0 ? 15 : 85;
      for (int change = 0; change < 40000; ++change) {
        const std::int64_t centre = std::uniform_int_distribution<int>(0, 2)(rng) * 8000 + 4000;
        const std::int64_t cents = centre + std::uniform_int_distribution<std::int64_t>(-4000, 3999)(rng);
        const Decimal price = price_of(cents, chance(50));
        const Decimal size = chance(zero_percent) ? Decimal() : Decimal::from_int(1 + change % 97);
        side.reserve_additional(1);
        side.update_level(price, size);
        oracle.update(price, size);
        if (change % 10000 == 9999) expect_same(side, oracle, rng);
      }
    }
    // Every level removed in random order, by a price of either text.
    if (round == 1) {
      std::vector<Decimal> prices;
      for (const auto& [price, level] : oracle.levels) prices.push_back(price);
      std::shuffle(prices.begin(), prices.end(), rng);
      for (std::size_t i = 0; i < prices.size(); ++i) {
        side.reserve_additional(1);
        side.update_level(prices[i].normalized(), Decimal());
        oracle.update(prices[i], Decimal());
        if (i % 5000 == 4999) expect_same(side, oracle, rng);
      }
      expect_same(side, oracle, rng);
      EXPECT_FALSE(side.best().has_value());
    }
    // A snapshot in random order with repeated prices: the latest one wins.
    std::vector<Level> snapshot;
    for (int i = 0; i < 3000 * round; ++i) {
      const Decimal price = price_of(std::uniform_int_distribution<std::int64_t>(0, 23999)(rng), chance(50));
      snapshot.push_back({price, chance(10) ? Decimal() : Decimal::from_int(i % 13 + 1)});
    }
    side.reserve_additional(snapshot.size());
    side.apply_snapshot(snapshot);
    oracle.levels.clear();
    for (const Level& level : snapshot) {
      oracle.levels.erase(level.price);
      if (!level.size.is_zero()) oracle.levels.emplace(level.price, level);
    }
    expect_same(side, oracle, rng);
  }
}

TEST(SparseBookSide, AChangeWithoutReservedRoomIsABrokenInvariant) {
  SparseBookSide side(Side::Ask);
  EXPECT_THROW(side.update_level(price_of(100, false), Decimal::from_int(1)), Panic);
  EXPECT_TRUE(side.empty());
}

TEST(SparseBookSide, ManyLevelsMatchAnOrderedMapOnBids) { run_stream(Side::Bid, 1); }
TEST(SparseBookSide, ManyLevelsMatchAnOrderedMapOnAsks) { run_stream(Side::Ask, 2); }

// ---- trees of known shape, every level read back from the root ----------------

Decimal cents(std::int64_t value) { return Decimal::from_parts(value, 2, false).value(); }

// The levels of a run, best first: from its end gap back to its begin gap.
// A level of zero price and size, which no side holds, marks a begin gap
// that was never met.
std::vector<Level> run(const SparseBookSide& side, SparseBookSide::Range range) {
  std::vector<Level> levels;
  auto at = range.end;
  while (at != range.begin && at != side.begin()) levels.push_back(side.step_back(at));
  if (at != range.begin) levels.push_back(Level{});
  return levels;
}

// Every level read back through lookups that descend from the root: the size
// at its price and none at the absent prices beside it, the run from it to
// the next level and the run between the absent prices around it; then the
// whole side as one run and the walk from the best level. `expected` maps
// even cents to sizes, so odd cents are absent. The first difference, or "".
std::string mismatch(const SparseBookSide& side, const std::map<std::int64_t, Decimal>& expected) {
  for (auto it = expected.begin(); it != expected.end(); ++it) {
    const auto& [at, size] = *it;
    const auto fault = [&](const char* what) { return what + (" at " + cents(at).to_string()); };
    if (side.size_at(cents(at)) != size) return fault("size");
    if (side.size_at(cents(at - 1)) || side.size_at(cents(at + 1))) return fault("a level beside");
    const std::vector<Level> alone{{cents(at), size}};
    const std::int64_t next = std::next(it) == expected.end() ? at + 1 : std::next(it)->first;
    if (run(side, side.levels_between(cents(at), cents(next))) != alone) return fault("the run to the next");
    if (run(side, side.levels_between(cents(at - 1), cents(at + 1))) != alone) return fault("the run around");
  }
  if (side.size() != expected.size()) return "size() " + std::to_string(side.size());
  std::vector<Level> best_first;
  for (const auto& [at, size] : expected) best_first.push_back({cents(at), size});
  if (side.side() == Side::Bid) std::reverse(best_first.begin(), best_first.end());
  if (!expected.empty() &&
      run(side, side.levels_between(cents(expected.begin()->first - 1), cents(expected.rbegin()->first + 1))) !=
          best_first) {
    return "the whole run";
  }
  if (run(side, {side.begin(), side.end()}) != best_first) return "the walk";
  return "";
}

// A sparse side and the ranks it holds. Rank 0 is the worst level, each rank
// two cents better, with a size of rank + 1. Every change reserves room for
// one level first, as a book does.
class Ladder {
public:
  explicit Ladder(Side side) : side_(side) {}

  // A snapshot of these ranks in this order.
  void load(const std::vector<int>& ranks) {
    std::vector<Level> snapshot;
    for (int rank : ranks) snapshot.push_back(level(rank));
    side_.reserve_additional(snapshot.size());
    side_.apply_snapshot(snapshot);
    ranks_ = std::set<int>(ranks.begin(), ranks.end());
  }
  void add(int rank) {
    side_.reserve_additional(1);
    side_.update_level(level(rank).price, level(rank).size);
    ranks_.insert(rank);
  }
  void remove(int rank) {
    side_.reserve_additional(1);
    side_.update_level(level(rank).price, Decimal());
    ranks_.erase(rank);
  }
  const std::set<int>& ranks() const { return ranks_; }
  std::string mismatch() const {
    std::map<std::int64_t, Decimal> expected;
    for (int rank : ranks_) expected.emplace(cents_of(rank), level(rank).size);
    return vorn::mismatch(side_, expected);
  }

private:
  std::int64_t cents_of(int rank) const { return side_.side() == Side::Bid ? 100000 + 2 * rank : 100000 - 2 * rank; }
  Level level(int rank) const { return Level{cents(cents_of(rank)), Decimal::from_int(rank + 1)}; }

  SparseBookSide side_;
  std::set<int> ranks_;
};

enum class Order { WorstFirst, BestFirst, Shuffled };

std::vector<int> ranks(int count, Order order = Order::WorstFirst) {
  std::vector<int> out(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) out[static_cast<std::size_t>(i)] = i;
  if (order == Order::BestFirst) std::reverse(out.begin(), out.end());
  if (order == Order::Shuffled) {
    std::shuffle(out.begin(), out.end(), std::mt19937_64(static_cast<std::uint64_t>(count)));
  }
  return out;
}

// A snapshot in price order fills leaves of 48 levels, leaf j holding ranks
// 48j to 48j + 47, under inner nodes that share the leaves evenly, 48 at
// most each. Removing the best levels of leaf j down to fill[j] (at least 16,
// the fewest a leaf holds) changes no other node.
constexpr int kLoadedLeaf = 48;
constexpr int kFewestInLeaf = 16;

void load_leaves(Ladder& ladder, const std::vector<int>& fill) {
  ladder.load(ranks(static_cast<int>(fill.size()) * kLoadedLeaf));
  for (std::size_t leaf = 0; leaf < fill.size(); ++leaf) {
    for (int slot = fill[leaf]; slot < kLoadedLeaf; ++slot) ladder.remove(static_cast<int>(leaf) * kLoadedLeaf + slot);
  }
}

class SparseBookSideShapes : public ::testing::TestWithParam<Side> {};

// Height one: a root over a few leaves, one of them at 16 levels. One level
// less and it borrows from a neighbour (15 and 48 are more than a merged leaf
// takes) or merges with it (15 and 32 fit in 48); the last leaf has only a
// left neighbour; of two leaves, the merged one replaces the root. Then every
// level goes, best first, so that the last leaf keeps running low.
TEST_P(SparseBookSideShapes, ALeafRunningLow) {
  struct Case {
    const char* name;
    std::vector<int> fill;
    int leaf;
  };
  const Case cases[] = {
      {"borrows from the right", {16, 48, 48, 48}, 0},
      {"the last leaf borrows from the left", {48, 48, 48, 16}, 3},
      {"merges with the right", {16, 32, 48, 48}, 0},
      {"the last leaf merges with the left", {48, 48, 32, 16}, 3},
      {"the root gives way to the merged leaf", {16, 32}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    [&] {
      Ladder ladder(GetParam());
      load_leaves(ladder, c.fill);
      ASSERT_EQ(ladder.mismatch(), "");
      ladder.remove(c.leaf * kLoadedLeaf);
      ASSERT_EQ(ladder.mismatch(), "") << "after the removal that runs it low";
      while (!ladder.ranks().empty()) {
        ladder.remove(*ladder.ranks().rbegin());
        ASSERT_EQ(ladder.mismatch(), "") << ladder.ranks().size() << " left";
      }
    }();
  }
}

// Height two: a root over inner nodes over leaves of 16 levels. The worst
// levels under one inner node go one by one: its first leaf, at 15, merges
// with the next one, so the node loses a child after the first removal and
// after every 16 more, until it runs low itself. Of 145 leaves a snapshot
// makes inner nodes of 37, 36, 36 and 36 children, of 97 leaves 33, 32 and
// 32, of 49 leaves 25 and 24. At 15 children a node borrows from a
// neighbour of 36 and merges with one of 32 or 24.
TEST_P(SparseBookSideShapes, AnInnerNodeRunningLow) {
  struct Case {
    const char* name;
    int leaves;
    int first_leaf;  // of the inner node
    int merges;      // of its leaves, until it holds 15 children
  };
  const Case cases[] = {
      {"borrows from the right", 145, 0, 22},
      {"the last inner node borrows from the left", 145, 37 + 36 + 36, 21},
      {"merges with the right", 97, 0, 18},
      {"the last inner node merges with the left", 97, 33 + 32, 17},
      {"the root gives way to the merged node", 49, 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    [&] {
      Ladder ladder(GetParam());
      load_leaves(ladder, std::vector<int>(static_cast<std::size_t>(c.leaves), kFewestInLeaf));
      ASSERT_EQ(ladder.mismatch(), "");
      for (int removed = 0; removed <= kFewestInLeaf * (c.merges - 1); ++removed) {
        ladder.remove((c.first_leaf + removed / kFewestInLeaf) * kLoadedLeaf + removed % kFewestInLeaf);
        if (removed % kFewestInLeaf == 0) {
          ASSERT_EQ(ladder.mismatch(), "") << "after removal " << removed;
        }
      }
    }();
  }
}

// Levels added one by one to an empty side: in price order either way a leaf
// splits at one end, shuffled in the middle; past 64 leaves the root splits.
TEST_P(SparseBookSideShapes, GrowingOneLevelAtATime) {
  for (const Order order : {Order::WorstFirst, Order::BestFirst, Order::Shuffled}) {
    SCOPED_TRACE(static_cast<int>(order));
    Ladder ladder(GetParam());
    const std::vector<int> added = ranks(4000, order);
    for (std::size_t i = 0; i < added.size(); ++i) {
      ladder.add(added[i]);
      if (i % 250 == 249) {
        ASSERT_EQ(ladder.mismatch(), "") << i + 1 << " levels";
      }
    }
  }
}

// A side's first snapshot, of more levels than a leaf holds, into pools that
// never grew: in price order either way (built in one pass) or shuffled
// (level by level).
TEST_P(SparseBookSideShapes, AFirstSnapshotIntoFreshPools) {
  for (const int count : {65, 200, 500, 3000}) {
    for (const Order order : {Order::WorstFirst, Order::BestFirst, Order::Shuffled}) {
      SCOPED_TRACE(std::to_string(count) + " levels, order " + std::to_string(static_cast<int>(order)));
      [&] {
        Ladder ladder(GetParam());
        ASSERT_NO_THROW(ladder.load(ranks(count, order)));
        EXPECT_EQ(ladder.mismatch(), "");
      }();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sides, SparseBookSideShapes, ::testing::Values(Side::Bid, Side::Ask),
                         [](const ::testing::TestParamInfo<Side>& info) {
                           return std::string(info.param == Side::Bid ? "Bid" : "Ask");
                         });

}  // namespace
}  // namespace vorn
