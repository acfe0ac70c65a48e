// A sparse side grown to thousands of levels and shrunk again by random
// changes and snapshots (in price order and in random order), checked after each batch against a std::map: the
// levels best first (with the text of their first price), sizes at prices,
// and runs between two prices. Each change reserves exactly one level first,
// as a book does, so a node pool reserved too small stops the test.
#include "engine/order_book/sparse_book_side.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
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

}  // namespace
}  // namespace vorn
