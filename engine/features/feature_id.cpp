#include "engine/features/feature_id.hpp"

#include <array>
#include <iterator>
#include <string>

#include <fmt/format.h>

namespace vorn {
namespace {

constexpr std::array<std::string_view, kFeatureKeyTagCount> kIdNames{
    "context", "order_book_level_size", "order_book_nth_price", "order_book_nth_size",
    "order_book_depth_until_price", "order_book_depth_until_size_price_from",
    "order_book_depth_until_size_price_to", "order_book_depth_until_size_total_size",
    "order_book_volume_between_prices", "order_book_best_bid_price", "order_book_best_bid_size",
    "order_book_best_ask_price", "order_book_best_ask_size", "order_book_mid_price",
    "order_book_spread", "order_book_spread_bps", "order_book_weighted_mid_price",
    "order_book_microprice", "order_book_imbalance", "field", "cvd", "simple_return", "volatility",
    "sma_timed", "volatility_timed", "obv_timed", "vpt", "trade_count_timed",
    "trade_volume_timed", "vwap_timed", "day_of_week", "time_since_first_event_of_day",
};

using namespace feature_key;

// The source part of the prefix.
std::string source_of(const Context&) { return "context"; }
std::string source_of(const Field& k) { return source_text(FeatureSource::field(k.field)); }
template <class K>
std::string source_of(const K& k) {
  if constexpr (is_order_book_tag(K::kTag)) {
    return "order_book";
  } else {
    return source_text(k.source);
  }
}

using Out = std::back_insert_iterator<std::string>;

std::string dec(const Decimal& value) { return value.to_normalized_string(); }
std::string_view word(Side side) { return json_word(side); }

// The parameter pieces after the prefix.
void write_pieces(Out out, const Context& k) { fmt::format_to(out, ":name={}:{}", k.name.size(), k.name); }
template <FeatureKeyTag T>
void write_pieces(Out out, const BookPrice<T>& k) {
  fmt::format_to(out, ":side={}:price={}", word(k.side), dec(k.price));
}
template <FeatureKeyTag T>
void write_pieces(Out out, const BookLevel<T>& k) {
  fmt::format_to(out, ":side={}:n_levels={}", word(k.side), k.n_levels);
}
template <FeatureKeyTag T>
void write_pieces(Out out, const BookSize<T>& k) {
  fmt::format_to(out, ":side={}:size={}", word(k.side), dec(k.size));
}
void write_pieces(Out out, const OrderBookVolumeBetweenPrices& k) {
  fmt::format_to(out, ":side={}:from_price={}:to_price={}", word(k.side), dec(k.from_price), dec(k.to_price));
}
template <FeatureKeyTag T>
void write_pieces(Out, const BookTop<T>&) {}
void write_pieces(Out out, const OrderBookImbalance& k) { fmt::format_to(out, ":n_levels={}", k.n_levels); }
void write_pieces(Out, const Field&) {}
template <FeatureKeyTag T>
void write_pieces(Out out, const Counted<T>& k) {
  fmt::format_to(out, ":window={}:warmup={}", k.window, json_word(k.warmup));
}
void write_pieces(Out out, const Return& k) { fmt::format_to(out, ":lag={}", k.lag); }
template <FeatureKeyTag T>
void write_pieces(Out out, const Timed<T>& k) {
  fmt::format_to(out, ":aggregation_ns={}:window_ns={}:warmup={}", k.aggregation.total_nanos(),
                 k.window.total_nanos(), json_word(k.warmup));
}
template <FeatureKeyTag T>
void write_pieces(Out, const Sourced<T>&) {}
void write_pieces(Out out, const TimeSinceFirstEventOfDay& k) {
  fmt::format_to(out, ":utc_offset_ms={}", k.utc_offset_ms);
}

}  // namespace

std::string_view id_name(const FeatureKey& key) {
  if (const auto* ret = std::get_if<Return>(&key.value); ret != nullptr && ret->kind == ReturnKind::Log) {
    return "log_return";
  }
  return kIdNames[static_cast<std::size_t>(key.tag())];
}

FeatureId FeatureId::from_feature_key(const FeatureKey& key) {
  std::string text;
  text.reserve(128);
  const std::string symbol = key.symbol().resolve_as_string();
  std::visit(
      [&](const auto& k) {
        fmt::format_to(std::back_inserter(text), "{}:symbol={}:{}:source={}", id_name(key), symbol.size(),
                       symbol, source_of(k));
        write_pieces(std::back_inserter(text), k);
      },
      key.value);
  return FeatureId{std::move(text)};
}

}  // namespace vorn
