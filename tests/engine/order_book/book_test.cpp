#include "engine/order_book/book.hpp"

#include <gtest/gtest.h>

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

using Expected = std::variant<UpdateOutcome, OrderBookUpdateError>;

struct Step {
  OwnedUpdate update;
  Expected result;
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

// A delta that sets one bid at a price named after its id, so that replays show.
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
  for (std::size_t i = 0; i < book.replay_buffer().size(); ++i) {
    ids.push_back(book.replay_buffer()[i].delta.update_id);
  }
  return ids;
}

std::vector<Scenario> scenarios() {
  using namespace book_error;
  const auto contiguous = UpdatePolicy::Contiguous;
  const auto monotonic = UpdatePolicy::Monotonic;
  return {
      {"buffer size 0 rejects every delta that is not ignored", contiguous, 0,
       {{bid_delta(1), BufferCapacityExceeded{0}, kDesynced},
        {empty_snapshot(5), kResynced, kSynced},
        {bid_delta(5), kIgnored, kSynced},
        {bid_delta(6), BufferCapacityExceeded{0}, kDesynced},
        {bid_delta(7), BufferCapacityExceeded{0}, kDesynced},
        {empty_snapshot(8), kResynced, kSynced}},
       8, {}},
      {"a gap desynchronizes and a snapshot replays the held deltas", contiguous, 10,
       {{empty_snapshot(100), kApplied, kSynced},
        {bid_delta(101), kApplied, kSynced},
        {bid_delta(102), kApplied, kSynced},
        {bid_delta(104), SequenceGap{103, 104}, kDesynced},
        {bid_delta(105), kBuffered, kDesynced},
        {bid_delta(107), SequenceGap{106, 107}, kDesynced},
        {bid_delta(105), kIgnored, kDesynced},
        {snapshot(103, {}, {}), SnapshotHistoryGap{103, 106, 107}, kDesynced}},
       102, {101, 102, 104, 105, 107}},
      {"a snapshot replays what continues it", contiguous, 10,
       {{empty_snapshot(100), kApplied, kSynced},
        {bid_delta(101), kApplied, kSynced},
        {bid_delta(102), kApplied, kSynced},
        {bid_delta(104), SequenceGap{103, 104}, kDesynced},
        {bid_delta(105), kBuffered, kDesynced},
        {empty_snapshot(103), kResynced, kSynced},
        {bid_delta(105), kIgnored, kSynced},
        {bid_delta(106), kApplied, kSynced}},
       106, {104, 105, 106}},
      {"deltas before the first snapshot are held", contiguous, 10,
       {{bid_delta(5), kBuffered, kAwaiting},
        {bid_delta(6), kBuffered, kAwaiting},
        {bid_delta(7), kBuffered, kAwaiting},
        {empty_snapshot(3), SnapshotHistoryGap{3, 4, 5}, kAwaiting},
        {empty_snapshot(6), kApplied, kSynced},
        {empty_snapshot(6), StaleSnapshot{6, 6}, kSynced},
        {empty_snapshot(2), StaleSnapshot{6, 2}, kSynced}},
       7, {7}},
      {"a gap while awaiting holds the delta and keeps the state", contiguous, 10,
       {{bid_delta(5), kBuffered, kAwaiting},
        {bid_delta(7), SequenceGap{6, 7}, kAwaiting},
        {bid_delta(6), kIgnored, kAwaiting},
        {empty_snapshot(4), SnapshotHistoryGap{4, 6, 7}, kAwaiting},
        {empty_snapshot(6), kApplied, kSynced}},
       7, {7}},
      {"a snapshot between the last snapshot and the last delta", monotonic, 10,
       {{empty_snapshot(100), kApplied, kSynced},
        {bid_delta(101), kApplied, kSynced},
        {bid_delta(102), kApplied, kSynced},
        {bid_delta(103), kApplied, kSynced},
        {empty_snapshot(102), kApplied, kSynced}},
       103, {103}},
      {"monotonic ids need only increase", monotonic, 10,
       {{empty_snapshot(0), kApplied, kSynced},
        {bid_delta(1), kApplied, kSynced},
        {bid_delta(5), kApplied, kSynced},
        {bid_delta(9), kApplied, kSynced},
        {bid_delta(9), kIgnored, kSynced},
        {bid_delta(3), kIgnored, kSynced}},
       9, {1, 5, 9}},
      {"monotonic held deltas are not checked for gaps", monotonic, 10,
       {{bid_delta(5), kBuffered, kAwaiting},
        {bid_delta(9), kBuffered, kAwaiting},
        {bid_delta(8), kIgnored, kAwaiting},
        {empty_snapshot(2), kApplied, kSynced}},
       9, {5, 9}},
      {"a full buffer desynchronizes a synchronized book", contiguous, 2,
       {{empty_snapshot(10), kApplied, kSynced},
        {bid_delta(11), kApplied, kSynced},
        {bid_delta(12), kApplied, kSynced},
        {bid_delta(12), kIgnored, kSynced},
        {bid_delta(13), BufferCapacityExceeded{2}, kDesynced},
        {bid_delta(14), BufferCapacityExceeded{2}, kDesynced},
        {bid_delta(13), BufferCapacityExceeded{2}, kDesynced},
        {empty_snapshot(12), kResynced, kSynced},
        {bid_delta(13), kApplied, kSynced}},
       13, {13}},
      {"a full buffer desynchronizes an awaiting book", monotonic, 1,
       {{bid_delta(3), kBuffered, kAwaiting},
        {bid_delta(4), BufferCapacityExceeded{1}, kDesynced},
        {bid_delta(2), kIgnored, kDesynced},
        {empty_snapshot(1), kResynced, kSynced}},
       3, {3}},
  };
}

