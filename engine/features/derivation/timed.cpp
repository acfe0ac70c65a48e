#include "engine/features/derivation/timed.hpp"

#include "engine/features/derivation/count_windows.hpp"
#include "engine/features/derivation/event_field.hpp"

namespace vorn {

namespace {

// Updates the indicator with the field's value, when the event carries it.
template <class Indicator>
bool feed_field(Indicator& indicator, const EventView& event, ValueField field) {
  const auto value = field_value(event, field);
  if (!value) return false;
  indicator.update(*value, event.timestamp);
  return true;
}

}  // namespace

bool SmaTimedFeature::feed(const EventView& event) { return feed_field(indicator, event, field); }

double SmaTimedFeature::output(std::size_t k) const {
  return indicator.ready(k) && indicator.bucket_count(k) > 0 ? indicator.average(k) : kNoValue;
}

bool VolatilityTimedFeature::feed(const EventView& event) { return feed_field(indicator, event, field); }

double VolatilityTimedFeature::output(std::size_t k) const {
  return indicator.ready(k) ? indicator.moments(k).volatility().value_or(kNoValue) : kNoValue;
}

bool ObvTimedFeature::feed(const EventView& event) {
  if (!event.is_trade()) return false;
  indicator.update(event.timestamp, event.price, event.volume);
  return true;
}

double ObvTimedFeature::output(std::size_t k) const { return indicator.ready(k) ? indicator.sum(k) : kNoValue; }

bool TradeVolumeTimedFeature::feed(const EventView& event) {
  if (!event.is_trade()) return false;
  indicator.update({event.volume}, event.timestamp);
  return true;
}

double TradeVolumeTimedFeature::output(std::size_t k) const {
  return indicator.ready(k) ? indicator.sums(k)[0] : kNoValue;
}

bool VwapTimedFeature::feed(const EventView& event) {
  if (!event.is_trade()) return false;
  indicator.update({event.price * event.volume, event.volume}, event.timestamp);
  return true;
}

double VwapTimedFeature::output(std::size_t k) const {
  const auto& sums = indicator.sums(k);
  return indicator.ready(k) && sums[1] != 0.0 ? sums[0] / sums[1] : kNoValue;
}

namespace {

// The indicator with a ring of largest_period + 1 buckets and the periods
// added in order.
template <class Indicator>
Result<Indicator> timed(IndicatorKind kind, Duration aggregation, std::span<const std::uint64_t> periods,
                        std::uint64_t largest_period, WarmupPolicy warmup) {
  if (largest_period == std::numeric_limits<std::uint64_t>::max()) {
    return argument_failure(argument_error::TimedPeriodTooLarge{kind});
  }
  const std::size_t capacity = largest_period + 1;
  if constexpr (requires { Indicator::new_heap(aggregation, capacity, warmup); }) {
    return with_windows(Indicator::new_heap(aggregation, capacity, warmup), periods);
  } else {
    return with_windows(Indicator::try_new(aggregation, capacity, warmup), periods);
  }
}

}  // namespace

namespace sma {
Result<SmaTimedFeature> build_timed(Symbol symbol, ValueField field, Duration aggregation,
                                    std::span<const std::uint64_t> periods, std::uint64_t largest_period,
                                    WarmupPolicy warmup) {
  return into_feature(
      timed<SimpleMovingAverageTimed>(IndicatorKind::SmaTimed, aggregation, periods, largest_period, warmup),
      [&](auto&& indicator) { return SmaTimedFeature{std::move(indicator), symbol, field}; });
}
}  // namespace sma

namespace volatility {
Result<VolatilityTimedFeature> build_timed(Symbol symbol, ValueField field, Duration aggregation,
                                           std::span<const std::uint64_t> periods, WarmupPolicy warmup) {
  return into_feature(timed<RollingVolatilityTimed>(IndicatorKind::VolatilityTimed, aggregation, periods,
                                                    largest_window(periods), warmup),
                      [&](auto&& indicator) { return VolatilityTimedFeature{std::move(indicator), symbol, field}; });
}
}  // namespace volatility

namespace obv {
Result<ObvTimedFeature> build_timed(Symbol symbol, Duration aggregation, std::span<const std::uint64_t> periods,
                                    std::uint64_t largest_period, WarmupPolicy warmup) {
  return into_feature(
      timed<OnBalanceVolumeTimed>(IndicatorKind::ObvTimed, aggregation, periods, largest_period, warmup),
      [&](auto&& indicator) { return ObvTimedFeature{std::move(indicator), symbol}; });
}
}  // namespace obv

namespace trade_volume {
Result<TradeVolumeTimedFeature> build_timed(Symbol symbol, Duration aggregation,
                                            std::span<const std::uint64_t> periods,
                                            std::uint64_t largest_period, WarmupPolicy warmup) {
  return into_feature(timed<RollingTimedSum<1, kMaxWindows>>(IndicatorKind::TradeVolumeTimed, aggregation,
                                                             periods, largest_period, warmup),
                      [&](auto&& indicator) { return TradeVolumeTimedFeature{std::move(indicator), symbol}; });
}
}  // namespace trade_volume

namespace vwap {
Result<VwapTimedFeature> build_timed(Symbol symbol, Duration aggregation, std::span<const std::uint64_t> periods,
                                     std::uint64_t largest_period, WarmupPolicy warmup) {
  return into_feature(timed<RollingTimedSum<2, kMaxWindows>>(IndicatorKind::VwapTimed, aggregation, periods,
                                                             largest_period, warmup),
                      [&](auto&& indicator) { return VwapTimedFeature{std::move(indicator), symbol}; });
}
}  // namespace vwap

}  // namespace vorn
