#include "engine/features/derivation/cvd.hpp"

#include <utility>

#include "engine/features/derivation/count_windows.hpp"
#include "engine/features/derivation/event_field.hpp"

namespace vorn {

void CvdFeature::update(const EventView& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink) {
  if (!is_own_trade(event, symbol) || !event.side) return;
  cvd.update_inner(*event.side, event.volume);
  write_outputs(sink, out_start, n_outputs, cvd.window_count(), [this](std::size_t k) { return output(k); });
}

double CvdFeature::output(std::size_t k) const {
  const std::size_t needed = warmup == WarmupPolicy::FullWindow ? cvd.length(k) : 1;
  return cvd.trades_held() >= needed ? cvd.sum(k) : kNoValue;
}

namespace cvd {

Result<CvdFeature> build(Symbol symbol, std::span<const std::uint64_t> windows, WarmupPolicy warmup) {
  return into_feature(with_windows(CumulativeVolumeDelta::try_new(largest_window(windows), warmup), windows),
                      [&](auto&& indicator) { return CvdFeature{std::move(indicator), warmup, symbol}; });
}

}  // namespace cvd
}  // namespace vorn
