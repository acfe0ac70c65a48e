// Two hand-worked sequencing scenarios and the prepare/commit contract; the
// random streams of book_model_test.cpp cover the sequencing rules at large.
// And a fresh sparse book's first snapshot of many levels, for which the book
// reserves its sides' room itself.
#include "engine/order_book/book.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <expected>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "engine/panic.hpp"
#include "tests/engine/order_book/book_test_support.hpp"

namespace vorn {
namespace {

using book_test::apply;
using book_test::dec;
using book_test::delta;
using book_test::OwnedUpdate;
using book_test::snapshot;

struct Step {
  OwnedUpdate update;
  std::variant<UpdateOutcome, OrderBookUpdateError> result;
  BookSyncState state;
};

struct Scenario {
  const char* name;
  UpdatePolicy policy;
  std::size_t buffer_size;
  std::vector<Step> steps;
  std::optional<std::uint64_t> last_update_id;
  std::vector<std::uint64_t> held;  // ids in the replay buffer, oldest first
};

// A delta that sets one bid at a price named after its id.
OwnedUpdate bid_delta(std::uint64_t id) {
  return delta(id, {{Decimal::from_int(static_cast<std::int64_t>(id)), dec("1"), Side::Bid}});
}
OwnedUpdate empty_snapshot(std::uint64_t id) { return snapshot(id, {}, {}); }

constexpr auto kAwaiting = BookSyncState::AwaitingSnapshot;
constexpr auto kSynced = BookSyncState::Synchronized;
constexpr auto kDesynced = BookSyncState::Desynchronized;
constexpr auto kApplied = UpdateOutcome::Applied;
constexpr auto kBuffered = UpdateOutcome::Buffered;
constexpr auto kIgnored = UpdateOutcome::Ignored;
constexpr auto kResynced = UpdateOutcome::Resynchronized;

std::vector<std::uint64_t> held_ids(const OrderBook& book) {
  std::vector<std::uint64_t> ids;
  for (std::size_t i = 0; i < book.replay_buffer().size(); ++i) ids.push_back(book.replay_buffer()[i].delta.update_id);
  return ids;
}

TEST(OrderBookSequencing, Scenarios) {
  using namespace book_error;
  const auto contiguous = UpdatePolicy::Contiguous;
  const std::vector<Scenario> scenarios{
      {"a gap desynchronizes and a snapshot must be continued by the held deltas", contiguous, 10,
       {{empty_snapshot(100), kApplied, kSynced}, {bid_delta(101), kApplied, kSynced},
        {bid_delta(102), kApplied, kSynced}, {bid_delta(104), SequenceGap{103, 104}, kDesynced},
        {bid_delta(105), kBuffered, kDesynced}, {bid_delta(107), SequenceGap{106, 107}, kDesynced},
        {bid_delta(105), kIgnored, kDesynced}, {empty_snapshot(103), SnapshotHistoryGap{103, 106, 107}, kDesynced}},
       102, {101, 102, 104, 105, 107}},
      {"a full buffer desynchronizes until a snapshot", contiguous, 2,
       {{empty_snapshot(10), kApplied, kSynced}, {bid_delta(11), kApplied, kSynced},
        {bid_delta(12), kApplied, kSynced}, {bid_delta(12), kIgnored, kSynced},
        {bid_delta(13), BufferCapacityExceeded{2}, kDesynced}, {bid_delta(14), BufferCapacityExceeded{2}, kDesynced},
        {empty_snapshot(12), kResynced, kSynced}, {bid_delta(13), kApplied, kSynced}},
       13, {13}},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    for (const bool dense : {false, true}) {
      auto book = dense ? OrderBook::new_dense(scenario.policy, scenario.buffer_size, dec("1"), dec("0"), dec("1000"))
                        : OrderBook::new_sparse(scenario.policy, scenario.buffer_size);
      ASSERT_TRUE(book.has_value());
      for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
        const Step& step = scenario.steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        const auto result = apply(*book, step.update, static_cast<std::int64_t>(i));
        if (const auto* outcome = std::get_if<UpdateOutcome>(&step.result)) {
          EXPECT_EQ(result, *outcome);
        } else {
          EXPECT_EQ(result, std::unexpected(std::get<OrderBookUpdateError>(step.result)));
        }
        EXPECT_EQ(book->state(), step.state);
      }
      EXPECT_EQ(book->last_update_id(), scenario.last_update_id);
      EXPECT_EQ(held_ids(*book), scenario.held);
    }
  }
}

// Preparing decides without changing anything; invalid levels are refused
// first and keep the state.
TEST(OrderBookSequencing, PrepareDecidesWithoutChanging) {
  using namespace book_error;
  auto book = OrderBook::new_sparse(UpdatePolicy::Contiguous, 3).value();
  ASSERT_EQ(apply(book, empty_snapshot(10), 1), kApplied);
  ASSERT_EQ(apply(book, bid_delta(11), 2), kApplied);
  const std::vector<std::pair<OwnedUpdate, PreparedUpdate>> cases{
      {bid_delta(11), prepared::Ignore{}},
      {bid_delta(12), prepared::Apply{}},
      {bid_delta(13), prepared::Reject{RejectEffect::BufferAndDesynchronize, SequenceGap{12, 13}}},
      {empty_snapshot(10), prepared::Reject{RejectEffect::KeepState, StaleSnapshot{10, 10}}},
      {empty_snapshot(11), prepared::ApplySnapshot{false}},
      {delta(5, {{dec("2"), dec("-1"), Side::Ask}}),
       prepared::Reject{RejectEffect::KeepState, InvalidUpdate{Side::Ask, dec("2"), dec("-1")}}},
  };
  for (const auto& [update, decision] : cases) EXPECT_EQ(book.prepare_update(update.view()), decision);
  EXPECT_EQ(held_ids(book), (std::vector<std::uint64_t>{11}));
  EXPECT_EQ(book.state(), kSynced);
}

TEST(OrderBookSequencing, ADecisionCommittedWithTheWrongKindOfUpdateAborts) {
  auto book = OrderBook::new_sparse(UpdatePolicy::Monotonic, 3).value();
  const OwnedUpdate a_delta = bid_delta(1);
  const OwnedUpdate a_snapshot = empty_snapshot(1);
  const std::vector<std::pair<PreparedUpdate, const OwnedUpdate*>> cases{
      {prepared::Ignore{}, &a_snapshot},
      {prepared::Buffer{}, &a_snapshot},
      {prepared::Apply{}, &a_snapshot},
      {prepared::Reject{RejectEffect::Buffer, book_error::SequenceGap{1, 2}}, &a_snapshot},
      {prepared::Reject{RejectEffect::BufferAndDesynchronize, book_error::SequenceGap{1, 2}}, &a_snapshot},
      {prepared::ApplySnapshot{true}, &a_delta},
  };
  for (const auto& [decision, update] : cases) {
    try {
      (void)book.commit_update(decision, update->view(), 1);
      ADD_FAILURE() << "a mismatched commit must abort";
    } catch (const Panic& panic) {
      EXPECT_EQ(panic.message(), "internal error: entered unreachable code: prepared update must be committed with "
                                 "the update it describes");
    }
  }
  EXPECT_EQ(book.state(), kAwaiting);
  EXPECT_EQ(book.replay_buffer().size(), 0u);
}

// Held deltas own copies of their changes: the caller's storage may be reused
// as soon as the call returns.
TEST(OrderBookSequencing, HeldDeltasCopyTheirChanges) {
  auto book = OrderBook::new_sparse(UpdatePolicy::Monotonic, 4).value();
  std::vector<LevelUpdate> storage{{dec("7"), dec("1"), Side::Bid}};
  for (std::uint64_t id = 1; id <= 3; ++id) {
    storage[0].price = Decimal::from_int(static_cast<std::int64_t>(10 * id));
    const OrderBookUpdate view = OrderBookDelta{storage, id};
    ASSERT_EQ(book.commit_update(book.prepare_update(view), view, 1), kBuffered);
  }
  storage[0].price = dec("999");
  ASSERT_EQ(apply(book, empty_snapshot(1), 2), kApplied);
  EXPECT_EQ(book_test::all_levels(book, Side::Bid), (std::vector<Level>{{dec("30"), dec("1")}, {dec("20"), dec("1")}}));
}

// A fresh book's first snapshot, of more levels than a leaf of a sparse side
// holds, in price order either way (built in one pass) or shuffled (level by
// level): every level is found at its price and in the walk best first.
TEST(OrderBookSparse, AFirstSnapshotOfManyLevels) {
  for (const int count : {65, 200, 500, 3000}) {
    for (int order = 0; order < 3; ++order) {
      SCOPED_TRACE(std::to_string(count) + " levels, order " + std::to_string(order));
      // Bids at 1 to count, asks above them, each with a size of its own.
      std::vector<Level> bids;
      std::vector<Level> asks;
      for (int i = 1; i <= count; ++i) {
        bids.push_back({Decimal::from_int(i), Decimal::from_int(i)});
        asks.push_back({Decimal::from_int(count + i), Decimal::from_int(2 * count + i)});
      }
      const std::vector<Level> best_bids(bids.rbegin(), bids.rend());
      const std::vector<Level> best_asks = asks;
      if (order == 1) {
        std::reverse(bids.begin(), bids.end());
        std::reverse(asks.begin(), asks.end());
      } else if (order == 2) {
        std::mt19937_64 rng(static_cast<std::uint64_t>(count));
        std::shuffle(bids.begin(), bids.end(), rng);
        std::shuffle(asks.begin(), asks.end(), rng);
      }
      [&] {
        auto book = OrderBook::new_sparse(UpdatePolicy::Contiguous, 1).value();
        std::expected<UpdateOutcome, OrderBookUpdateError> result;
        ASSERT_NO_THROW(result = apply(book, snapshot(1, bids, asks), 1));
        EXPECT_EQ(result, kApplied);
        for (const auto& [side, levels] : {std::pair{Side::Bid, &best_bids}, std::pair{Side::Ask, &best_asks}}) {
          EXPECT_EQ(book_test::all_levels(book, side), *levels);
          std::size_t found = 0;
          for (const Level& level : *levels) found += book.level(side, level.price) == level.size ? 1 : 0;
          EXPECT_EQ(found, levels->size());
        }
      }();
    }
  }
}

}  // namespace
}  // namespace vorn
