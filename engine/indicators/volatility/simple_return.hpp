// The simple price return that feeds the volatility indicators: none for the
// first price nor after a price of 0.0 (either sign); otherwise
// (p − previous) / previous. The last price always becomes p.
#pragma once

#include <optional>

namespace vorn {

struct SimpleReturn {
  std::optional<double> last_price;

  std::optional<double> next(double price) {
    const std::optional<double> previous = last_price;
    last_price = price;
    if (!previous || *previous == 0.0) return std::nullopt;
    return (price - *previous) / *previous;
  }
};

}  // namespace vorn
