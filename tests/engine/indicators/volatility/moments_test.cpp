#include "engine/indicators/volatility/moments.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace vorn {
namespace {

// Two-pass population moments.
struct Reference {
  double mean;
  double m2;
};
Reference reference(const std::vector<double>& xs, std::size_t from, std::size_t to) {
  double sum = 0.0;
  for (std::size_t i = from; i < to; ++i) sum += xs[i];
  const double mean = sum / static_cast<double>(to - from);
  double m2 = 0.0;
  for (std::size_t i = from; i < to; ++i) m2 += (xs[i] - mean) * (xs[i] - mean);
  return {mean, m2};
}

Moments moments_of(const std::vector<double>& xs, std::size_t from, std::size_t to) {
  Moments m;
  for (std::size_t i = from; i < to; ++i) m.add(xs[i]);
  return m;
}

TEST(Moments, AddRemoveMergeSubtractAgreeWithTwoPass) {
  std::mt19937_64 rng(61);
  std::uniform_real_distribution<double> value(-0.05, 0.05);
  std::vector<double> xs(200);
  for (double& x : xs) x = value(rng);
  const double tolerance = 1e-12;

  const Moments all = moments_of(xs, 0, 200);
  const Reference full = reference(xs, 0, 200);
  EXPECT_EQ(all.count, 200u);
  EXPECT_NEAR(all.mean, full.mean, tolerance);
  EXPECT_NEAR(all.m2, full.m2, tolerance);

  Moments merged = moments_of(xs, 0, 70);
  merged.merge(moments_of(xs, 70, 200));
  EXPECT_EQ(merged.count, 200u);
  EXPECT_NEAR(merged.mean, full.mean, tolerance);
  EXPECT_NEAR(merged.m2, full.m2, tolerance);

  Moments rest = all;
  rest.subtract(moments_of(xs, 0, 70));
  const Reference tail = reference(xs, 70, 200);
  EXPECT_EQ(rest.count, 130u);
  EXPECT_NEAR(rest.mean, tail.mean, tolerance);
  EXPECT_NEAR(rest.m2, tail.m2, tolerance);

  Moments removed = all;
  for (std::size_t i = 0; i < 150; ++i) removed.remove(xs[i]);
  const Reference last = reference(xs, 150, 200);
  EXPECT_EQ(removed.count, 50u);
  EXPECT_NEAR(removed.mean, last.mean, tolerance);
  EXPECT_NEAR(removed.m2, last.m2, tolerance);
}

TEST(Moments, EmptyingAndCopying) {
  Moments one;
  one.add(0.25);
  EXPECT_EQ(one, (Moments{1, 0.25, 0.0}));
  one.remove(0.25);
  EXPECT_EQ(one, Moments{});

  Moments some = moments_of({0.1, -0.3, 0.7}, 0, 3);
  Moments copy;
  copy.merge(some);
  EXPECT_EQ(copy, some);
  copy.subtract(some);
  EXPECT_EQ(copy, Moments{});
}

TEST(Moments, Volatility) {
  EXPECT_EQ(Moments{}.volatility(), std::nullopt);
  Moments two;
  two.add(0.1);
  two.add(-0.1);
  EXPECT_EQ(two.mean, 0.0);
  EXPECT_NEAR(*two.volatility(), 0.1, 1e-16);
  // A tiny negative m2 left by removals reads as 0.0.
  EXPECT_EQ((Moments{3, 0.0, -1e-20}.volatility()), 0.0);
  EXPECT_EQ((Moments{4, 1.0, 16.0}.volatility()), 2.0);
  // An undefined m2 is not turned into a value.
  EXPECT_TRUE(std::isnan(*Moments{2, 0.0, std::numeric_limits<double>::quiet_NaN()}.volatility()));
}

}  // namespace
}  // namespace vorn
