// The regularized incomplete beta function I_x(a, b), in double, as the reference
// distribution function of the statistical tests.
//
// I_x(a, b) = x^a (1-x)^b / (a B(a, b)) * CF, with the continued fraction
// CF = 1 / (1 + d1 / (1 + d2 / (1 + ...))),
//   d(2m+1) = -(a+m)(a+b+m) x / ((a+2m)(a+2m+1)),  d(2m) = m(b-m) x / ((a+2m-1)(a+2m)),
// evaluated by the modified Lentz method. It converges quickly for
// x < (a+1)/(a+b+2); above that the symmetry I_x(a, b) = 1 - I_(1-x)(b, a) is used.
#pragma once

#include <cmath>

namespace propbf::numlib::testing {

inline double incomplete_beta_fraction(double x, double a, double b) {
  constexpr double tiny = 1e-300;
  constexpr double tolerance = 1e-15;
  const double qab = a + b;
  const double qap = a + 1.0;
  const double qam = a - 1.0;
  double c = 1.0;
  double d = 1.0 - qab * x / qap;
  if (std::fabs(d) < tiny) d = tiny;
  d = 1.0 / d;
  double h = d;
  for (int m = 1; m <= 1000000; ++m) {
    const int m2 = 2 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < tiny) d = tiny;
    c = 1.0 + aa / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < tiny) d = tiny;
    c = 1.0 + aa / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1.0) < tolerance) break;
  }
  return h;
}

inline double log_beta_function(double a, double b) {
  return std::lgamma(a) + std::lgamma(b) - std::lgamma(a + b);
}

inline double regularized_incomplete_beta(double x, double a, double b) {
  if (!(x > 0.0)) return 0.0;
  if (!(x < 1.0)) return 1.0;
  const double log_front = a * std::log(x) + b * std::log1p(-x) - log_beta_function(a, b);
  const double front = std::exp(log_front);
  if (x < (a + 1.0) / (a + b + 2.0)) return front * incomplete_beta_fraction(x, a, b) / a;
  return 1.0 - front * incomplete_beta_fraction(1.0 - x, b, a) / b;
}

}  // namespace propbf::numlib::testing
