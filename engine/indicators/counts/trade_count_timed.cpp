#include "engine/indicators/counts/trade_count_timed.hpp"

#include "engine/indicators/construction.hpp"

namespace vorn {

Result<TradeCountTimed> TradeCountTimed::new_heap(Duration aggregation, Duration window,
                                                  WarmupPolicy policy) {
  if (!has_millisecond_precision(aggregation) || !has_millisecond_precision(window)) {
    return argument_failure(argument_error::DurationPrecision{ArgumentDurationField::TimedWindow});
  }
  const unsigned __int128 aggregation_ms = whole_millis(aggregation);
  const unsigned __int128 window_ms = whole_millis(window);
  if (aggregation_ms == 0) return argument_failure(argument_error::AggregationTooShort{});
  if (window_ms < aggregation_ms) {
    return argument_failure(argument_error::WindowShorterThanAggregation{});
  }
  if (window_ms % aggregation_ms != 0) {
    return argument_failure(argument_error::WindowNotMultipleOfAggregation{});
  }
  if (aggregation_ms > kMaxMillis) {
    return argument_failure(argument_error::DurationOutOfRange{ArgumentDurationField::Aggregation});
  }
  if (window_ms > kMaxMillis) {
    return argument_failure(argument_error::DurationOutOfRange{ArgumentDurationField::Window});
  }
  const auto period = static_cast<std::size_t>(window_ms / aggregation_ms);
  auto sum = RollingTimedSum<1, 1>::new_heap(aggregation, period + 1, policy);
  if (!sum) return std::unexpected(std::move(sum.error()));
  // Cannot fail: the period is below the capacity and its duration is the window.
  if (auto added = sum->add_window(period); !added) return std::unexpected(std::move(added.error()));
  return TradeCountTimed(std::move(*sum));
}

}  // namespace vorn
