// Clock derivations: the day of the week of an event (UTC) and the time since
// the first event of the local day.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/event.hpp"
#include "engine/features/derivation/output_sink.hpp"

namespace vorn {

inline constexpr std::int64_t kMillisPerDay = 86'400'000;

// (floor(timestamp / day) + 4) mod 7, never negative: 0 is Sunday, 4 the
// Thursday of the Unix epoch.
int day_of_week(std::int64_t timestamp);

struct DayOfWeekFeature {
  void update(const EventView& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink) {
    const int day = day_of_week(event.timestamp);
    write_outputs(sink, out_start, n_outputs, 1, [day](std::size_t) { return day; });
  }
};

struct TimeSinceFirstEventOfDayFeature {
  std::int64_t utc_offset_ms = 0;
  std::optional<__int128> day;  // the current local day number
  std::int64_t first_timestamp = 0;  // UTC, of the first event of that day

  // A new local day (timestamp + offset) restarts at the event; writes
  // max(0, timestamp - first timestamp) in milliseconds.
  void update(const EventView& event, std::size_t out_start, std::size_t n_outputs, OutputSink& sink);
};

}  // namespace vorn
