#include "engine/features/feature_extractor.hpp"

#include <algorithm>
#include <cmath>
#include <expected>
#include <string>
#include <variant>

#include "engine/panic.hpp"

namespace vorn {
namespace {

// The layout a compilation promises: one range per derivation, inside the
// active cells, and router entries that name existing derivations. Checked
// once here so that no event can meet a broken layout halfway through.
void check_layout(const Compilation& compilation, std::size_t length) {
  if (compilation.ranges.size() != compilation.derivations.size() || compilation.is_context.size() != length) {
    panic("a compilation must give one range per derivation and one context flag per cell");
  }
  for (const CellRange& range : compilation.ranges) {
    if (range.start > length || range.len > length - range.start) panic("derivation cells must be active cells");
  }
  for (const std::uint16_t index : compilation.router.subscribers()) {
    if (index >= compilation.derivations.size()) panic("routed derivations must exist");
  }
}

}  // namespace

FeatureExtractor::FeatureExtractor(Compilation compilation, OrderBookStorage order_books, VecFeatureVector values,
                                   UpdateFlags flags)
    : values_(std::move(values)),
      flags_(std::move(flags)),
      derivations_(std::move(compilation.derivations)),
      ranges_(std::move(compilation.ranges)),
      ids_(std::move(compilation.ids)),
      is_context_(std::move(compilation.is_context)),
      router_(std::move(compilation.router)),
      order_books_(std::move(order_books)) {
  subscribers_.reserve(router_.subscribers().size());
  for (const std::uint16_t index : router_.subscribers()) {
    subscribers_.push_back(Subscriber{index, ranges_[index].start, ranges_[index].len});
  }
}

Result<FeatureExtractor> FeatureExtractor::try_new(Compilation compilation,
                                                   std::vector<std::pair<Symbol, OrderBook>> order_books,
                                                   VecFeatureVector values) {
  if (compilation.ids.size() != values.length()) {
    return std::unexpected(VornError{vorn_error::OutputCountMismatch{compilation.ids.size(), values.length()}});
  }
  check_layout(compilation, values.length());
  auto storage = OrderBookStorage::try_new(std::move(order_books));
  if (!storage) return std::unexpected(std::move(storage.error()));
  for (const FeatureDerivation& derivation : compilation.derivations) {
    const OrderBookQueryFeature* query = derivation.order_book_query();
    if (query != nullptr && !storage->has_book(query->symbol)) {
      return std::unexpected(VornError{vorn_error::OrderBookNotConfigured{query->symbol}});
    }
  }
  std::ranges::fill(values.cells(), kNoValue);
  auto flags = UpdateFlags::try_new(values.capacity());
  if (!flags) {
    return std::unexpected(VornError{vorn_error::StorageUnavailable{StorageTarget::FeatureVector, values.capacity()}});
  }
  return FeatureExtractor(std::move(compilation), std::move(*storage), std::move(values), std::move(*flags));
}

void FeatureExtractor::clear_flags() {
  flags_.clear();
}

std::size_t FeatureExtractor::run(SubscriberRange listed, const EventView& event, OutputSink& sink) {
  if (std::size_t{listed.start} + listed.len > subscribers_.size()) panic("router list past its subscribers");
  for (const Subscriber& subscriber : std::span(subscribers_).subspan(listed.start, listed.len)) {
    derivations_[subscriber.derivation].update(event, subscriber.start, subscriber.len, sink);
  }
  return listed.len;
}

Result<HandleOutcome> FeatureExtractor::handle_event(const Event& event) {
  const EventView view = EventView::of(event);
  const std::int64_t ts = view.timestamp;
  const Symbol symbol = view.symbol;
  if (symbol.id >= kSymbolLimit) panic("event symbols must come from the symbol interner");
  std::optional<std::int64_t>& symbol_timestamp = symbol_timestamps_[symbol.id];
  if (symbol_timestamp && *symbol_timestamp > ts) {
    return std::unexpected(
        VornError{vorn_error::TimestampOutOfOrder{symbol, view.kind, ts, *symbol_timestamp}});
  }
  // The view holds 0.0 for the numbers an event does not carry; the event
  // itself names the first number that is not finite.
  if (!std::isfinite(view.price) || !std::isfinite(view.volume)) [[unlikely]] {
    if (auto finite = event.validate_finite_values(); !finite) return std::unexpected(std::move(finite.error()));
  }

  HandleOutcome outcome;
  const bool book_event = view.kind == EventKind::OrderBookDelta || view.kind == EventKind::OrderBookSnapshot;
  if (const std::optional<OrderBookUpdate> update = book_event ? event.into_order_book_update() : std::nullopt) {
    if (order_books_.has_book(symbol)) {
      auto decision = order_books_.prepare_update(symbol, *update);
      if (!decision) return std::unexpected(std::move(decision.error()));
      auto committed = order_books_.commit_update(symbol, *decision, *update, ts);
      if (std::holds_alternative<prepared::Reject>(*decision) && committed) {
        unreachable("a rejected order-book update cannot commit successfully");
      }
      if (!committed) return std::unexpected(std::move(committed.error()));
      outcome.book_outcome = *committed;
    } else if (!router_.order_book_features(symbol).empty()) {
      return std::unexpected(VornError{vorn_error::OrderBookNotConfigured{symbol}});
    }
  }

  clear_flags();
  OutputSink out = sink();
  if (!watermark_ || ts >= *watermark_) outcome.updated += run(router_.global(), view, out);
  outcome.updated += run(router_.event_range(symbol, view.kind), view, out);
  if (outcome.book_outcome == UpdateOutcome::Applied || outcome.book_outcome == UpdateOutcome::Resynchronized) {
    const OrderBook* book = order_books_.book(symbol);
    if (book == nullptr) panic("the order book accepted an update and must still be configured");
    for (const std::uint16_t index : router_.order_book_features(symbol)) {
      const OrderBookQueryFeature* query = derivations_[index].order_book_query();
      if (query == nullptr) continue;
      query->evaluate(*book, ranges_[index].start, ranges_[index].len, out);
      ++outcome.updated;
    }
  }

  last_event_timestamp_ = ts;
  symbol_timestamp = ts;
  watermark_ = watermark_ ? std::max(*watermark_, ts) : ts;
  return outcome;
}

std::optional<std::size_t> FeatureExtractor::cell_of(std::string_view id) const {
  for (std::size_t cell = 0; cell < ids_.size(); ++cell) {
    if (ids_[cell].view() == id) return cell;
  }
  return std::nullopt;
}

Status FeatureExtractor::validate_context(std::span<const ContextUpdate> updates) const {
  for (std::size_t index = 0; index < updates.size(); ++index) {
    const ContextUpdate& update = updates[index];
    const auto fail = [index](std::string_view reason) {
      return std::unexpected(VornError{vorn_error::InvalidContextUpdate{index, reason}});
    };
    const auto cell = cell_of(update.id);
    if (!cell) return fail("unknown feature ID");
    if (is_context_[*cell] == 0) return fail("target is not a context feature");
    for (std::size_t earlier = 0; earlier < index; ++earlier) {
      if (updates[earlier].id == update.id) return fail("duplicate feature ID");
    }
    if (update.value && !std::isfinite(*update.value)) return fail("context value must be finite or None");
  }
  return {};
}

Status FeatureExtractor::update_context(std::span<const ContextUpdate> updates) {
  if (auto valid = validate_context(updates); !valid) return valid;
  if (updates.empty()) return {};
  clear_flags();
  for (const ContextUpdate& update : updates) values_.set_value_at(*cell_of(update.id), update.value.value_or(kNoValue));
  return {};
}

}  // namespace vorn
