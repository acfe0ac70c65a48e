#include "engine/features/derivation/clock.hpp"

#include <algorithm>
#include <limits>

namespace vorn {
namespace {

// Floor division by a positive divisor.
template <class T>
T floor_div(T value, T divisor) {
  const T quotient = value / divisor;
  return value % divisor < 0 ? quotient - 1 : quotient;
}

}  // namespace

int day_of_week(std::int64_t timestamp) {
  const std::int64_t weekday = (floor_div(timestamp, kMillisPerDay) + 4) % 7;
  return static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
}

void TimeSinceFirstEventOfDayFeature::update(const EventView& event, std::size_t out_start, std::size_t n_outputs,
                                             OutputSink& sink) {
  const std::int64_t timestamp = event.timestamp;
  const __int128 local = __int128{timestamp} + utc_offset_ms;
  const __int128 today = floor_div<__int128>(local, kMillisPerDay);
  if (!day || *day != today) {
    day = today;
    first_timestamp = timestamp;
  }
  // Saturating at the 64-bit limits.
  const __int128 elapsed = std::clamp<__int128>(__int128{timestamp} - first_timestamp,
                                                std::numeric_limits<std::int64_t>::min(),
                                                std::numeric_limits<std::int64_t>::max());
  const auto since = static_cast<double>(std::max<std::int64_t>(0, static_cast<std::int64_t>(elapsed)));
  write_outputs(sink, out_start, n_outputs, 1, [since](std::size_t) { return since; });
}

}  // namespace vorn
