// Gamma and beta deviates for shapes >= 1 (included from beta_functions.hpp).
#include <cmath>

namespace propbf::evaluate {
namespace detail {

// A standard normal by Marsaglia's polar method: (v1, v2) uniform in the square
// (-1, 1)^2, accepted inside the unit circle (s < 1, s > 0); returns v1 sqrt(-2 ln s / s).
template <class Uniform>
double normal_deviate(Uniform& next_uniform) {
  while (true) {
    const double v1 = 2.0 * next_uniform() - 1.0;
    const double v2 = 2.0 * next_uniform() - 1.0;
    const double s = v1 * v1 + v2 * v2;
    if (s < 1.0 && s > 0.0) return v1 * std::sqrt(-2.0 * std::log(s) / s);
  }
}

// Gamma(shape, 1) for shape >= 1, Marsaglia and Tsang (2000): d = shape - 1/3,
// c = 1 / sqrt(9 d); propose d (1 + c z)^3 for a normal z and accept when
// ln u < z^2 / 2 + d - d w + d ln w with w = (1 + c z)^3 > 0.
template <class Uniform>
double gamma_deviate(double shape, Uniform& next_uniform) {
  const double d = shape - 1.0 / 3.0;
  const double c = 1.0 / std::sqrt(9.0 * d);
  while (true) {
    const double z = normal_deviate(next_uniform);
    const double base = 1.0 + c * z;
    if (base <= 0.0) continue;
    const double w = base * base * base;
    const double u = next_uniform();
    if (std::log(u) < 0.5 * z * z + d - d * w + d * std::log(w)) return d * w;
  }
}

}  // namespace detail

template <class Uniform>
double beta_deviate(double a, double b, Uniform& next_uniform) {
  const double x = detail::gamma_deviate(a, next_uniform);
  const double y = detail::gamma_deviate(b, next_uniform);
  return x / (x + y);
}

}  // namespace propbf::evaluate
