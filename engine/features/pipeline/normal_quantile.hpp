// The standard normal quantile (inverse distribution function), by
// Wichura's algorithm AS 241 (PPND16), accurate to about 1e-16 relative.
#pragma once

namespace vorn {

// The z with P(Z <= z) = p: -infinity for p <= 0, +infinity for p >= 1, NaN
// for NaN.
double normal_quantile(double p);

}  // namespace vorn
