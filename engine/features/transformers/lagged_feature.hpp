// LaggedFeature: the lags of one input. Each observed refresh records the
// input's value; a lag of L outputs the value recorded L observed refreshes
// earlier, and an unobserved refresh repeats the last outputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/ring_buffer.hpp"
#include "engine/vectors.hpp"

namespace vorn {

struct LaggedFeature {
  struct Member {
    std::uint64_t lag = 0;
    std::size_t output = 0;
    double last = 0.0;  // NaN until first computed
  };

  // Recorded input values, oldest first; capacity is the largest lag.
  HeapRingBuffer<double> history;
  std::vector<Member> members;
  std::size_t input = 0;

  void apply(std::span<const double> in_values, VecFeatureVector& out,
             std::span<std::uint8_t> out_flags, bool observed);
};

}  // namespace vorn
