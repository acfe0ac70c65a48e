// Transformer: one compiled scalar transformation (an average group, a copy,
// a lag group or a standard scaling) and the step it runs on every refresh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>

#include "engine/features/transformers/average_transformer.hpp"
#include "engine/features/transformers/lagged_feature.hpp"
#include "engine/vectors.hpp"

namespace vorn {

struct Transformer {
  struct Identity {
    std::size_t input = 0;
    std::size_t output = 0;
  };
  struct StandardScale {
    std::size_t input = 0;
    std::size_t output = 0;
    double mean = 0.0;
    double inverse_scale = 1.0;
  };

  using Variant = std::variant<std::unique_ptr<AverageTransformer>, Identity, LaggedFeature, StandardScale>;
  Variant value;

  template <class T>
    requires(std::is_constructible_v<Variant, T &&> &&
             !std::is_same_v<std::remove_cvref_t<T>, Transformer>)
  Transformer(T&& transformer) : value(std::forward<T>(transformer)) {}

  // Reads the preceding layout's cells and update flags (one byte per cell,
  // non-zero = written by the current step) and writes this transformer's
  // output cells and flags. `observed` is true after an event, false after a
  // context update: it moves the lags and nothing else.
  void apply(std::span<const double> in_values, std::span<const std::uint8_t> in_flags,
             VecFeatureVector& out, std::span<std::uint8_t> out_flags, bool observed);
};

}  // namespace vorn
