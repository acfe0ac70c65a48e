// Tests of the output sink: what a write stores and flags, and that a range
// past the capacity is refused before anything is written.
#include "engine/features/derivation/output_sink.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/panic.hpp"
#include "tests/engine/features/derivation/derivation_test_support.hpp"

namespace vorn {
namespace {

using derivation_test::Cells;
using derivation_test::expect_cells;
using derivation_test::kNaN;
using derivation_test::kUntouched;

TEST(OutputSink, WritesTheRangeWithFlagsAndNaNBeyondTheDefinedOutputs) {
  Cells cells(6);
  OutputSink sink(cells.values, cells.flags);
  // Outputs 0 and 1 defined, output 2 beyond them.
  write_outputs(sink, 2, 3, 2, [](std::size_t k) { return 10.0 + static_cast<double>(k); });
  expect_cells(cells.cells(), {kUntouched, kUntouched, 10.0, 11.0, kNaN, kUntouched}, "cells");
  EXPECT_EQ(cells.flags, (std::vector<std::uint8_t>{0, 0, 1, 1, 1, 0}));
}

TEST(OutputSink, ARangePastTheCapacityPanicsBeforeWriting) {
  Cells cells(4);
  OutputSink sink(cells.values, cells.flags);
  for (const auto& [start, count, end] : std::vector<std::array<std::size_t, 3>>{{2, 3, 5}, {5, 0, 5}, {0, 9, 9}}) {
    try {
      write_outputs(sink, start, count, count, [](std::size_t) { return 1.0; });
      ADD_FAILURE() << "no panic for " << start << " + " << count;
    } catch (const Panic& panic) {
      EXPECT_EQ(panic.message(), "range end index " + std::to_string(end) + " out of range for slice of length 4");
    }
    expect_cells(cells.cells(), {kUntouched, kUntouched, kUntouched, kUntouched}, "after a refused range");
    EXPECT_EQ(cells.flags, (std::vector<std::uint8_t>{0, 0, 0, 0}));
  }
  // The whole capacity, and an empty range at its end, are accepted.
  write_outputs(sink, 0, 4, 4, [](std::size_t k) { return static_cast<double>(k); });
  write_outputs(sink, 4, 0, 0, [](std::size_t) { return 1.0; });
  expect_cells(cells.cells(), {0.0, 1.0, 2.0, 3.0}, "whole capacity");
}

}  // namespace
}  // namespace vorn
