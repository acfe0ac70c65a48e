#include "engine/features/serde/feature_extractor_spec.hpp"

#include <algorithm>
#include <array>
#include <expected>
#include <numeric>
#include <utility>

#include "engine/features/compiler.hpp"
#include "engine/order_book/book.hpp"

namespace vorn {
namespace {

// Kind ranks by key tag; a log return ranks one above a simple return.
constexpr std::array<std::uint8_t, kFeatureKeyTagCount> kKindRanks = {
    26,                              // context
    18, 19, 20, 21, 22, 23, 24, 25,  // level size .. volume between prices
    14, 15, 16, 17,                  // best bid price, size, best ask price, size
    8,  9,  10, 11, 12,              // mid, spread, spread bps, weighted mid, microprice
    13,                              // imbalance
    4,                               // field
    0,                               // cvd
    29,                              // simple return
    27,                              // volatility
    5,                               // sma timed
    28,                              // volatility timed
    3,                               // obv timed
    26,                              // vpt
    7,                               // trade count timed
    31,                              // trade volume timed
    32,                              // vwap timed
    1,                               // day of week
    6,                               // time since first event of day
};

// Canonical ids break ties between the parameterised book queries, context
// names and vpt sources.
constexpr bool ranks_by_id(std::uint8_t rank) { return rank >= 18 && rank <= 26; }

constexpr std::uint8_t field_code(ValueField field) {
  switch (field) {
    case ValueField::Price: return 0;
    case ValueField::TradePrice: return 1;
    case ValueField::TradeVolume: return 2;
    case ValueField::Volume: return 3;
  }
  return 0;
}

constexpr std::uint8_t source_code(FeatureSource source) {
  if (const auto field = source.value_field()) return field_code(*field);
  if (const auto kind = source.event_kind()) return static_cast<std::uint8_t>(16 + static_cast<std::uint8_t>(*kind));
  return 255;
}

template <class E>
std::unexpected<VornError> invalid_argument(E reason) {
  return std::unexpected(VornError{InvalidArgumentError{std::move(reason)}});
}

// `items` reordered by their keys, stably; each key computed once.
template <class T, class KeyOf>
void stable_sort_by(std::vector<T>& items, KeyOf&& key_of) {
  using Key = decltype(key_of(items.front()));
  std::vector<std::pair<Key, std::size_t>> keyed;
  keyed.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) keyed.emplace_back(key_of(items[i]), i);
  std::ranges::sort(keyed);
  std::vector<T> sorted;
  sorted.reserve(items.size());
  for (auto& entry : keyed) sorted.push_back(std::move(items[entry.second]));
  items = std::move(sorted);
}

}  // namespace

CanonicalSortKey canonical_sort_key(const FeatureKey& key) {
  CanonicalSortKey sort;
  const Symbol symbol = key.symbol();
  sort.symbol_specific = !symbol.is_global();
  sort.symbol_name = symbol.resolve_as_string();
  sort.kind_rank = kKindRanks[static_cast<std::size_t>(key.tag())];
  std::visit(
      [&sort]<class K>(const K& k) {
        if constexpr (requires { k.source; }) sort.source_code = source_code(k.source);
        if constexpr (requires { k.field; }) sort.source_code = field_code(k.field);
        if constexpr (requires { k.warmup; }) sort.warmup = static_cast<std::uint8_t>(k.warmup);
        if constexpr (requires { k.aggregation; }) sort.aggregation_ns = k.aggregation.total_nanos();
        if constexpr (K::kTag == FeatureKeyTag::TradeCountTimed) sort.window_ns = k.window.total_nanos();
        if constexpr (requires { k.utc_offset_ms; }) sort.utc_offset_ms = k.utc_offset_ms;
        if constexpr (K::kTag == FeatureKeyTag::Return) sort.kind_rank += static_cast<std::uint8_t>(k.kind);
        if constexpr (K::kTag == FeatureKeyTag::Context) sort.source_code = 33;
        if constexpr (is_order_book_tag(K::kTag)) sort.source_code = 32;
      },
      key.value);
  if (ranks_by_id(sort.kind_rank)) sort.canonical_id = FeatureId::from_feature_key(key).text;
  return sort;
}

