// The windowed indicator builders of FeatureExtractorSpec: one definition per
// count window (cvd, volatility), per lag (returns) or per timed window, and
// the single definitions of vpt and the timed trade count.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "python/spec_builders.hpp"
#include "python/warmup_policy.hpp"

namespace vorn::py {
namespace {

using namespace feature_key;

constexpr FeatureSource kTrades = FeatureSource::event(EventKind::Trade);
constexpr std::string_view kNoWindows = "windows must not be empty";

std::vector<std::uint64_t> counts(Arg arg) { return sequence(arg, integer<std::uint64_t>); }
std::vector<std::string> texts(Arg arg) { return sequence(arg, owned_text); }
WarmupPolicy warmup_of(Arg arg) { return warmup_policy_or(arg, WarmupPolicy::FullWindow); }
FeatureSource source_of(std::string_view text) { return FeatureSource::field(or_raise(parse_value_source(text))); }

constinit Signature kCvd{"cvd", Receiver::Instance,
                         {param("symbol"), param("windows"), keyword("warmup", "...")},
                         "Grouped cumulative-volume-delta windows over classified trades."};
constinit Signature kSimpleReturns{"simple_returns", Receiver::Instance,
                                   {param("symbol"), param("lags"), keyword("source", "\"price\"")},
                                   "Simple percentage returns over ordered sample lags."};
constinit Signature kLogReturns{"log_returns", Receiver::Instance,
                                {param("symbol"), param("lags"), keyword("source", "\"price\"")},
                                "Logarithmic returns over ordered sample lags."};
constinit Signature kVolatility{
    "volatility", Receiver::Instance,
    {param("symbol"), param("windows"), keyword("source", "\"price\""), keyword("warmup", "...")},
    "Grouped population volatility of simple returns over sample windows."};
constinit Signature kSmaTimed{"sma_timed", Receiver::Instance,
                              {param("symbol"), param("aggregation"), param("windows"),
                               keyword("source", "\"price\""), keyword("warmup", "...")},
                              "Grouped time-bucketed moving averages over ordered duration windows."};
constinit Signature kVolatilityTimed{"volatility_timed", Receiver::Instance,
                                     {param("symbol"), param("aggregation"), param("windows"),
                                      keyword("source", "\"price\""), keyword("warmup", "...")},
                                     "Grouped population volatility of simple returns over timed windows."};
constinit Signature kObvTimed{"obv_timed", Receiver::Instance,
                              {param("symbol"), param("aggregation"), param("windows"), keyword("warmup", "...")},
                              "Grouped time-bucketed on-balance-volume windows."};
constinit Signature kTradeVolumeTimed{
    "trade_volume_timed", Receiver::Instance,
    {param("symbol"), param("aggregation"), param("windows"), keyword("warmup", "...")},
    "Grouped rolling trade-volume sums over timed windows."};
constinit Signature kVwapTimed{"vwap_timed", Receiver::Instance,
                               {param("symbol"), param("aggregation"), param("windows"), keyword("warmup", "...")},
                               "Grouped volume-weighted average trade prices over timed windows."};
constinit Signature kVpt{"vpt", Receiver::Instance, {param("symbol")},
                         "Cumulative volume-price trend over trades for one symbol."};
constinit Signature kTradeCountTimed{
    "trade_count_timed", Receiver::Instance,
    {param("symbol"), param("aggregation"), param("window"), keyword("warmup", "...")},
    "Rolling count of `symbol` trades over a `window`, bucketed by\n`aggregation` (duration strings)."};

PyObject* cvd(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, windows, warmup] = kCvd.bind<3>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::vector<std::uint64_t> sizes = counts(windows);
    const WarmupPolicy policy = warmup_of(warmup);
    require_items(sizes, kNoWindows);
    const Symbol id = interned(name);
    return added(self, *spec, definitions_of(sizes, [&](std::uint64_t window) {
                   return Cvd{id, kTrades, window, policy};
                 }));
  });
}

PyObject* volatility(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, windows, source, warmup] = kVolatility.bind<4>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::vector<std::uint64_t> sizes = counts(windows);
    const std::string_view field = text_or(source, "price");
    const WarmupPolicy policy = warmup_of(warmup);
    require_items(sizes, kNoWindows);
    const Symbol id = interned(name);
    const FeatureSource from = source_of(field);
    return added(self, *spec, definitions_of(sizes, [&](std::uint64_t window) {
                   return Volatility{id, from, window, policy};
                 }));
  });
}

