// The truncated beta draws against the exact truncated distribution: for each method
// that serves a shape, a sample from a fixed stream on intervals in the body, in both
// tails and narrow ones, with tiny and huge shapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/math/special_functions/beta.hpp>
#include <cmath>
#include <vector>

#include "sampling/beta_functions.hpp"

namespace propbf::evaluate {
namespace {

constexpr int kSampleSize = 20000;

struct Case {
  double a, b, low, up;
};

// Beta(a, b) truncated to [low, up]: G(x) = (F(x) - F(low)) / (F(up) - F(low)), by the
// upper tail Q = 1 - F when F(low) is above one half.
double truncated_cdf(const Case& c, double x) {
  const double f_low = boost::math::ibeta(c.a, c.b, c.low);
  if (f_low <= 0.5) return (boost::math::ibeta(c.a, c.b, x) - f_low) / (boost::math::ibeta(c.a, c.b, c.up) - f_low);
  const double q_low = boost::math::ibetac(c.a, c.b, c.low);
  return (q_low - boost::math::ibetac(c.a, c.b, x)) / (q_low - boost::math::ibetac(c.a, c.b, c.up));
}

// Kolmogorov's distance between the sample and G.
double distance(std::vector<double> sample, const Case& c) {
  std::sort(sample.begin(), sample.end());
  const auto n = static_cast<double>(sample.size());
  double largest = 0.0;
  for (std::size_t i = 0; i < sample.size(); ++i) {
    const double g = truncated_cdf(c, sample[i]);
    largest = std::max({largest, g - static_cast<double>(i) / n, static_cast<double>(i + 1) / n - g});
  }
  return largest;
}

TEST(TruncatedBetaStatistics, EveryMethodDrawsTheTruncatedDistribution) {
  const std::vector<Case> cases{
      {8, 4, 0.0, 1.0},           {8, 4, 0.3, 0.9},           {8, 4, 0.01, 0.05},        // lower tail
      {8, 4, 0.98, 1.0},          {8, 4, 0.66, 0.67},         {43, 9, 0.2, 0.45},        // far lower tail
      {43, 9, 0.80, 0.84},        {2, 50, 0.0, 0.001},        {2, 50, 0.4, 1.0},         // upper tail to 1
      {1, 30, 0.1, 0.5},          {30, 1, 0.0, 0.5},          {1.0001, 1.0001, 0.2, 0.3},
      {1e5, 1e5, 0.499, 0.5},     {1e5, 1e5, 0.5005, 0.51},   {5e6, 2e6, 0.71, 0.7143},  // huge shapes
      {1.5, 1.5, 0.0, 1e-6},      {0.05, 0.05, 0.2, 0.8},     {0.5, 3, 0.0, 0.01},       // tiny shapes
      {0.3, 0.7, 0.9, 1.0},
  };
  const TruncatedMethod methods[] = {TruncatedMethod::Rejection, TruncatedMethod::Envelope, TruncatedMethod::Inversion};
  // Dvoretzky, Kiefer and Wolfowitz: P(distance > e) <= 2 exp(-2 n e^2) for any n. With
  // a false-failure rate of 1e-6 over the whole table, each sample may fail with
  // alpha = 1e-6 / (3 * cases), at e = sqrt(ln(2 / alpha) / (2 n)) (about 0.022).
  const double alpha = 1e-6 / (3.0 * static_cast<double>(cases.size()));
  const double bound = std::sqrt(std::log(2.0 / alpha) / (2.0 * kSampleSize));
  std::uint64_t stage = 0;
  for (const Case& c : cases) {
    const TruncatedBeta draws(c.a, c.b);
    const bool log_concave = c.a >= 1.0 && c.b >= 1.0;
    for (const TruncatedMethod method : methods) {
      if (method != TruncatedMethod::Inversion && !log_concave) continue;
      CounterStream stream(20261208, 7, StreamKind::FitSweeps, ++stage);
      std::vector<double> sample(kSampleSize);
      for (double& x : sample) {
        x = draws.draw_with(method, c.low, c.up, stream);
        ASSERT_TRUE(x >= c.low && x <= c.up) << x;
      }
      EXPECT_LT(distance(sample, c), bound)
          << "Beta(" << c.a << ", " << c.b << ") on [" << c.low << ", " << c.up << "], method "
          << static_cast<int>(method);
    }
  }
}

// The replications' table method against Beta(a, b): shapes of replicated stage shares
// (tiny and huge, skewed to either end), also with a core of 1.5 standard deviations,
// which sends about one draw in eight to the tails (drawn by inversion).
TEST(TruncatedBetaStatistics, TableDrawsTheBetaDistribution) {
  struct Shape {
    double a, b, core_sds;
  };
  const std::vector<Shape> shapes{
      {1.2, 1.0004, 10}, {2, 2, 10},         {1.0001, 50, 10}, {50, 1.0001, 10}, {8124, 11878, 10},
      {3, 1e6, 10},      {1e6, 1e6, 10},     {2, 2, 1.5},      {40, 9, 1.5},     {8124, 11878, 1.5},
  };
  // As above: a false-failure rate of 1e-6 over the table, by Dvoretzky, Kiefer and Wolfowitz.
  const double alpha = 1e-6 / static_cast<double>(shapes.size());
  const double bound = std::sqrt(std::log(2.0 / alpha) / (2.0 * kSampleSize));
  std::uint64_t stage = 0;
  for (const Shape& shape : shapes) {
    const BetaTable table(shape.a, shape.b, shape.core_sds);
    CounterStream stream(20261208, 8, StreamKind::FitReplications, ++stage);
    std::vector<double> sample(kSampleSize);
    for (double& x : sample) {
      x = table(stream);
      ASSERT_TRUE(x >= 0.0 && x <= 1.0) << x;
    }
    EXPECT_LT(distance(sample, {shape.a, shape.b, 0.0, 1.0}), bound)
        << "Beta(" << shape.a << ", " << shape.b << "), core " << shape.core_sds;
  }
}

}  // namespace
}  // namespace propbf::evaluate
