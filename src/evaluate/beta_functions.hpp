// Beta distribution functions in double precision (regularized incomplete beta and its
// inverses) and the draws built on them.
#pragma once

#include <array>

#include "evaluate/stream.hpp"

namespace propbf::evaluate {

// A draw from Beta(a, b) truncated to [low, up] (0 <= low <= up <= 1) by inversion with
// the uniform v in (0, 1): u between F(low) and F(up), then F^-1(u). When F(low) is
// above one half the complementary functions are used (1 - F and its inverse), so that
// the draw keeps its accuracy in both tails. For a = b = 1 it is low + (up - low) v.
// The result lies in [low, up]; an interval whose probability underflows to 0 is
// drawn from uniformly.
double truncated_beta(double a, double b, double low, double up, double v);

// t_{0.975}(df) / z_{0.975}: how much wider a 95% interval is when its variance is
// estimated with df degrees of freedom than when it is known (> 1, tends to 1).
double student_to_normal_ratio(double degrees_of_freedom);

}  // namespace propbf::evaluate

#include "evaluate/beta_deviate.ipp"

namespace propbf::evaluate {

// How TruncatedBeta draws from [low, up].
enum class TruncatedMethod {
  Uniform,    // a = b = 1: low + (up - low) v
  Rejection,  // Beta(a, b) deviates until one falls in [low, up]
  Envelope,   // rejection from the tangent of the log density at its highest point in [low, up]
  Inversion,  // truncated_beta
};

// Draws from one item's Beta(a, b) truncated to intervals [low, up], 0 <= low < up <= 1,
// choosing the method per interval; every method gives the truncated distribution
// exactly (up to rounding), so the choice changes the numbers drawn, not their law.
//
// - a = b = 1: Uniform.
// - a, b >= 1 (a log-concave density): Rejection when the interval holds at least
//   kRejectionMass of the distribution by the table below, else Envelope: with p the
//   point of [low, up] nearest the mode and h the log density, the proposal has density
//   proportional to exp(h(p) + h'(p) (x - p)) on [low, up] (h'(p) taken as 0 when p is
//   the mode or the slope is negligible), which lies above exp(h) since h is concave;
//   it is accepted with probability exp(h(x) - h(p) - h'(p) (x - p)).
//   Either gives up after kAttempts proposals and inverts: the result still has the
//   truncated law, since the inversion's draw is independent of the failures.
// - otherwise (a density unbounded at an end): Inversion.
//
// The distribution function is tabulated at kCells + 1 points spanning the mean plus and
// minus 12 standard deviations (within [0, 1]); the mass of an interval is read from it
// by linear interpolation, only to choose the method.
class TruncatedBeta {
 public:
  static constexpr int kCells = 128;
  static constexpr int kAttempts = 32;
  static constexpr double kRejectionMass = 0.3;

  TruncatedBeta(double a, double b);

  TruncatedMethod method(double low, double up) const;
  double draw(double low, double up, UniformStream& stream) const { return draw_with(method(low, up), low, up, stream); }
  // The draw by a given method (Rejection and Envelope only for a, b >= 1).
  double draw_with(TruncatedMethod method, double low, double up, UniformStream& stream) const;
  // The interval's probability, approximately, from the table.
  double approximate_mass(double low, double up) const;

 private:
  double approximate_cdf(double x) const;
  double log_density(double x) const;  // up to a constant
  double log_density_slope(double x) const;
  double envelope(double low, double up, UniformStream& stream) const;

  double a_;
  double b_;
  bool uniform_;
  bool log_concave_;
  double mode_ = 0.0;
  BetaDeviate untruncated_;
  double grid_low_ = 0.0;
  double grid_scale_ = 0.0;  // cells per unit of x
  std::array<double, kCells + 1> cdf_{};
};

}  // namespace propbf::evaluate
