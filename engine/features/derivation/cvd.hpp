// CvdFeature: cumulative volume delta over up to 16 windows of the last n
// trades of one symbol; trades without a known aggressor side are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/errors.hpp"
#include "engine/event.hpp"
#include "engine/features/derivation/output_sink.hpp"
#include "engine/indicators/volume/cumulative_volume_delta.hpp"
#include "engine/symbols.hpp"
#include "engine/types.hpp"

namespace vorn {

struct CvdFeature {
  CumulativeVolumeDelta cvd;
  WarmupPolicy warmup = WarmupPolicy::FirstValue;
  Symbol symbol;

  void update(const EventView& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink);
  // Window k's sum once ready: FirstValue after one trade, FullWindow once
  // the window's length of trades is held; NaN before.
  double output(std::size_t k) const;
};

namespace cvd {
// A ring of the largest window (an empty list is a broken invariant), then
// the windows in order (CumulativeVolumeDelta::add_window's checks).
Result<CvdFeature> build(Symbol symbol, std::span<const std::uint64_t> windows, WarmupPolicy warmup);
}  // namespace cvd

}  // namespace vorn
