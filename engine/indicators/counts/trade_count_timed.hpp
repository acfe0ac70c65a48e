// TradeCountTimed: the number of trades inside one time window of whole
// buckets, a single-window RollingTimedSum fed 1.0 per trade.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/errors.hpp"
#include "engine/indicators/timed_sum.hpp"
#include "engine/types.hpp"

namespace vorn {

class TradeCountTimed {
public:
  // Checks in this order: a fraction of a millisecond in either duration
  // DurationPrecision{TimedWindow}; aggregation 0 ms AggregationTooShort;
  // window shorter than the aggregation; window not a whole multiple of it;
  // aggregation, then window, at or above 2^63 ms DurationOutOfRange. The
  // ring holds window / aggregation + 1 buckets; storage that cannot be
  // obtained is ConstructionFailed (see construction_failed).
  static Result<TradeCountTimed> new_heap(Duration aggregation, Duration window, WarmupPolicy policy);

  void update(double value, std::int64_t t) { sum_.update({value}, t); }
  bool observe(std::int64_t t) { return sum_.observe(t); }

  double count() const { return sum_.sums(0)[0]; }
  bool ready() const { return sum_.ready(0); }
  std::int64_t duration() const { return sum_.duration(0); }

private:
  explicit TradeCountTimed(RollingTimedSum<1, 1> sum) : sum_(std::move(sum)) {}

  RollingTimedSum<1, 1> sum_;
};

}  // namespace vorn
