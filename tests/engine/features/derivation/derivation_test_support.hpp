// Test helpers for derivations: events in one line, and a small feature
// vector whose cells start at a sentinel so that unwritten cells show.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/event.hpp"
#include "engine/features/derivation/feature_derivation.hpp"
#include "engine/vectors.hpp"

namespace vorn::derivation_test {

inline constexpr double kUntouched = -777.0;
inline constexpr double kNaN = kNoValue;

inline Event price(Symbol symbol, std::int64_t ts, double value) { return Event::Price{value, ts, symbol}; }
inline Event volume(Symbol symbol, std::int64_t ts, double value) { return Event::Volume{value, ts, symbol}; }
inline Event trade(Symbol symbol, std::int64_t ts, double p, double q,
                   std::optional<AggressorSide> side = AggressorSide::Buy) {
  return Event::Trade{p, q, ts, symbol, side};
}
inline Event time_event(std::int64_t ts) { return Event::Time{ts}; }
inline Event snapshot_event(Symbol symbol, std::int64_t ts) { return Event::OrderBookSnapshot{{}, {}, 1, ts, symbol}; }

// Cells 0 .. capacity - 1 with their flags; every event starts with flags 0,
// as the feature extractor clears them.
struct Cells {
  VecFeatureVector values;
  std::vector<std::uint8_t> flags;

  explicit Cells(std::size_t capacity) : values(VecFeatureVector::new_of_length(capacity, capacity)), flags(capacity) {
    for (std::size_t i = 0; i < capacity; ++i) values.set_value_at(i, kUntouched);
  }

  void apply(FeatureDerivation& derivation, const Event& event, std::size_t out_start, std::size_t n_outputs) {
    std::fill(flags.begin(), flags.end(), 0);
    OutputSink sink(values, flags);
    derivation.update(event, out_start, n_outputs, sink);
  }
  std::vector<double> cells() const { return {values.cells().begin(), values.cells().end()}; }
};

// Equal as doubles, NaN equal to NaN; exact unless a tolerance is given.
inline void expect_cells(const std::vector<double>& actual, const std::vector<double>& expected,
                         const std::string& where, double tolerance = 0.0) {
  ASSERT_EQ(actual.size(), expected.size()) << where;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(actual[i])) << where << " cell " << i << " is " << actual[i];
    } else if (tolerance == 0.0) {
      EXPECT_EQ(actual[i], expected[i]) << where << " cell " << i;
    } else {
      EXPECT_NEAR(actual[i], expected[i], tolerance) << where << " cell " << i;
    }
  }
}

inline std::string message(const VornError& error) { return to_string(error); }

template <class T>
T built(Result<T> result) {
  EXPECT_TRUE(result.has_value()) << (result ? "" : to_string(result.error()));
  return std::move(result).value();
}

}  // namespace vorn::derivation_test
