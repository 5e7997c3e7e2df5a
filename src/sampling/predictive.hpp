// The pieces of a posterior predictive check: exact binomial and multinomial draws on a
// counter-based stream, and Pearson's X^2 discrepancy of counts against probabilities.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sampling/stream.hpp"

namespace propbf::evaluate {

// A Binomial(n, p) draw, exact: Boost.Random's binomial_distribution (inversion for
// n min(p, 1 - p) < 11, otherwise the BTRD rejection method; both exact up to rounding)
// fed by the stream's 64-bit words. p <= 0 gives 0 and p >= 1 gives n without a word
// (n <= 0 gives 0).
std::int64_t binomial_draw(std::int64_t n, double p, CounterStream& stream);

// Multinomial(n, theta[0 .. K-1]) into counts[0 .. K-1], as successive conditional
// binomials: count c ~ Binomial(n - (counts before c), theta_c / (theta_c + ... + theta_{K-1})),
// the tail sums formed from the last category backwards, the last category taking what
// is left. theta need not sum exactly to 1 (the tails carry the rounding).
void multinomial_draw(std::int64_t n, const double* theta, std::size_t categories, CounterStream& stream,
                      std::int64_t* counts);

// Pearson's X^2 of one item's counts against its probabilities, n the sum of the
// counts: sum over categories of (y_c - n theta_c)^2 / (n theta_c), in category order.
// An item with n = 0 contributes 0; a category of expectation n theta_c = 0 contributes
// 0 where its count is 0 and +infinity where it is not.
double pearson_item(const std::int64_t* counts, const double* theta, std::size_t categories);

}  // namespace propbf::evaluate
