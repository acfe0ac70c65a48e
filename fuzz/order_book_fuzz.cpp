// Order-book updates. The input decodes into a book configuration (policy,
// replay-buffer size, a tick grid) and a stream of snapshots and deltas, with
// query arguments after each. Every update goes to a sparse book and, when the
// grid is valid and small, to a dense book on that grid; an update whose
// levels the dense book refuses goes to neither. After every step each
// book's sides walk best first over positive sizes that `level` finds again,
// and the two books have taken the same decisions, hold the same state and
// answer every query alike (by value: the dense book computes its prices).
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/order_book/book.hpp"
#include "fuzz/byte_reader.hpp"
#include "fuzz/check.hpp"

namespace {

using namespace vorn;
using fuzz::ByteReader;
using fuzz::check;

// Larger grids are valid but not built: their storage would dominate the run.
constexpr std::uint64_t kMaxSlots = 1 << 16;

struct Books {
  OrderBook sparse;
  std::optional<OrderBook> dense;
};

// Runs a query on both books; their answers must be equal.
template <class Query>
void agree(const Books& books, Query query, const char* what) {
  const auto answer = query(books.sparse);
  if (books.dense) check(query(*books.dense) == answer, what);
}

std::vector<Level> top(const OrderBook& book, Side side, std::uint64_t n) {
  std::vector<Level> levels;
  TopLevels walk = book.top_n(side, n);
  while (const auto level = walk.next()) levels.push_back(*level);
  return levels;
}

void check_side(const OrderBook& book, Side side) {
  const std::vector<Level> levels = top(book, side, UINT64_MAX);
  check(book.book_side(side).best() == (levels.empty() ? std::nullopt : std::optional(levels[0])),
        "the best level starts the walk");
  for (std::size_t i = 0; i < levels.size(); ++i) {
    check(levels[i].size.is_positive() && !levels[i].price.is_negative(),
          "sides hold positive sizes at prices not below zero");
    check(i == 0 || (side == Side::Bid ? levels[i].price < levels[i - 1].price
                                       : levels[i].price > levels[i - 1].price),
          "a side walks best first");
    check(book.level(side, levels[i].price) == levels[i].size, "level finds every walked price");
  }
}

// The grid's ends are its first and last slots, and a slot's price finds it again.
void check_grid(const DenseBookSide& ladder, std::uint64_t probe) {
  const std::uint64_t last = ladder.slot_count() - 1;
  check(ladder.level_at(0).price == ladder.min_price() && ladder.level_at(last).price == ladder.max_price(),
        "the grid runs from min_price to max_price");
  for (const std::uint64_t slot : {std::uint64_t{0}, last, probe % (last + 1)}) {
    check(ladder.index(ladder.level_at(slot).price) == slot, "a slot's price finds the slot");
  }
}

struct Stream {
  ByteReader& in;
  Decimal tick, min, max;
  std::uint64_t next_id = 0;

