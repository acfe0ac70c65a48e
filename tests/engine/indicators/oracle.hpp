// Test support for the indicator oracles: seeded random streams (timestamps
// that repeat, jump and cross zero; integer or real values) and a brute-force
// view of the time buckets a window covers, computed by long division rather
// than by the remainder the indicators use.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>
#include <random>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "engine/errors.hpp"
#include "engine/types.hpp"

namespace vorn::oracle {

// One call on a timed indicator: `feeds` an observation (update) or only
// advances time (observe). `a` and `b` are the observation's numbers.
struct TimedCall {
  bool feeds;
  std::int64_t t;
  double a;
  double b;
};

// A value: an integer in [-20, 20] (sums stay exact) or a real in [-10, 10).
inline double random_value(std::mt19937_64& rng, bool integers) {
  if (integers) return static_cast<double>(std::uniform_int_distribution<int>(-20, 20)(rng));
  return std::uniform_real_distribution<double>(-10.0, 10.0)(rng);
}

// Non-decreasing timestamps from `start`: about a third repeat the previous
// one, most move within a few buckets, some jump past every window; they
// stop at INT64_MAX.
inline std::vector<TimedCall> random_timed_calls(std::mt19937_64& rng, std::size_t count,
                                                 std::int64_t start, std::int64_t width,
                                                 std::size_t max_period, bool integers) {
  std::vector<TimedCall> calls;
  std::int64_t t = start;
  std::uniform_int_distribution<int> pick(0, 99);
  for (std::size_t i = 0; i < count; ++i) {
    const int step = pick(rng);
    if (i > 0 && step >= 35) {
      std::int64_t most = width * 2;
      if (step >= 95) most = width * static_cast<std::int64_t>(max_period + 3);
      const std::int64_t step_ms = std::uniform_int_distribution<std::int64_t>(1, most)(rng);
      t = t > std::numeric_limits<std::int64_t>::max() - step_ms
              ? std::numeric_limits<std::int64_t>::max()
              : t + step_ms;
    }
    const bool feeds = pick(rng) < 75;
    calls.push_back({feeds, t, random_value(rng, integers), random_value(rng, integers)});
  }
  return calls;
}

// 16 window periods in [1, max_period], the largest always among them.
inline std::vector<std::size_t> random_periods(std::mt19937_64& rng, std::size_t max_period) {
  std::vector<std::size_t> periods{max_period};
  while (periods.size() < 16) {
    periods.push_back(std::uniform_int_distribution<std::size_t>(1, max_period)(rng));
  }
  std::shuffle(periods.begin(), periods.end(), rng);
  return periods;
}

// floor(t / width) × width in 128 bits.
inline __int128 oracle_bucket_start(std::int64_t t, std::int64_t width) {
  __int128 quotient = t / width;
  if (quotient * width > t) quotient -= 1;
  return quotient * width;
}

// Whether the bucket of an observation at `t` is inside a window of
// `duration` when the clock reads `now`.
inline bool oracle_covers(std::int64_t t, std::int64_t duration, std::int64_t now,
                          std::int64_t width) {
  return oracle_bucket_start(t, width) + duration > oracle_bucket_start(now, width);
}

// Readiness once the clock reads `now`, given the first observation (if any).
inline bool oracle_ready(WarmupPolicy policy, bool started, std::int64_t first, std::int64_t now,
                         std::int64_t duration) {
  if (!started) return false;
  return policy == WarmupPolicy::FirstValue || __int128{now} - first >= duration;
}

// An indicator with its windows added in order; any failure fails the test.
template <class Indicator>
Indicator with_windows(std::expected<Indicator, VornError> made,
                       const std::vector<std::size_t>& windows) {
  Indicator indicator = std::move(made).value();
  for (std::size_t window : windows) EXPECT_TRUE(indicator.add_window(window).has_value());
  return indicator;
}

// One random run of a timed indicator: its stream, bucket width, first
// timestamp, largest window period (the ring holds one bucket more) and policy.
struct TimedCase {
  std::uint64_t seed;
  std::int64_t width;
  std::int64_t start;
  std::size_t max_period;
  WarmupPolicy policy;
};

inline VornError argument(InvalidArgumentError error) { return VornError{std::move(error)}; }

// Compares the two errors the indicators return: argument errors and
// indicator-definition errors. (VornError's own == also instantiates the
// comparison of decimals, which these tests do not need.)
inline ::testing::AssertionResult same_error(const VornError& actual, const VornError& expected) {
  if (const auto* a = actual.get_if<vorn_error::InvalidArgument>()) {
    const auto* e = expected.get_if<vorn_error::InvalidArgument>();
    if (e != nullptr && a->error == e->error) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "argument error variant " << a->error.value.index();
  }
  if (const auto* a = actual.get_if<vorn_error::InvalidIndicatorDefinition>()) {
    const auto* e = expected.get_if<vorn_error::InvalidIndicatorDefinition>();
    if (e != nullptr && *a == *e) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "indicator definition error, kind "
                                         << static_cast<int>(a->indicator);
  }
  return ::testing::AssertionFailure() << "VornError variant " << actual.value.index();
}

// The error of a failed result; a success fails the test.
template <class T>
VornError error_of(const std::expected<T, VornError>& result) {
  if (result.has_value()) {
    ADD_FAILURE() << "expected an error";
    return VornError{vorn_error::OutputCountMismatch{0, 0}};
  }
  return result.error();
}

inline VornError construction_failed_for(IndicatorKind kind) {
  return VornError{vorn_error::InvalidIndicatorDefinition{
      0, kind, InvalidIndicatorDefinitionError{definition_error::ConstructionFailed{}}}};
}

}  // namespace vorn::oracle
