// The numeric kernels of the fitted stages: the dot product in index order,
// the Yeo-Johnson and Box-Cox power functions, linear interpolation between
// quantiles and the quantile transform to a uniform or normal output.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "engine/features/pipeline/stages.hpp"

namespace vorn {

// Sum of a[i] * b[i] over the common length, from -0.0 in increasing i, each
// product and sum rounded on its own (-0.0 for no terms).
double dot(std::span<const double> a, std::span<const double> b);

// Box-Cox when `box_cox`, else Yeo-Johnson, of x with parameter lambda.
double power_transform(bool box_cox, double x, double lambda);

// The value at x of the line through points i-1 and i of (xs, ys); ys[0] for
// i = 0 and the last ys for i = n.
double interpolate_at(std::size_t i, std::span<const double> xs, std::span<const double> ys, double x);

// x mapped through the sorted quantiles `column` of one input to the mean of
// its upper and lower interpolated probabilities; with `normal_clip` that
// probability goes through the normal quantile and the result is clipped.
double quantile_transform(std::span<const double> column, std::span<const double> references,
                          double x, double bounds_threshold, std::optional<ClipBounds> normal_clip);

// The transform of an input that was entirely NaN when fitted.
double all_nan_quantile_transform(std::size_t n_quantiles, std::optional<ClipBounds> normal_clip,
                                  double x);

}  // namespace vorn
