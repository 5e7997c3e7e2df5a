// Distribution of the beta deviates: for each method, and for the shapes the analysis
// uses, a sample from a fixed seed against the exact distribution function.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "goodness_of_fit.hpp"
#include "incomplete_beta.hpp"
#include "random/beta_methods.hpp"
#include "random/random.hpp"

namespace propbf::numlib::testing {
namespace {

constexpr int kSampleSize = 100000;  // about a second for all shapes, also instrumented
constexpr int32_t kSeed = 20240601;
constexpr double kUnderflowBound = 0x1p-24;  // Johnk's log-mode bound, 2^-24

struct Shape {
  const char* name;
  float pin, qin;
  int32_t nr;               // deviates per call, which with the shapes picks the method
  beta::Method method;
  Grid grid = Grid::Floats; // the values a deviate can take
};

// Deviates formed as 1 - v with v a float near 1 (P with PIN = 1, S with the lower piece
// taking 1 - (1 - t) (...)^(1/b)) are multiples of 2^-24.
constexpr Grid kComplement = Grid::StepsOfTwoToMinus24;

// The analysis draws Beta(1 + h, 1 + n - h) one at a time, n = 100000.
constexpr Shape kShapes[] = {
    {"P, QIN = 1: square root", 2.0f, 1.0f, 1000, beta::Method::Power},
    {"P, PIN = 1: 1 - cube root", 1.0f, 3.0f, 1000, beta::Method::Power, kComplement},
    {"P, both 1", 1.0f, 1.0f, 1000, beta::Method::Power},
    {"J plain", 0.4f, 0.6f, 1000, beta::Method::Johnk},
    {"J plain at one half", 0.5f, 0.5f, 1000, beta::Method::Johnk},
    {"S", 0.5f, 3.0f, 1000, beta::Method::Switching},
    {"S swapped", 3.0f, 0.5f, 1000, beta::Method::Switching},
    {"S with a shape just below 1", 0.99999994f, 100001.0f, 1, beta::Method::Switching,
     kComplement},
    {"S swapped, a shape just below 1", 100001.0f, 0.99999994f, 1, beta::Method::Switching},
    {"C 1.5/1.5", 1.5f, 1.5f, 1, beta::Method::LogLogistic},
    {"C 2/2 in fours", 2.0f, 2.0f, 4, beta::Method::LogLogistic},
    {"C 2/5", 2.0f, 5.0f, 1, beta::Method::LogLogistic},
    {"C 5/2", 5.0f, 2.0f, 1, beta::Method::LogLogistic},
    {"batch 1.5/1.5", 1.5f, 1.5f, 1000, beta::Method::Batch},
    {"batch 1.2/1.7", 1.2f, 1.7f, 1000, beta::Method::Batch},
    {"batch 2/2", 2.0f, 2.0f, 1000, beta::Method::Batch},
    {"batch 10/10", 10.0f, 10.0f, 1000, beta::Method::Batch},
    {"batch 2/5", 2.0f, 5.0f, 1000, beta::Method::Batch},
    {"batch 1.5/40", 1.5f, 40.0f, 1000, beta::Method::Batch},
    {"batch 40/1.5", 40.0f, 1.5f, 1000, beta::Method::Batch},
    {"batch 100/300", 100.0f, 300.0f, 1000, beta::Method::Batch},
    {"analysis h = 0", 1.0f, 100001.0f, 1, beta::Method::Power, kComplement},
    {"analysis h = 3", 4.0f, 99998.0f, 1, beta::Method::LogLogistic},
    {"analysis h = 50000", 50001.0f, 50001.0f, 1, beta::Method::LogLogistic},
    {"analysis h = 99990", 99991.0f, 11.0f, 1, beta::Method::LogLogistic},
    {"analysis h = n", 100001.0f, 1.0f, 1, beta::Method::Power},
};

std::vector<float> draw_sample(float pin, float qin, int32_t nr) {
  reset_random_state_for_testing();
  RNSET(kSeed);
  std::vector<float> sample(kSampleSize);
  for (int i = 0; i < kSampleSize; i += nr) RNBET(nr, pin, qin, sample.data() + i);
  return sample;
}

void expect_fit(const std::vector<float>& sample, const DistributionFunction& cdf,
                const std::string& name, Grid grid = Grid::Floats) {
  const FitResult fit = chi_square_fit(sample, cdf, grid);
  ASSERT_GE(fit.degrees_of_freedom, 5) << name;
  EXPECT_TRUE(fit.passes()) << name << ": chi-square " << fit.statistic << " with "
                            << fit.degrees_of_freedom << " degrees of freedom, threshold "
                            << fit.threshold << "\n"
                            << fit.table;
}

TEST(BetaDistribution, EachMethodAndTheAnalysisShapesFitTheBetaLaw) {
  static_assert(kSampleSize % 1000 == 0);
  for (const Shape& shape : kShapes) {
    ASSERT_EQ(beta::choose_method(shape.nr, shape.pin, shape.qin), shape.method) << shape.name;
    const double a = shape.pin;
    const double b = shape.qin;
    expect_fit(draw_sample(shape.pin, shape.qin, shape.nr),
               [a, b](double x) { return regularized_incomplete_beta(x, a, b); }, shape.name,
               shape.grid);
  }
}

// Johnk in log mode rejects every candidate with x < e = 2^-24, so its law is not the
// beta law near 0. With x = sX, y = s(1 - X), the accepted (s, X) have density
// proportional to s^(p+q-1) X^(p-1) (1-X)^(q-1) on e/X <= s <= 1, so X has density
// proportional to X^(p-1) (1-X)^(q-1) (1 - (e/X)^(p+q)) on [e, 1). Integrating, with
// d/dX ((1-X)/X)^q = -q X^(-q-1) (1-X)^(q-1):
//   G(t) = B(p,q) (I_t - I_e) - e^(p+q) / q * (((1-e)/e)^q - ((1-t)/t)^q),
// and the distribution function is G(t) / G(1).
double johnk_log_mode_cdf(double t, double p, double q) {
  const double e = kUnderflowBound;
  if (t <= e) return 0.0;
  auto g = [&](double x) {
    const double tail = x >= 1.0 ? 0.0 : std::pow((1.0 - x) / x, q);
    return std::exp(log_beta_function(p, q)) *
               (regularized_incomplete_beta(x, p, q) - regularized_incomplete_beta(e, p, q)) -
           std::pow(e, p + q) / q * (std::pow((1.0 - e) / e, q) - tail);
  };
  return t >= 1.0 ? 1.0 : g(t) / g(1.0);
}

TEST(BetaDistribution, JohnkLogModeFitsItsTruncatedLaw) {
  for (const auto& [p, q] : {std::pair{0.2f, 0.3f}, std::pair{0.3f, 0.2f}, std::pair{0.45f, 0.4f}}) {
    ASSERT_TRUE(beta::make_johnk_setup(p, q).log_mode);
    const double a = p;
    const double b = q;
    expect_fit(draw_sample(p, q, 1000),
               [a, b](double x) { return johnk_log_mode_cdf(x, a, b); },
               "J log mode " + std::to_string(p) + "/" + std::to_string(q));
  }
}

TEST(BetaDistribution, TheFitDetectsAWrongShape) {
  // A control: the batch deviates at 10/10 against the law of 10/11 must fail.
  const FitResult fit = chi_square_fit(
      draw_sample(10.0f, 10.0f, 1000),
      [](double x) { return regularized_incomplete_beta(x, 10.0, 11.0); });
  EXPECT_FALSE(fit.passes()) << fit.statistic << " vs " << fit.threshold;
}

}  // namespace
}  // namespace propbf::numlib::testing
