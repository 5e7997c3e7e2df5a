// The only file that includes Boost.Math. Double precision throughout: no promotion to
// long double (whose width differs between machines), errors reported through errno
// rather than exceptions (the arguments are checked before).
#include "evaluate/beta_functions.hpp"

#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <boost/math/special_functions/beta.hpp>

namespace propbf::evaluate {
namespace {

using Policy = boost::math::policies::policy<
    boost::math::policies::promote_double<false>, boost::math::policies::promote_float<false>,
    boost::math::policies::domain_error<boost::math::policies::errno_on_error>,
    boost::math::policies::overflow_error<boost::math::policies::errno_on_error>,
    boost::math::policies::evaluation_error<boost::math::policies::errno_on_error>>;

}  // namespace

double truncated_beta(double a, double b, double low, double up, double v) {
  if (!(low < up)) return low;
  double x;
  if (a == 1.0 && b == 1.0) {
    x = low + (up - low) * v;
  } else {
    const double lower_tail_low = boost::math::ibeta(a, b, low, Policy());
    if (lower_tail_low <= 0.5) {
      const double lower_tail_up = boost::math::ibeta(a, b, up, Policy());
      if (!(lower_tail_up > lower_tail_low)) {
        x = low + (up - low) * v;
      } else {
        x = boost::math::ibeta_inv(a, b, lower_tail_low + (lower_tail_up - lower_tail_low) * v, Policy());
      }
    } else {
      // Upper tail: Q(x) = 1 - F(x) falls from Q(low) to Q(up).
      const double upper_tail_low = boost::math::ibetac(a, b, low, Policy());
      const double upper_tail_up = boost::math::ibetac(a, b, up, Policy());
      if (!(upper_tail_low > upper_tail_up)) {
        x = low + (up - low) * v;
      } else {
        x = boost::math::ibetac_inv(a, b, upper_tail_low - (upper_tail_low - upper_tail_up) * v, Policy());
      }
    }
  }
  return std::clamp(x, low, up);
}

double student_to_normal_ratio(double degrees_of_freedom) {
  const double t = boost::math::quantile(boost::math::students_t_distribution<double, Policy>(degrees_of_freedom), 0.975);
  const double z = boost::math::quantile(boost::math::normal_distribution<double, Policy>(), 0.975);
  return t / z;
}

}  // namespace propbf::evaluate
