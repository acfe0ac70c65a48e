#include "engine/features/feature_key.hpp"

#include <string>

#include "engine/panic.hpp"

namespace vorn {

std::string source_text(FeatureSource source) {
  switch (source.kind) {
    case FeatureSourceKind::Field: return "field." + std::string(json_word(*source.value_field()));
    case FeatureSourceKind::Event: return "event." + std::string(json_word(*source.event_kind()));
    case FeatureSourceKind::AnyEvent: return "any_event";
  }
  unreachable("feature source kind out of range");
}

IndicatorKind FeatureKey::indicator_kind() const {
  using K = IndicatorKind;
  switch (tag()) {
    case FeatureKeyTag::Context: return K::Context;
    case FeatureKeyTag::OrderBookLevelSize: return K::OrderBookLevelSize;
    case FeatureKeyTag::OrderBookNthPrice: return K::OrderBookNthPrice;
    case FeatureKeyTag::OrderBookNthSize: return K::OrderBookNthSize;
    case FeatureKeyTag::OrderBookDepthUntilPrice: return K::OrderBookDepthUntilPrice;
    case FeatureKeyTag::OrderBookDepthUntilSizePriceFrom: return K::OrderBookDepthUntilSizePriceFrom;
    case FeatureKeyTag::OrderBookDepthUntilSizePriceTo: return K::OrderBookDepthUntilSizePriceTo;
    case FeatureKeyTag::OrderBookDepthUntilSizeTotalSize: return K::OrderBookDepthUntilSizeTotalSize;
    case FeatureKeyTag::OrderBookVolumeBetweenPrices: return K::OrderBookVolumeBetweenPrices;
    case FeatureKeyTag::OrderBookBestBidPrice: return K::OrderBookBestBidPrice;
    case FeatureKeyTag::OrderBookBestBidSize: return K::OrderBookBestBidSize;
    case FeatureKeyTag::OrderBookBestAskPrice: return K::OrderBookBestAskPrice;
    case FeatureKeyTag::OrderBookBestAskSize: return K::OrderBookBestAskSize;
    case FeatureKeyTag::OrderBookMidPrice: return K::OrderBookMidPrice;
    case FeatureKeyTag::OrderBookSpread: return K::OrderBookSpread;
    case FeatureKeyTag::OrderBookSpreadBps: return K::OrderBookSpreadBps;
    case FeatureKeyTag::OrderBookWeightedMidPrice: return K::OrderBookWeightedMidPrice;
    case FeatureKeyTag::OrderBookMicroprice: return K::OrderBookMicroprice;
    case FeatureKeyTag::OrderBookImbalance: return K::OrderBookImbalance;
    case FeatureKeyTag::Field: return K::Field;
    case FeatureKeyTag::Cvd: return K::Cvd;
    case FeatureKeyTag::Return:
      return std::get<feature_key::Return>(value).kind == ReturnKind::Log ? K::LogReturn : K::SimpleReturn;
    case FeatureKeyTag::Volatility: return K::Volatility;
    case FeatureKeyTag::SmaTimed: return K::SmaTimed;
    case FeatureKeyTag::VolatilityTimed: return K::VolatilityTimed;
    case FeatureKeyTag::ObvTimed: return K::ObvTimed;
    case FeatureKeyTag::Vpt: return K::Vpt;
    case FeatureKeyTag::TradeCountTimed: return K::TradeCountTimed;
    case FeatureKeyTag::TradeVolumeTimed: return K::TradeVolumeTimed;
    case FeatureKeyTag::VwapTimed: return K::VwapTimed;
    case FeatureKeyTag::DayOfWeek: return K::DayOfWeek;
    case FeatureKeyTag::TimeSinceFirstEventOfDay: return K::TimeSinceFirstEventOfDay;
  }
  unreachable("feature key tag out of range");
}

// ---- hashing ------------------------------------------------------------------

KeyHasher& KeyHasher::add(std::uint64_t value) {
  // One splitmix64 round per value, folded in FNV style.
  std::uint64_t z = value + 0x9e3779b97f4a7c15u;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  z ^= z >> 31;
  state_ = (state_ ^ z) * 0x100000001b3u;
  return *this;
}

KeyHasher& KeyHasher::add(const Decimal& value) {
  const Decimal normal = value.normalized();
  const Decimal::u128 coefficient = normal.coefficient();
  return add(static_cast<std::uint64_t>(coefficient))
      .add(static_cast<std::uint64_t>(coefficient >> 64))
      .add((std::uint64_t{normal.scale()} << 1) | (normal.is_sign_negative() ? 1u : 0u));
}

KeyHasher& KeyHasher::add(std::string_view text) {
  add(std::uint64_t{text.size()});
  for (const char c : text) add(static_cast<std::uint64_t>(static_cast<unsigned char>(c)));
  return *this;
}

namespace {

using namespace feature_key;

void add_fields(KeyHasher& h, const Context& k) { h.add(k.symbol).add(std::string_view(k.name)); }
template <FeatureKeyTag T>
void add_fields(KeyHasher& h, const BookPrice<T>& k) { h.add(k.symbol).add(k.side).add(k.price); }
template <FeatureKeyTag T>
void add_fields(KeyHasher& h, const BookLevel<T>& k) { h.add(k.symbol).add(k.side).add(k.n_levels); }
template <FeatureKeyTag T>
void add_fields(KeyHasher& h, const BookSize<T>& k) { h.add(k.symbol).add(k.side).add(k.size); }
void add_fields(KeyHasher& h, const OrderBookVolumeBetweenPrices& k) {
  h.add(k.symbol).add(k.side).add(k.from_price).add(k.to_price);
}
template <FeatureKeyTag T>
void add_fields(KeyHasher& h, const BookTop<T>& k) { h.add(k.symbol); }
void add_fields(KeyHasher& h, const OrderBookImbalance& k) { h.add(k.symbol).add(k.n_levels); }
void add_fields(KeyHasher& h, const Field& k) { h.add(k.symbol).add(k.field); }
template <FeatureKeyTag T>
void add_fields(KeyHasher& h, const Counted<T>& k) {
  h.add(k.symbol).add(k.source).add(k.window).add(k.warmup);
}
void add_fields(KeyHasher& h, const Return& k) { h.add(k.symbol).add(k.source).add(k.lag).add(k.kind); }
template <FeatureKeyTag T>
void add_fields(KeyHasher& h, const Timed<T>& k) {
  h.add(k.symbol).add(k.source).add(k.aggregation).add(k.window).add(k.warmup);
}
template <FeatureKeyTag T>
void add_fields(KeyHasher& h, const Sourced<T>& k) { h.add(k.symbol).add(k.source); }
void add_fields(KeyHasher& h, const TimeSinceFirstEventOfDay& k) {
  h.add(k.symbol).add(k.source).add(static_cast<std::uint64_t>(k.utc_offset_ms));
}

}  // namespace

std::size_t hash_value(const FeatureKey& key) {
  KeyHasher hasher;
  hasher.add(key.tag());
  std::visit([&](const auto& alternative) { add_fields(hasher, alternative); }, key.value);
  return hasher.value();
}

}  // namespace vorn