// simple_returns and log_returns.
template <ReturnKind Kind, Signature& kSignature>
PyObject* returns(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, lags_arg, source] = kSignature.template bind<3>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::vector<std::uint64_t> lags = counts(lags_arg);
    const std::string_view field = text_or(source, "price");
    require_items(lags, "lags must not be empty");
    if (std::ranges::find(lags, 0u) != lags.end()) fail(PyExc_ValueError, "lags must be positive");
    if (std::ranges::find(lags, std::numeric_limits<std::uint64_t>::max()) != lags.end()) {
      fail(PyExc_ValueError, "lags are too large");
    }
    const Symbol id = interned(name);
    const FeatureSource from = source_of(field);
    return added(self, *spec, definitions_of(lags, [&](std::uint64_t lag) { return Return{id, from, lag, Kind}; }));
  });
}

// The durations of a timed call: its aggregation, then each window.
struct TimedWindows {
  Duration aggregation;
  std::vector<Duration> windows;
};

TimedWindows parse_timed(std::string_view aggregation, const std::vector<std::string>& windows) {
  return {or_raise(parse_duration("aggregation", aggregation)), or_raise(parse_durations(windows))};
}

template <class Key>
std::vector<FeatureDefinition> timed_definitions(Symbol id, FeatureSource from, const TimedWindows& durations,
                                                 WarmupPolicy policy) {
  return definitions_of(durations.windows,
                        [&](Duration window) { return Key{id, from, durations.aggregation, window, policy}; });
}

// sma_timed and volatility_timed: timed windows over a value field.
template <class Key, Signature& kSignature>
PyObject* timed_field(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, aggregation, windows, source, warmup] = kSignature.template bind<5>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::string_view bucket = text(aggregation);
    const std::vector<std::string> spans = texts(windows);
    const std::string_view field = text_or(source, "price");
    const WarmupPolicy policy = warmup_of(warmup);
    require_items(spans, kNoWindows);
    const Symbol id = interned(name);
    const FeatureSource from = source_of(field);
    return added(self, *spec, timed_definitions<Key>(id, from, parse_timed(bucket, spans), policy));
  });
}

// obv_timed, trade_volume_timed and vwap_timed: timed windows over trades.
template <class Key, Signature& kSignature>
PyObject* timed_trades(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, aggregation, windows, warmup] = kSignature.template bind<4>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::string_view bucket = text(aggregation);
    const std::vector<std::string> spans = texts(windows);
    const WarmupPolicy policy = warmup_of(warmup);
    require_items(spans, kNoWindows);
    const Symbol id = interned(name);
    return added(self, *spec, timed_definitions<Key>(id, kTrades, parse_timed(bucket, spans), policy));
  });
}

PyObject* vpt(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol] = kVpt.bind<1>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const Symbol id = interned(text(symbol));
    return added(self, *spec, FeatureDefinition::with_default_id(Vpt{id, kTrades}));
  });
}

PyObject* trade_count_timed(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto [symbol, aggregation, window, warmup] = kTradeCountTimed.bind<4>(args, nargs, kwnames);
    Exclusive<AuthoredSpec> spec = borrow_mut<AuthoredSpec>(self);
    const std::string_view name = text(symbol);
    const std::string_view bucket = text(aggregation);
    const std::string_view span = text(window);
    const WarmupPolicy policy = warmup_of(warmup);
    const Symbol id = interned(name);
    const Duration every = or_raise(parse_duration("aggregation", bucket));
    const Duration over = or_raise(parse_duration("window", span));
    return added(self, *spec, FeatureDefinition::with_default_id(feature_key::TradeCountTimed{id, kTrades, every, over, policy}));
  });
}

}  // namespace

std::span<const PyMethodDef> indicator_methods() {
  static const PyMethodDef methods[] = {
      method_def(kCvd, cvd),
      method_def(kSimpleReturns, returns<ReturnKind::Simple, kSimpleReturns>),
      method_def(kLogReturns, returns<ReturnKind::Log, kLogReturns>),
      method_def(kVolatility, volatility),
      method_def(kSmaTimed, timed_field<SmaTimed, kSmaTimed>),
      method_def(kVolatilityTimed, timed_field<VolatilityTimed, kVolatilityTimed>),
      method_def(kObvTimed, timed_trades<ObvTimed, kObvTimed>),
      method_def(kTradeVolumeTimed, timed_trades<TradeVolumeTimed, kTradeVolumeTimed>),
      method_def(kVwapTimed, timed_trades<VwapTimed, kVwapTimed>),
      method_def(kVpt, vpt),
      method_def(kTradeCountTimed, trade_count_timed),
  };
  return methods;
}

}  // namespace vorn::py
