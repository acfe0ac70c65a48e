#include "engine/indicators/averages/simple_moving_average_timed.hpp"

namespace vorn {

Result<SimpleMovingAverageTimed> SimpleMovingAverageTimed::try_new(Duration aggregation,
                                                                   std::size_t capacity,
                                                                   WarmupPolicy policy) {
  auto frame = Frame::try_new(aggregation, capacity, policy, IndicatorKind::SmaTimed);
  if (!frame) return std::unexpected(std::move(frame.error()));
  return SimpleMovingAverageTimed(std::move(*frame));
}

void SimpleMovingAverageTimed::update(double value, std::int64_t t) {
  frame_.start(t);
  observe(t);
  const BucketTime start = frame_.bucket_of(t);
  auto& ring = frame_.ring;
  if (!ring.empty() && ring.back().start == start) {
    current_sum_ = current_sum_ + value;
    current_count_ += 1;
    const double mean = current_sum_ / static_cast<double>(current_count_);
    const double old_mean = ring.back().mean;
    ring.back().mean = mean;
    for (std::size_t i = 0; i < frame_.window_count; ++i) {
      if (counts_[i] > 0) {
        sums_[i] = sums_[i] - old_mean + mean;
        averages_[i] = sums_[i] / static_cast<double>(counts_[i]);
      } else if (has_left(start, frame_.durations[i], t)) {
        averages_[i] = 0.0;
      } else {
        sums_[i] = sums_[i] + mean;
        counts_[i] = 1;
        averages_[i] = sums_[i];
      }
    }
    return;
  }
  current_sum_ = value;
  current_count_ = 1;
  const std::size_t held_before = ring.size();
  if (const auto dropped = ring.push_back(MeanBucket{start, value})) {
    for (std::size_t i = 0; i < frame_.window_count; ++i) {
      if (counts_[i] == held_before) {
        sums_[i] = sums_[i] - dropped->mean;
        counts_[i] -= 1;
      }
    }
  }
  for (std::size_t i = 0; i < frame_.window_count; ++i) {
    if (frame_.durations[i] <= 0) continue;
    sums_[i] = sums_[i] + value;
    counts_[i] += 1;
    averages_[i] = sums_[i] / static_cast<double>(counts_[i]);
  }
}

bool SimpleMovingAverageTimed::observe(std::int64_t t) {
  if (!frame_.advance(t)) return false;
  for (std::size_t i = 0; i < frame_.window_count; ++i) {
    frame_.expire_newest(i, counts_[i], t,
                         [&](const MeanBucket& bucket) { sums_[i] = sums_[i] - bucket.mean; });
    averages_[i] = counts_[i] == 0 ? 0.0 : sums_[i] / static_cast<double>(counts_[i]);
  }
  frame_.refresh_readiness(t);
  return true;
}

}  // namespace vorn
