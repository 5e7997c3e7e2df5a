#include "sampling/predictive.hpp"

#include <boost/random/binomial_distribution.hpp>

#include <limits>

namespace propbf::evaluate {

std::int64_t binomial_draw(std::int64_t n, double p, CounterStream& stream) {
  if (n <= 0 || !(p > 0.0)) return 0;
  if (!(p < 1.0)) return n;
  boost::random::binomial_distribution<std::int64_t, double> binomial(n, p);
  return binomial(stream);
}

void multinomial_draw(std::int64_t n, const double* theta, std::size_t categories, CounterStream& stream,
                      std::int64_t* counts) {
  if (categories == 0) return;
  // tail[c] = theta_c + ... + theta_{K-1}, summed from the last category backwards.
  std::vector<double> tail(categories + 1, 0.0);
  for (std::size_t c = categories; c-- > 0;) tail[c] = tail[c + 1] + theta[c];
  std::int64_t left = n;
  for (std::size_t c = 0; c + 1 < categories; ++c) {
    const double p = tail[c] > 0.0 ? theta[c] / tail[c] : 0.0;
    counts[c] = binomial_draw(left, p, stream);
    left -= counts[c];
  }
  counts[categories - 1] = left;
}

double pearson_item(const std::int64_t* counts, const double* theta, std::size_t categories) {
  std::int64_t n = 0;
  for (std::size_t c = 0; c < categories; ++c) n += counts[c];
  if (n == 0) return 0.0;
  const auto trials = static_cast<double>(n);
  double sum = 0.0;
  for (std::size_t c = 0; c < categories; ++c) {
    const double expected = trials * theta[c];
    const auto observed = static_cast<double>(counts[c]);
    if (!(expected > 0.0)) {
      if (counts[c] != 0) return std::numeric_limits<double>::infinity();
      continue;
    }
    const double deviation = observed - expected;
    sum += deviation * deviation / expected;
  }
  return sum;
}

}  // namespace propbf::evaluate
