// The reference distribution function against closed forms and a tabulated value.
#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "incomplete_beta.hpp"

namespace propbf::numlib::testing {
namespace {

// The front factor takes lgamma of the shapes, whose size is about (a + b) ln(a + b);
// their difference loses that many units of the last place, so the tolerance grows with
// it (1e-9 at shapes near 1e5). For expected counts out of 1e5 draws that is far below 1.
double tolerance_for(double a, double b) {
  return 1e-13 + 1e-15 * (a + b) * std::log(a + b + 1.0);
}

TEST(IncompleteBeta, SymmetricShapesAtOneHalf) {
  for (const double a : {0.2, 0.5, 1.0, 2.0, 10.0, 1000.5, 50001.0}) {
    EXPECT_NEAR(regularized_incomplete_beta(0.5, a, a), 0.5, tolerance_for(a, a)) << a;
  }
}

TEST(IncompleteBeta, FirstShapeOne) {
  // I_x(1, b) = 1 - (1 - x)^b.
  for (const double b : {0.3, 3.0, 100001.0}) {
    for (const double x : {1e-9, 1e-5, 0.1, 0.5, 0.9}) {
      EXPECT_NEAR(regularized_incomplete_beta(x, 1.0, b), -std::expm1(b * std::log1p(-x)),
                  tolerance_for(1.0, b))
          << "b " << b << " x " << x;
    }
  }
}

TEST(IncompleteBeta, SecondShapeOne) {
  // I_x(a, 1) = x^a.
  for (const double a : {0.3, 2.0, 100001.0}) {
    for (const double x : {1e-3, 0.5, 0.99999, 0.9999999}) {
      EXPECT_NEAR(regularized_incomplete_beta(x, a, 1.0), std::pow(x, a), tolerance_for(a, 1.0))
          << "a " << a << " x " << x;
    }
  }
}

TEST(IncompleteBeta, IntegerShapesAreBinomialTails) {
  // I_0.4(2, 3) = P(Binomial(4, 0.4) >= 2) = 6(.4^2)(.6^2) + 4(.4^3)(.6) + .4^4 = 0.5248.
  EXPECT_NEAR(regularized_incomplete_beta(0.4, 2.0, 3.0), 0.5248, 1e-14);
}

TEST(IncompleteBeta, ArcsineLaw) {
  // I_x(1/2, 1/2) = (2 / pi) asin(sqrt x).
  for (const double x : {1e-8, 0.01, 0.3, 0.77, 0.999}) {
    EXPECT_NEAR(regularized_incomplete_beta(x, 0.5, 0.5),
                2.0 / std::numbers::pi * std::asin(std::sqrt(x)), 1e-13)
        << x;
  }
}

TEST(IncompleteBeta, LargeEqualShapesNearTheNormalLaw) {
  // Beta(50001, 50001): mean 1/2, standard deviation sqrt(1 / (4 * 100003)); one
  // deviation above the mean the normal law gives 0.841345 (skewness 0 here).
  const double sd = std::sqrt(1.0 / (4.0 * 100003.0));
  EXPECT_NEAR(regularized_incomplete_beta(0.5 + sd, 50001.0, 50001.0), 0.841345, 1e-5);
}

TEST(IncompleteBeta, Ends) {
  EXPECT_EQ(regularized_incomplete_beta(0.0, 2.0, 3.0), 0.0);
  EXPECT_EQ(regularized_incomplete_beta(-1.0, 2.0, 3.0), 0.0);
  EXPECT_EQ(regularized_incomplete_beta(1.0, 2.0, 3.0), 1.0);
}

}  // namespace
}  // namespace propbf::numlib::testing
