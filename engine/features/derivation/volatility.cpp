#include "engine/features/derivation/volatility.hpp"

#include <utility>

#include "engine/features/derivation/count_windows.hpp"
#include "engine/features/derivation/event_field.hpp"

namespace vorn {

void VolatilityFeature::update(const EventView& event, std::size_t out_start, std::size_t n_outputs,
                               OutputSink& sink) {
  if (event.symbol != symbol) return;
  const auto value = field_value(event, field);
  if (!value) return;
  volatility.update(*value);
  write_outputs(sink, out_start, n_outputs, volatility.window_count(), [this](std::size_t k) { return output(k); });
}

double VolatilityFeature::output(std::size_t k) const {
  const bool warm = warmup == WarmupPolicy::FullWindow ? volatility.returns_held() >= volatility.length(k)
                                                       : volatility.last_price().has_value();
  if (!warm) return kNoValue;
  return volatility.moments(k).volatility().value_or(kNoValue);
}

namespace volatility {

Result<VolatilityFeature> build(Symbol symbol, ValueField field, std::span<const std::uint64_t> windows,
                                WarmupPolicy warmup) {
  return into_feature(with_windows(RollingVolatility::try_new(largest_window(windows), warmup), windows),
                      [&](auto&& indicator) { return VolatilityFeature{std::move(indicator), warmup, symbol, field}; });
}

}  // namespace volatility
}  // namespace vorn
