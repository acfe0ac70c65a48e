#include "engine/indicators/volatility/moments.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "tests/engine/indicators/oracle.hpp"

namespace vorn {
namespace {

Moments moments_of(std::span<const double> xs) {
  Moments m;
  for (double x : xs) m.add(x);
  return m;
}

TEST(Moments, AddRemoveMergeSubtractAgreeWithTwoPass) {
  std::mt19937_64 rng(61);
  std::uniform_real_distribution<double> value(-0.05, 0.05);
  std::vector<double> values(200);
  for (double& x : values) x = value(rng);
  const std::span<const double> xs(values);
  const Moments all = moments_of(xs);
  oracle::expect_moments(all, xs, 1e-14);
  Moments merged = moments_of(xs.first(70));
  merged.merge(moments_of(xs.subspan(70)));
  oracle::expect_moments(merged, xs, 1e-14);
  Moments rest = all;
  rest.subtract(moments_of(xs.first(70)));
  oracle::expect_moments(rest, xs.subspan(70), 1e-14);
  Moments removed = all;
  for (std::size_t i = 0; i < 150; ++i) removed.remove(xs[i]);
  oracle::expect_moments(removed, xs.subspan(150), 1e-14);
}

TEST(Moments, EmptyingCopyingAndVolatility) {
  Moments one;
  one.add(0.25);
  EXPECT_EQ(one, (Moments{1, 0.25, 0.0}));
  one.remove(0.25);
  EXPECT_EQ(one, Moments{});
  const std::vector<double> some_values{0.1, -0.3, 0.7};
  const Moments some = moments_of(some_values);
  Moments copy;
  copy.merge(some);
  EXPECT_EQ(copy, some);
  copy.subtract(some);
  EXPECT_EQ(copy, Moments{});

  EXPECT_EQ(Moments{}.volatility(), std::nullopt);
  EXPECT_EQ((Moments{4, 1.0, 16.0}.volatility()), 2.0);
  // A tiny negative m2 left by removals reads as 0.0; an undefined one stays NaN.
  EXPECT_EQ((Moments{3, 0.0, -1e-20}.volatility()), 0.0);
  EXPECT_TRUE(std::isnan(*Moments{2, 0.0, std::numeric_limits<double>::quiet_NaN()}.volatility()));
}

}  // namespace
}  // namespace vorn