TEST(OrderBookSequencing, Scenarios) {
  for (const Scenario& scenario : scenarios()) {
    SCOPED_TRACE(scenario.name);
    for (const bool dense : {false, true}) {
      auto book = dense ? OrderBook::new_dense(scenario.policy, scenario.buffer_size, dec("1"),
                                               dec("0"), dec("1000"))
                        : OrderBook::new_sparse(scenario.policy, scenario.buffer_size);
      ASSERT_TRUE(book.has_value());
      std::int64_t timestamp = 1000;
      for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
        const Step& step = scenario.steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        const auto result = apply(*book, step.update, ++timestamp);
        if (const auto* outcome = std::get_if<UpdateOutcome>(&step.result)) {
          ASSERT_TRUE(result.has_value());
          EXPECT_EQ(*result, *outcome);
        } else {
          ASSERT_FALSE(result.has_value());
          EXPECT_EQ(result.error(), std::get<OrderBookUpdateError>(step.result));
        }
        EXPECT_EQ(book->state(), step.state);
      }
      EXPECT_EQ(book->last_update_id(), scenario.last_update_id);
      EXPECT_EQ(held_ids(*book), scenario.held);
    }
  }
}

// The messages a caller sees, in full.
TEST(OrderBookSequencing, RejectionMessages) {
  struct Case {
    UpdatePolicy policy;
    std::size_t buffer_size;
    std::vector<OwnedUpdate> before;
    OwnedUpdate rejected;
    const char* message;
  };
  const auto contiguous = UpdatePolicy::Contiguous;
  const std::vector<Case> cases{
      {contiguous, 0, {}, bid_delta(1), "order-book update buffer capacity 0 was exceeded"},
      {contiguous, 10, {empty_snapshot(100), bid_delta(101), bid_delta(102)}, bid_delta(104),
       "expected update ID 103, received 104"},
      {contiguous, 10, {bid_delta(5), bid_delta(6), bid_delta(7)}, empty_snapshot(3),
       "snapshot 3 requires update ID 4, received 5"},
      {contiguous, 10, {empty_snapshot(100)}, empty_snapshot(100),
       "snapshot 100 is not newer than current snapshot 100"},
      {contiguous, 10, {}, delta(1, {{dec("10"), dec("-1"), Side::Ask}}),
       "invalid Ask level update with price 10 and size -1"},
      {contiguous, 10, {}, snapshot(1, {{dec("-2.50"), dec("1.0")}}, {}),
       "invalid Bid level update with price -2.50 and size 1.0"},
  };
  for (const Case& c : cases) {
    auto book = OrderBook::new_sparse(c.policy, c.buffer_size).value();
    for (const OwnedUpdate& update : c.before) (void)apply(book, update, 1);
    const auto result = apply(book, c.rejected, 2);
    ASSERT_FALSE(result.has_value()) << c.message;
    EXPECT_EQ(to_string(result.error()), c.message);
    EXPECT_EQ(to_string(VornError(result.error())), std::string("order-book update failed: ") + c.message);
  }
}

// The levels and timestamps after a resynchronizing snapshot: the snapshot's
// levels, then the replayed deltas in order, each with its own timestamp.
TEST(OrderBookSequencing, ReplayAppliesHeldDeltasAfterTheSnapshot) {
  auto book = OrderBook::new_sparse(UpdatePolicy::Contiguous, 8).value();
  ASSERT_EQ(apply(book, snapshot(100, {{dec("50"), dec("1")}}, {{dec("60"), dec("1")}}), 1), kApplied);
  ASSERT_EQ(apply(book, delta(101, {{dec("51"), dec("2"), Side::Bid}}), 2), kApplied);
  ASSERT_FALSE(apply(book, delta(103, {{dec("61"), dec("3"), Side::Ask}}), 3).has_value());
  ASSERT_EQ(apply(book, delta(104, {{dec("60"), dec("0"), Side::Ask}}), 4), kBuffered);
  EXPECT_EQ(book.last_timestamp(), 2);
  ASSERT_EQ(apply(book, snapshot(102, {{dec("49"), dec("4")}}, {{dec("60"), dec("5")}}), 5), kResynced);
  EXPECT_EQ(book_test::all_levels(book, Side::Bid), (std::vector<Level>{{dec("49"), dec("4")}}));
  EXPECT_EQ(book_test::all_levels(book, Side::Ask), (std::vector<Level>{{dec("61"), dec("3")}}));
  EXPECT_EQ(book.last_update_id(), 104u);
  EXPECT_EQ(book.snapshot_update_id(), 102u);
  EXPECT_EQ(book.last_timestamp(), 4);  // the last replayed delta's own timestamp
  EXPECT_EQ(book.replay_buffer()[0].timestamp, 3);
}

