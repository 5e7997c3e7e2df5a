// `propbf evaluate` from problem to results: the hypotheses parsed, a starting point
// found for each, the complexity and fit chains run, the Bayes factors with their two
// intervals and the posterior model probabilities formed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "evaluate/language.hpp"
#include "evaluate/problem.hpp"
#include "evaluate/sampler.hpp"
#include "evaluate/start_point.hpp"

namespace propbf::evaluate {

// Replications per interval; the interval ends are the 2500th and 97500th smallest
// replicated factors (counted from 1).
inline constexpr std::int64_t kReplications = 100000;
inline constexpr std::int64_t kLowerPosition = 2500;
inline constexpr std::int64_t kUpperPosition = 97500;

using Interval = std::array<double, 2>;

struct HypothesisResult {
  std::string name;
  std::string text;
  std::vector<Restriction> restrictions;
  StartPoint start;
  std::vector<StageCount> complexity_stages;
  std::vector<StageCount> fit_stages;
  double complexity = 0.0;  // product of the stage shares hits / niter
  double fit = 0.0;
  double bf_unconstrained = 0.0;  // fit / complexity
  double bf_complement = 0.0;     // (fit / complexity) / ((1 - fit) / (1 - complexity))
  // Intervals from the replications: "corrected" redraws each stage share from
  // Beta(1 + share n_eff, 1 + (1 - share) n_eff) with the stage's effective sweeps n_eff;
  // "independent" treats the sweeps as independent (n_eff = niter).
  Interval bf_unconstrained_interval{};
  Interval bf_unconstrained_interval_independent{};
  Interval bf_complement_interval{};
  Interval bf_complement_interval_independent{};
  double pmp = 0.0;                     // among the listed hypotheses (or H and its complement)
  double pmp_with_unconstrained = 0.0;  // among the listed hypotheses and the unconstrained one
  double pmp_complement = 0.0;          // one hypothesis only: its complement's share
};

struct Evaluation {
  Problem problem;
  std::vector<HypothesisResult> hypotheses;
  double pmp_unconstrained = 0.0;  // the unconstrained hypothesis's share beside the listed ones
};

// Throws InputError (exit status 2) for a mistake in a hypothesis (message with file,
// line and column) and for a hypothesis without interior point (naming the restrictions
// that cannot hold together).
Evaluation evaluate_problem(const Problem& problem);

}  // namespace propbf::evaluate
