// The time-bucketed derivations of one symbol: timed SMA and timed volatility
// of a value field, timed OBV, trade volume and VWAP of trades, with their
// builders; and the event handling they share with the timed trade count.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>
#include <span>
#include <utility>

#include "engine/errors.hpp"
#include "engine/event.hpp"
#include "engine/features/derivation/output_sink.hpp"
#include "engine/indicators/averages/simple_moving_average_timed.hpp"
#include "engine/indicators/timed_sum.hpp"
#include "engine/indicators/volatility/rolling_volatility_timed.hpp"
#include "engine/indicators/volume/on_balance_volume_timed.hpp"
#include "engine/symbols.hpp"
#include "engine/types.hpp"

namespace vorn {

// A timed derivation has `indicator`, `symbol`, `feed(event)` (true when
// the event went into the indicator) and `output(k)`.
template <class Feature>
concept TimedDerivation = requires(Feature& feature, const EventView& event) {
  { feature.feed(event) } -> std::same_as<bool>;
  { feature.output(std::size_t{}) } -> std::same_as<double>;
  feature.indicator.observe(std::int64_t{});
};

// The outputs of a timed derivation: one per window.
template <class Feature>
std::size_t timed_outputs(const Feature& feature) {
  return feature.indicator.window_count();
}

// An event of another symbol (a time event belongs to the global symbol) is
// ignored. One the feature takes in updates its indicator; any other only
// advances the indicator's clock. The outputs are written after an update,
// or after a clock step to a timestamp not observed before.
template <TimedDerivation Feature>
void update_timed(Feature& feature, const EventView& event, std::size_t out_start, std::size_t n_outputs,
                  OutputSink& sink) {
  if (event.symbol != feature.symbol) return;
  if (!feature.feed(event) && !feature.indicator.observe(event.timestamp)) return;
  write_outputs(sink, out_start, n_outputs, timed_outputs(feature),
                [&feature](std::size_t k) { return feature.output(k); });
}

struct SmaTimedFeature {
  SimpleMovingAverageTimed indicator;
  Symbol symbol;
  ValueField field = ValueField::Price;

  bool feed(const EventView& event);
  // The window's average once ready and holding a bucket; NaN otherwise.
  double output(std::size_t k) const;
};

struct VolatilityTimedFeature {
  RollingVolatilityTimed indicator;
  Symbol symbol;
  ValueField field = ValueField::Price;

  bool feed(const EventView& event);
  // The window's population volatility once ready; NaN before or without returns.
  double output(std::size_t k) const;
};

struct ObvTimedFeature {
  OnBalanceVolumeTimed indicator;
  Symbol symbol;

  bool feed(const EventView& event);
  // The window's sum once ready; NaN before.
  double output(std::size_t k) const;
};

struct TradeVolumeTimedFeature {
  RollingTimedSum<1, kMaxWindows> indicator;
  Symbol symbol;

  bool feed(const EventView& event);
  // The window's summed quantity once ready; NaN before.
  double output(std::size_t k) const;
};

struct VwapTimedFeature {
  RollingTimedSum<2, kMaxWindows> indicator;  // lanes: price × quantity, quantity
  Symbol symbol;

  bool feed(const EventView& event);
  // Σ price × quantity / Σ quantity once ready; NaN before or for a zero quantity sum.
  double output(std::size_t k) const;
};

// The builders. Window periods count buckets of the aggregation's width. In
// this order: a largest period of 2^64 - 1 fails with TimedPeriodTooLarge;
// the ring of largest + 1 buckets and the aggregation are checked by the
// indicator; then each period is added in order (17th window, period 0,
// period not below the capacity, period or duration beyond signed 64 bits).
namespace sma {
Result<SmaTimedFeature> build_timed(Symbol symbol, ValueField field, Duration aggregation,
                                    std::span<const std::uint64_t> periods, std::uint64_t largest_period,
                                    WarmupPolicy warmup);
}  // namespace sma
namespace volatility {
// The largest period is that of `periods`.
Result<VolatilityTimedFeature> build_timed(Symbol symbol, ValueField field, Duration aggregation,
                                           std::span<const std::uint64_t> periods, WarmupPolicy warmup);
}  // namespace volatility
namespace obv {
Result<ObvTimedFeature> build_timed(Symbol symbol, Duration aggregation, std::span<const std::uint64_t> periods,
                                    std::uint64_t largest_period, WarmupPolicy warmup);
}  // namespace obv
namespace trade_volume {
Result<TradeVolumeTimedFeature> build_timed(Symbol symbol, Duration aggregation,
                                            std::span<const std::uint64_t> periods,
                                            std::uint64_t largest_period, WarmupPolicy warmup);
}  // namespace trade_volume
namespace vwap {
Result<VwapTimedFeature> build_timed(Symbol symbol, Duration aggregation, std::span<const std::uint64_t> periods,
                                     std::uint64_t largest_period, WarmupPolicy warmup);
}  // namespace vwap

}  // namespace vorn