Result<FeatureExtractorSpec> FeatureExtractorSpec::with_metadata(std::vector<FeatureDefinition> definitions,
                                                                 std::size_t capacity,
                                                                 std::optional<std::string> checksum) {
  if (capacity < definitions.size()) {
    return invalid_argument(argument_error::FeatureVectorCapacityTooSmall{capacity, definitions.size()});
  }
  for (std::size_t i = 0; i < definitions.size(); ++i) {
    if (features::is_reserved_feature_id(definitions[i].id.view())) {
      return invalid_argument(argument_error::ReservedFeatureId{i});
    }
  }
  if (definitions.size() >= 2) {
    stable_sort_by(definitions, [](const FeatureDefinition& d) { return canonical_sort_key(d.key); });
  }
  FeatureExtractorSpec spec;
  spec.definitions_ = std::move(definitions);
  spec.checksum_ = std::move(checksum);
  spec.capacity_ = capacity;
  return spec;
}

Result<FeatureExtractorSpec> FeatureExtractorSpec::with_order_books(FeatureExtractorSpec spec,
                                                                    std::vector<OrderBookConfig> order_books) {
  stable_sort_by(order_books, [](const OrderBookConfig& config) { return config.symbol.resolve_as_string(); });
  for (std::size_t i = 0; i < order_books.size(); ++i) {
    const OrderBookConfig& config = order_books[i];
    if (config.symbol.is_global()) return invalid_argument(argument_error::GlobalOrderBookSymbol{});
    if (i > 0 && order_books[i - 1].symbol == config.symbol) {
      return std::unexpected(VornError{vorn_error::DuplicateOrderBook{config.symbol}});
    }
    if (config.dense) {
      if (auto levels = config.dense->level_count(); !levels) return std::unexpected(VornError{levels.error()});
    }
  }
  spec.order_books_ = std::move(order_books);
  return spec;
}

std::size_t FeatureExtractorSpec::indicator_count() const {
  std::size_t count = 0;
  std::optional<CanonicalSortKey> previous;
  for (const FeatureDefinition& definition : definitions_) {
    CanonicalSortKey key = canonical_sort_key(definition.key);
    if (previous != key) ++count;
    previous = std::move(key);
  }
  return count;
}

Result<FeatureExtractor> FeatureExtractorSpec::build(VecFeatureVector storage) const {
  if (storage.capacity() != capacity_) {
    return std::unexpected(VornError{vorn_error::FeatureVectorCapacityMismatch{capacity_, storage.capacity()}});
  }
  if (storage.length() != definitions_.size()) {
    return std::unexpected(VornError{vorn_error::OutputCountMismatch{definitions_.size(), storage.length()}});
  }
  return build_into(std::move(storage));
}

Result<FeatureExtractor> FeatureExtractorSpec::build() const { return build_into(std::nullopt); }

Result<FeatureExtractor> FeatureExtractorSpec::build_into(std::optional<VecFeatureVector> storage) const {
  auto compilation = compiler::compile(definitions_, definitions_.size());
  if (!compilation) return std::unexpected(std::move(compilation.error()));
  std::vector<std::pair<Symbol, OrderBook>> books;
  books.reserve(order_books_.size());
  for (const OrderBookConfig& config : order_books_) {
    auto book = config.build();
    if (!book) return std::unexpected(VornError{std::move(book.error())});
    books.emplace_back(config.symbol, std::move(*book));
  }
  if (!storage) storage = VecFeatureVector::try_new_of_length(capacity_, definitions_.size());
  if (!storage) return std::unexpected(VornError{vorn_error::StorageUnavailable{StorageTarget::FeatureVector, capacity_}});
  return FeatureExtractor::try_new(std::move(*compilation), std::move(books), std::move(*storage));
}

}  // namespace vorn
