// TransformerDefinition: the authored form of one scalar transformation (EMA,
// SMA, identity, lag, standard scaling). Each reads one cell of the preceding
// layout by feature id and produces one output cell named `output`.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "engine/types.hpp"

namespace vorn {

struct TransformerDefinition {
  // Exponential moving average over `window` observed samples.
  struct Ema {
    WarmupPolicy warmup = WarmupPolicy::FirstValue;
    std::uint64_t window = 0;
    std::string input;
    std::string output;
    friend bool operator==(const Ema&, const Ema&) = default;
  };
  // Simple moving average over the last `window` observed samples.
  struct Sma {
    WarmupPolicy warmup = WarmupPolicy::FirstValue;
    std::uint64_t window = 0;
    std::string input;
    std::string output;
    friend bool operator==(const Sma&, const Sma&) = default;
  };
  struct Identity {
    std::string input;
    std::string output;
    friend bool operator==(const Identity&, const Identity&) = default;
  };
  // The input as it was `lag_window` observed refreshes earlier.
  struct Lagged {
    std::uint64_t lag_window = 0;
    std::string input;
    std::string output;
    friend bool operator==(const Lagged&, const Lagged&) = default;
  };
  // (input - mean) / scale, applied as a product with 1 / scale.
  struct StandardScale {
    double mean = 0.0;
    double scale = 1.0;
    std::string input;
    std::string output;
    friend bool operator==(const StandardScale&, const StandardScale&) = default;
  };

  using Variant = std::variant<Ema, Sma, Identity, Lagged, StandardScale>;
  Variant value;

  template <class T>
    requires(std::is_constructible_v<Variant, T &&> &&
             !std::is_same_v<std::remove_cvref_t<T>, TransformerDefinition>)
  TransformerDefinition(T&& definition) : value(std::forward<T>(definition)) {}

  const std::string& input() const {
    return std::visit([](const auto& d) -> const std::string& { return d.input; }, value);
  }
  const std::string& output() const {
    return std::visit([](const auto& d) -> const std::string& { return d.output; }, value);
  }

  friend bool operator==(const TransformerDefinition&, const TransformerDefinition&) = default;
};

}  // namespace vorn