  // Mostly a grid price (a few slots from either end, written with up to two
  // more trailing zeros), otherwise any decimal.
  Decimal price() {
    const std::uint8_t code = in.byte();
    if (code >= 0xC0) return in.decimal();
    const auto step = Decimal::from_int(code % 32).checked_mul(tick);
    const auto grid = step ? (code & 32 ? max.checked_sub(*step) : min.checked_add(*step)) : step;
    if (!grid) return Decimal::from_int(code % 32);
    const auto widened = Decimal::from_parts(grid->coefficient() * (code < 64 ? 1 : code < 128 ? 10 : 100),
                                             grid->scale() + code / 64, grid->is_sign_negative());
    return widened.value_or(*grid);
  }
  // Mostly near the previous id (repeats, gaps, steps back), sometimes anywhere.
  std::uint64_t id() {
    const std::uint8_t code = in.byte();
    next_id = code >= 0xF8 ? static_cast<std::uint64_t>(in.bytes(8))
                           : next_id + (code % 16) - std::min<std::uint64_t>(next_id, 4);
    return next_id;
  }
  std::vector<Level> levels(std::size_t count) {
    std::vector<Level> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back({price(), in.decimal()});
    return out;
  }
};

bool refuses_levels(const PreparedUpdate& decision) {
  const auto* reject = std::get_if<prepared::Reject>(&decision);
  return reject != nullptr && reject->error.holds<book_error::InvalidUpdate>();
}

void step(Books& books, const OrderBookUpdate& update, std::int64_t timestamp) {
  const PreparedUpdate decision = books.sparse.prepare_update(update);
  if (books.dense) {
    const PreparedUpdate dense_decision = books.dense->prepare_update(update);
    check(!refuses_levels(decision) || refuses_levels(dense_decision),
          "a level the sparse book refuses is refused by the dense book");
    if (refuses_levels(dense_decision)) {
      const auto outcome = books.dense->commit_update(dense_decision, update, timestamp);
      check(!outcome && outcome.error() == std::get<prepared::Reject>(dense_decision).error,
            "a refused update returns its error");
      return;
    }
    check(dense_decision == decision, "both books decide alike");
    const auto dense_outcome = books.dense->commit_update(dense_decision, update, timestamp);
    check(books.sparse.commit_update(decision, update, timestamp) == dense_outcome,
          "both books commit alike");
  } else {
    books.sparse.commit_update(decision, update, timestamp);
  }
  agree(books, [](const OrderBook& book) { return book.last_update_id(); }, "last update id");
  agree(books, [](const OrderBook& book) { return book.snapshot_update_id(); }, "snapshot update id");
  agree(books, [](const OrderBook& book) { return book.last_timestamp(); }, "last timestamp");
  agree(books, [](const OrderBook& book) { return book.state(); }, "state");
  agree(books, [](const OrderBook& book) { return book.replay_buffer().size(); }, "held deltas");
  for (const OrderBook* book : {&books.sparse, books.dense ? &*books.dense : nullptr}) {
    if (book == nullptr) continue;
    check(book->replay_buffer().size() <= book->buffer_size(), "the replay buffer stays in bounds");
    check_side(*book, Side::Bid);
    check_side(*book, Side::Ask);
  }
}

void ask_queries(const Books& books, Stream& stream) {
  const std::uint64_t n = stream.in.byte();
  const Decimal from = stream.price(), to = stream.price(), target = stream.in.decimal();
  agree(books, [](const OrderBook& book) { return book.mid_price(); }, "mid_price");
  agree(books, [](const OrderBook& book) { return book.spread(); }, "spread");
  agree(books, [](const OrderBook& book) { return book.spread_bps(); }, "spread_bps");
  agree(books, [](const OrderBook& book) { return book.weighted_mid_price(); }, "weighted_mid_price");
  agree(books, [](const OrderBook& book) { return book.microprice(); }, "microprice");
  agree(books, [&](const OrderBook& book) { return book.imbalance(n); }, "imbalance");
  agree(books, [](const OrderBook& book) { return book.imbalance(UINT64_MAX); }, "imbalance of all");
  for (const Side side : {Side::Bid, Side::Ask}) {
    agree(books, [&](const OrderBook& book) { return top(book, side, UINT64_MAX); }, "levels");
    agree(books, [&](const OrderBook& book) { return top(book, side, n); }, "top_n");
    agree(books, [&](const OrderBook& book) { return book.level(side, from); }, "level");
    agree(books, [&](const OrderBook& book) { return book.depth_until_price(side, from); },
          "depth_until_price");
    agree(books, [&](const OrderBook& book) { return book.depth_until_total_size(side, target); },
          "depth_until_total_size");
    agree(books, [&](const OrderBook& book) { return book.volume_between_prices(side, from, to); },
          "volume_between_prices");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteReader in(std::span(data, size));
  const std::uint8_t setup = in.byte();
  const UpdatePolicy policy = setup & 1 ? UpdatePolicy::Contiguous : UpdatePolicy::Monotonic;
  const std::size_t buffer_size = (setup >> 1) & 7;
  Stream stream{in, in.decimal(), in.decimal(), in.decimal()};

  auto sparse = OrderBook::new_sparse(policy, buffer_size);
  check(sparse.has_value(), "a small sparse book builds");
  Books books{std::move(*sparse), std::nullopt};
  const auto slots = DenseBookConfig{stream.tick, stream.min, stream.max}.level_count();
  if (!slots || *slots <= kMaxSlots) {
    auto dense = OrderBook::new_dense(policy, buffer_size, stream.tick, stream.min, stream.max);
    check(dense.has_value() == slots.has_value() && (dense || dense.error() == slots.error()),
          "a dense book builds exactly on a valid grid");
    if (dense) {
      check(dense->bids().dense()->slot_count() == *slots, "the ladder has the grid's slots");
      check_grid(*dense->bids().dense(), in.bytes(8));
      books.dense.emplace(std::move(*dense));
    }
  }

  for (std::int64_t timestamp = 0; !in.empty(); ++timestamp) {
    const std::uint8_t kind = in.byte();
    std::vector<LevelUpdate> changes;
    std::vector<Level> bids, asks;
    OrderBookUpdate update;
    if (kind & 1) {
      bids = stream.levels((kind >> 1) & 7);
      asks = stream.levels((kind >> 4) & 7);
      update = OrderBookSnapshot{bids, asks, stream.id()};
    } else {
      for (int i = (kind >> 1) & 15; i > 0; --i) {
        const Side side = in.byte() & 1 ? Side::Ask : Side::Bid;
        const Decimal price = stream.price();
        changes.push_back({price, in.decimal(), side});
      }
      update = OrderBookDelta{changes, stream.id()};
    }
    step(books, update, timestamp);
    ask_queries(books, stream);
  }
  return 0;
}
