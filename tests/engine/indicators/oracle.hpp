// Test support for the indicator oracles: seeded random streams (timestamps
// that repeat, jump and reach the ends of the range; integer or real values),
// brute-force sums and two-pass moments, a view of the time buckets a window
// covers (long division, not the remainder the indicators use), a driver for
// timed indicators, and error comparison.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "engine/errors.hpp"
#include "engine/indicators/volatility/moments.hpp"
#include "engine/types.hpp"

namespace vorn::oracle {

// A value: an integer in [-20, 20] (sums stay exact) or a real in [-10, 10).
inline double random_value(std::mt19937_64& rng, bool integers) {
  if (integers) return static_cast<double>(std::uniform_int_distribution<int>(-20, 20)(rng));
  return std::uniform_real_distribution<double>(-10.0, 10.0)(rng);
}

// The sum of the last min(n, size) values, and the tolerance of a sum of
// reals: 1e-9 of their summed magnitudes (0 for integers, whose sums are exact).
struct Sum {
  double sum = 0.0;
  double tolerance = 0.0;
};
inline Sum last_sum(const std::vector<double>& values, std::size_t n, bool integers) {
  Sum out;
  double scale = 1.0;
  for (std::size_t k = values.size() - std::min(values.size(), n); k < values.size(); ++k) {
    out.sum += values[k];
    scale += std::abs(values[k]);
  }
  out.tolerance = integers ? 0.0 : 1e-9 * scale;
  return out;
}

// Moments equal to the two-pass moments of `xs`: the count exactly, the mean
// and the population variance within `tolerance`.
inline void expect_moments(const Moments& m, std::span<const double> xs, double tolerance) {
  ASSERT_EQ(m.count, xs.size());
  if (xs.empty()) return;
  double mean = 0.0;
  for (double x : xs) mean += x;
  mean /= static_cast<double>(xs.size());
  double variance = 0.0;
  for (double x : xs) variance += (x - mean) * (x - mean);
  variance /= static_cast<double>(xs.size());
  EXPECT_NEAR(m.mean, mean, tolerance);
  EXPECT_NEAR(m.m2 / static_cast<double>(m.count), variance, tolerance);
}

// 16 window lengths or periods in [1, largest], the largest always among them.
inline std::vector<std::size_t> random_windows(std::mt19937_64& rng, std::size_t largest) {
  std::vector<std::size_t> windows{largest};
  while (windows.size() < 16) {
    windows.push_back(std::uniform_int_distribution<std::size_t>(1, largest)(rng));
  }
  std::shuffle(windows.begin(), windows.end(), rng);
  return windows;
}

// An indicator with its windows added in order; any failure fails the test.
template <class Indicator>
Indicator with_windows(std::expected<Indicator, VornError> made,
                       const std::vector<std::size_t>& windows) {
  Indicator indicator = std::move(made).value();
  for (std::size_t window : windows) EXPECT_TRUE(indicator.add_window(window).has_value());
  return indicator;
}

// One call on a timed indicator: `feeds` an observation (update) or only
// advances time (observe); `a` and `b` are the observation's numbers.
struct TimedCall {
  bool feeds;
  std::int64_t t;
  double a;
  double b;
};

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
      const std::int64_t most = width * (step >= 95 ? static_cast<std::int64_t>(max_period + 3) : 2);
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
inline bool oracle_ready(WarmupPolicy policy, std::optional<std::int64_t> first, std::int64_t now,
                         std::int64_t duration) {
  if (!first) return false;
  return policy == WarmupPolicy::FirstValue || __int128{now} - *first >= duration;
}

// One random run of a timed indicator: its stream, bucket width, first
// timestamp, largest window period (the ring holds one bucket more), policy.
struct TimedCase {
  std::uint64_t seed;
  std::int64_t width;
  std::int64_t start;
  std::size_t max_period;
  WarmupPolicy policy;
};

// Runs a timed indicator with 16 random windows through 1500 random calls:
// `feed(indicator, call)` for observations, `observe` otherwise (false exactly
// on a repeated timestamp). After every call `check(indicator, window,
// duration, call)` compares each window with the oracle, and its readiness is
// compared here. Stops at the first failure.
template <class Make, class Feed, class Check>
void drive_timed(const TimedCase& c, bool integers, Make make, Feed feed, Check check) {
  std::mt19937_64 rng(c.seed);
  const auto periods = random_windows(rng, c.max_period);
  auto indicator =
      with_windows(make(Duration::from_millis(c.width), c.max_period + 1, c.policy), periods);
  std::optional<std::int64_t> first;
  std::optional<std::int64_t> previous;
  for (const TimedCall& call :
       random_timed_calls(rng, 1500, c.start, c.width, c.max_period, integers)) {
    if (call.feeds) {
      feed(indicator, call);
      if (!first) first = call.t;
    } else {
      EXPECT_EQ(indicator.observe(call.t), previous != call.t);
    }
    previous = call.t;
    for (std::size_t i = 0; i < periods.size(); ++i) {
      const std::int64_t duration = static_cast<std::int64_t>(periods[i]) * c.width;
      check(indicator, i, duration, call);
      EXPECT_EQ(indicator.ready(i), oracle_ready(c.policy, first, call.t, duration));
      if (::testing::Test::HasFailure()) {
        ADD_FAILURE() << "seed " << c.seed << ", window " << i << ", t " << call.t;
        return;
      }
    }
  }
}

inline VornError argument(InvalidArgumentError error) { return VornError{std::move(error)}; }

inline VornError construction_failed_for(IndicatorKind kind) {
  return VornError{vorn_error::InvalidIndicatorDefinition{
      0, kind, InvalidIndicatorDefinitionError{definition_error::ConstructionFailed{}}}};
}

inline ::testing::AssertionResult same_error(const VornError& actual, const VornError& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << to_string(actual) << "\" instead of \""
                                       << to_string(expected) << "\"";
}

// Whether a result failed with `expected`.
template <class T>
::testing::AssertionResult fails_with(const std::expected<T, VornError>& result,
                                      const VornError& expected) {
  if (result.has_value()) return ::testing::AssertionFailure() << "succeeded";
  return same_error(result.error(), expected);
}

}  // namespace vorn::oracle
