#include "engine/indicators/time_buckets.hpp"

namespace vorn {

Result<std::int64_t> bucket_width(Duration aggregation) {
  const unsigned __int128 millis = whole_millis(aggregation);
  if (millis == 0) return argument_failure(argument_error::AggregationTooShort{});
  if (!has_millisecond_precision(aggregation)) {
    return argument_failure(argument_error::DurationPrecision{ArgumentDurationField::Aggregation});
  }
  if (millis > kMaxMillis) {
    return argument_failure(argument_error::DurationOutOfRange{ArgumentDurationField::Aggregation});
  }
  return static_cast<std::int64_t>(millis);
}

}  // namespace vorn
