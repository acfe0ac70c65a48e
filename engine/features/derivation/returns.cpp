#include "engine/features/derivation/returns.hpp"

#include <cmath>
#include <utility>

#include "engine/features/derivation/count_windows.hpp"
#include "engine/features/derivation/event_field.hpp"

namespace vorn {

void ReturnsFeature::update(const EventView& event, std::size_t out_start, std::size_t n_outputs,
                            OutputSink& sink) {
  if (event.symbol != symbol) return;
  const auto value = field_value(event, field);
  if (!value) return;
  values.push_back(*value);
  write_outputs(sink, out_start, n_outputs, lag_count, [this](std::size_t k) { return output(k); });
}

double ReturnsFeature::output(std::size_t k) const {
  const std::uint64_t lag = lags[k];
  const std::size_t held = values.size();
  if (held <= lag) return kNoValue;
  const double current = values.back();
  const double past = values[held - 1 - lag];
  if (kind == ReturnKind::Simple) return past == 0.0 ? kNoValue : (current - past) / past;
  if (!(current > 0.0) || !(past > 0.0)) return kNoValue;
  return std::log(current) - std::log(past);
}

namespace returns {

Result<ReturnsFeature> build(Symbol symbol, ValueField field, ReturnKind kind, std::span<const std::uint64_t> lags) {
  const IndicatorKind indicator = kind == ReturnKind::Log ? IndicatorKind::LogReturn : IndicatorKind::SimpleReturn;
  auto ring = try_ring<double>(largest_window(lags) + 1, indicator);
  if (!ring) return std::unexpected(std::move(ring.error()));
  ReturnsFeature feature{std::move(*ring), {}, 0, kind, symbol, field};
  const std::size_t capacity = feature.values.capacity();
  for (const std::uint64_t lag : lags) {
    if (feature.lag_count == kMaxWindows) return argument_failure(argument_error::WindowLimitReached{kMaxWindows});
    if (lag == 0) return argument_failure(argument_error::WindowPeriodZero{});
    if (lag >= capacity) {
      return argument_failure(argument_error::WindowPeriodMustBeLessThanCapacity{lag, capacity});
    }
    feature.lags[feature.lag_count++] = lag;
  }
  return feature;
}

}  // namespace returns
}  // namespace vorn
