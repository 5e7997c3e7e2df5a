// Gamma and beta deviates for shapes >= 1 (included from beta_functions.hpp).
#include <boost/random/normal_distribution.hpp>
#include <cmath>

namespace propbf::evaluate {
namespace detail {

// Gamma(shape, 1) for shape >= 1, Marsaglia and Tsang (2000), with d = shape - 1/3 and
// c = 1 / sqrt(9 d): propose d (1 + c z)^3 for a standard normal z (the ziggurat of
// Boost.Random, from the stream's words) and accept when u < 1 - 0.0331 z^4 (a squeeze
// that spares the logarithms in most draws) or else ln u < z^2 / 2 + d - d w + d ln w
// with w = (1 + c z)^3 > 0.
struct GammaShape {
  double d = 0.0;
  double c = 0.0;

  GammaShape() = default;
  explicit GammaShape(double shape) : d(shape - 1.0 / 3.0), c(1.0 / std::sqrt(9.0 * (shape - 1.0 / 3.0))) {}

  double operator()(CounterStream& stream) const {
    boost::random::normal_distribution<double> normal;
    while (true) {
      const double z = normal(stream);
      const double base = 1.0 + c * z;
      if (base <= 0.0) continue;
      const double w = base * base * base;
      const double u = stream.next();
      const double z2 = z * z;
      if (u < 1.0 - 0.0331 * (z2 * z2)) return d * w;
      if (std::log(u) < 0.5 * z2 + d - d * w + d * std::log(w)) return d * w;
    }
  }
};

}  // namespace detail

// Beta(a, b) deviates for fixed shapes a, b >= 1: u^(1/a) when b = 1 (the distribution
// function is x^a), 1 - u^(1/b) when a = 1, u when both are 1, and otherwise X / (X + Y)
// for gamma deviates X ~ Gamma(a), Y ~ Gamma(b).
class BetaDeviate {
 public:
  BetaDeviate() = default;
  BetaDeviate(double a, double b) : a_(a), b_(b) {
    if (a != 1.0 && b != 1.0) {
      gamma_a_ = detail::GammaShape(a);
      gamma_b_ = detail::GammaShape(b);
    }
  }

  double operator()(CounterStream& stream) const {
    if (b_ == 1.0) return a_ == 1.0 ? stream.next() : std::pow(stream.next(), 1.0 / a_);
    if (a_ == 1.0) return 1.0 - std::pow(stream.next(), 1.0 / b_);
    const double x = gamma_a_(stream);
    const double y = gamma_b_(stream);
    return x / (x + y);
  }

 private:
  double a_ = 1.0;
  double b_ = 1.0;
  detail::GammaShape gamma_a_;
  detail::GammaShape gamma_b_;
};

}  // namespace propbf::evaluate