// Level validation comes first and changes nothing, even for a delta that
// would be ignored.
TEST(OrderBookSequencing, InvalidLevelsAreRejectedWithoutChange) {
  using book_error::InvalidUpdate;
  struct Case {
    bool dense;
    OwnedUpdate update;
    OrderBookUpdateError error;
  };
  const std::vector<Case> cases{
      {false, delta(5, {{dec("10"), dec("-1"), Side::Ask}}), InvalidUpdate{Side::Ask, dec("10"), dec("-1")}},
      {false, delta(1, {{dec("10"), dec("1"), Side::Bid}, {dec("-0.50"), dec("2"), Side::Ask}}),
       InvalidUpdate{Side::Ask, dec("-0.50"), dec("2")}},
      {false, snapshot(9, {{dec("1"), dec("1")}, {dec("2"), dec("-3")}}, {{dec("-1"), dec("1")}}),
       InvalidUpdate{Side::Bid, dec("2"), dec("-3")}},
      {false, snapshot(9, {{dec("1"), dec("1")}}, {{dec("-1"), dec("1")}, {dec("2"), dec("-3")}}),
       InvalidUpdate{Side::Ask, dec("-1"), dec("1")}},
      {true, delta(5, {{dec("10.25"), dec("1"), Side::Bid}}), InvalidUpdate{Side::Bid, dec("10.25"), dec("1")}},
      {true, delta(5, {{dec("100.5"), dec("1"), Side::Ask}}), InvalidUpdate{Side::Ask, dec("100.5"), dec("1")}},
      {true, snapshot(9, {}, {{dec("0"), dec("1")}}), InvalidUpdate{Side::Ask, dec("0"), dec("1")}},
  };
  for (const Case& c : cases) {
    auto book = c.dense ? OrderBook::new_dense(UpdatePolicy::Contiguous, 4, dec("0.5"), dec("1"), dec("100")).value()
                        : OrderBook::new_sparse(UpdatePolicy::Contiguous, 4).value();
    ASSERT_EQ(apply(book, snapshot(5, {{dec("10"), dec("1")}}, {{dec("20"), dec("1")}}), 1), kApplied);
    const OrderBookUpdate view = c.update.view();
    const PreparedUpdate decision = book.prepare_update(view);
    EXPECT_EQ(decision, PreparedUpdate(prepared::Reject{RejectEffect::KeepState, c.error}));
    const auto result = book.commit_update(decision, view, 2);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), c.error);
    EXPECT_EQ(book.state(), kSynced);
    EXPECT_EQ(book.last_update_id(), 5u);
    EXPECT_EQ(book.last_timestamp(), 1);
    EXPECT_EQ(book_test::all_levels(book, Side::Bid), (std::vector<Level>{{dec("10"), dec("1")}}));
    EXPECT_EQ(book_test::all_levels(book, Side::Ask), (std::vector<Level>{{dec("20"), dec("1")}}));
    EXPECT_EQ(book.replay_buffer().size(), 0u);
  }
}

TEST(OrderBookSequencing, PrepareDecidesWithoutChanging) {
  using namespace book_error;
  auto book = OrderBook::new_sparse(UpdatePolicy::Contiguous, 3).value();
  struct Case {
    OwnedUpdate update;
    PreparedUpdate decision;
  };
  ASSERT_EQ(apply(book, snapshot(10, {}, {}), 1), kApplied);
  ASSERT_EQ(apply(book, bid_delta(11), 2), kApplied);
  const std::vector<Case> cases{
      {bid_delta(11), prepared::Ignore{}},
      {bid_delta(12), prepared::Apply{}},
      {bid_delta(13), prepared::Reject{RejectEffect::BufferAndDesynchronize, SequenceGap{12, 13}}},
      {snapshot(10, {}, {}), prepared::Reject{RejectEffect::KeepState, StaleSnapshot{10, 10}}},
      {snapshot(11, {}, {}), prepared::ApplySnapshot{false}},
  };
  for (const Case& c : cases) EXPECT_EQ(book.prepare_update(c.update.view()), c.decision);
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
      EXPECT_EQ(panic.message(),
                "internal error: entered unreachable code: prepared update must be committed with "
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
  EXPECT_EQ(book_test::all_levels(book, Side::Bid),
            (std::vector<Level>{{dec("30"), dec("1")}, {dec("20"), dec("1")}}));
}

}  // namespace
}  // namespace vorn
