// The facts of the model that both front ends share: how many replications bound a
// factor's Monte Carlo error, which of their ordered values are the interval's ends, and
// the two Bayes factors formed from a complexity c and a fit f.
//
// The zero-argument program forms them in single precision, `propbf evaluate` in double;
// the formulas are templates so that each keeps its own precision while the order of the
// operations stays the one written here.
#pragma once

#include <cstdint>

namespace propbf::model {

// Replications per interval; the interval ends are the kLowerPosition-th and
// kUpperPosition-th smallest replicated factors, counted from 1 (a 95 % interval).
inline constexpr std::int32_t kReplications = 100000;
inline constexpr std::int32_t kLowerPosition = 2500;
inline constexpr std::int32_t kUpperPosition = 97500;

// The factor of the hypothesis against the unconstrained alternative: f / c.
template <class Real>
Real factor_against_unconstrained(Real fit, Real complexity) {
  return fit / complexity;
}

// The factor against the complement, from the factor against the unconstrained
// alternative: (f / c) / ((1 - f) / (1 - c)).
template <class Real>
Real factor_against_complement(Real against_unconstrained, Real fit, Real complexity) {
  return against_unconstrained / ((Real{1} - fit) / (Real{1} - complexity));
}

}  // namespace propbf::model
