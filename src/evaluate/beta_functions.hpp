// Beta distribution functions in double precision (regularized incomplete beta and its
// inverses) and the draws built on them.
#pragma once

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

// A Beta(a, b) deviate for a, b >= 1 from the ratio of two gamma deviates
// (Marsaglia and Tsang's method with normals by the polar method); takes its uniforms
// from `next_uniform`.
template <class Uniform>
double beta_deviate(double a, double b, Uniform& next_uniform);

}  // namespace propbf::evaluate

#include "evaluate/beta_deviate.ipp"
