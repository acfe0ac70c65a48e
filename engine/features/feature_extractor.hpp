// FeatureExtractor: the raw feature vector of a compiled spec with everything
// that keeps it current (derivations, router, order books, timestamps), and
// the one path by which an event or a context update changes it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/errors.hpp"
#include "engine/event.hpp"
#include "engine/features/compiler.hpp"
#include "engine/features/order_book_storage.hpp"
#include "engine/order_book/book.hpp"
#include "engine/symbols.hpp"
#include "engine/update_flags.hpp"
#include "engine/vectors.hpp"

namespace vorn {

struct HandleOutcome {
  // Derivation updates run for the event: global and symbol subscribers,
  // plus the order-book feature groups recomputed.
  std::size_t updated = 0;
  // The book's outcome; none when the event made no book update.
  std::optional<UpdateOutcome> book_outcome;

  // The outcome as a code: 0 to 3 the UpdateOutcome, 4 for none.
  std::uint8_t book_outcome_code() const {
    return book_outcome ? static_cast<std::uint8_t>(*book_outcome) : std::uint8_t{4};
  }
};

// A new value for a context cell, named by its feature id; none writes NaN.
struct ContextUpdate {
  std::string_view id;
  std::optional<double> value;
};

class FeatureExtractor {
public:
  // Takes the compilation, the spec's (symbol, empty book) pairs and the
  // output vector, whose active length must equal the compilation's cell
  // count (OutputCountMismatch). Fails as OrderBookStorage::try_new does,
  // with OrderBookNotConfigured for a book feature whose symbol has no book,
  // and with StorageUnavailable{FeatureVector, capacity} when the update
  // flags for the vector's capacity cannot be obtained. Every cell, reserved
  // ones included, starts as NaN.
  static Result<FeatureExtractor> try_new(Compilation compilation,
                                          std::vector<std::pair<Symbol, OrderBook>> order_books,
                                          VecFeatureVector values);

  // Applies one event: timestamp order for its symbol (equal passes), finite
  // numbers, the book update (a rejected one takes its effect on the book and
  // its error is returned); then the flags are cleared, global derivations
  // run unless the event is older than the watermark, the symbol's
  // derivations for the event's kind run, the symbol's book features are
  // recomputed after Applied or Resynchronized, and the timestamps recorded.
  // A failed event changes nothing but the book's own sequencing state.
  //
  // The book update is committed before any derivation runs: derivations
  // never read the book, so the order is not observable, and a commit that
  // cannot obtain memory (std::bad_alloc) then leaves everything unchanged.
  Result<HandleOutcome> handle_event(const Event& event);

  // Checks every entry before anything is written: a known id, of a context
  // cell, not repeated in the list, with a finite value or none.
  Status validate_context(std::span<const ContextUpdate> updates) const;
  // Validates, then (for a non-empty list) clears every flag and writes the
  // values; context cells keep flag 0, no derivation runs, no timestamp moves.
  Status update_context(std::span<const ContextUpdate> updates);

  const VecFeatureVector& values() const { return values_; }
  // One flag per cell of the capacity: 1 when the last step wrote the cell.
  std::span<const std::uint8_t> updated() const { return flags_.bytes(); }
  std::span<const FeatureId> ids() const { return ids_; }
  std::span<const std::uint8_t> is_context() const { return is_context_; }
  // None for a symbol without a completed event.
  std::optional<std::int64_t> symbol_timestamp(Symbol symbol) const {
    return symbol.id < kSymbolLimit ? symbol_timestamps_[symbol.id] : std::nullopt;
  }
  std::optional<std::int64_t> watermark() const { return watermark_; }
  std::optional<std::int64_t> last_event_timestamp() const { return last_event_timestamp_; }
  const OrderBookStorage& order_books() const { return order_books_; }

private:
  FeatureExtractor(Compilation compilation, OrderBookStorage order_books, VecFeatureVector values,
                   UpdateFlags flags);

  OutputSink sink() { return OutputSink(values_, flags_.bytes()); }
  void clear_flags();
  // A router subscriber resolved when the extractor is built: the
  // derivation it names and that derivation's cells.
  struct Subscriber {
    std::size_t derivation = 0;
    std::size_t start = 0;
    std::size_t len = 0;
  };

  // Runs the derivations of a router list (a window into its subscriber
  // list) on the event, in list order; returns how many ran.
  std::size_t run(SubscriberRange listed, const EventView& event, OutputSink& sink);
  // The active cell whose id is `id`, searched in cell order.
  std::optional<std::size_t> cell_of(std::string_view id) const;

  std::optional<std::int64_t> last_event_timestamp_;
  std::optional<std::int64_t> watermark_;
  VecFeatureVector values_;
  UpdateFlags flags_;
  std::vector<FeatureDerivation> derivations_;
  std::vector<CellRange> ranges_;
  std::vector<Subscriber> subscribers_;  // one per entry of the router's subscriber list
  std::vector<FeatureId> ids_;
  std::vector<std::uint8_t> is_context_;
  EventRouter router_;
  OrderBookStorage order_books_;
  std::array<std::optional<std::int64_t>, kSymbolLimit> symbol_timestamps_{};
};

}  // namespace vorn
