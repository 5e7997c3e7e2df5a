// `propbf evaluate` from problem to results: the hypotheses parsed, a starting point
// found for each, the complexity and fit chains run, the Bayes factors with their two
// intervals and the posterior model probabilities formed.
#pragma once

#include <string>
#include <vector>

#include "engine/complexity_cache.hpp"
#include "engine/replications.hpp"
#include "engine/results.hpp"
#include "engine/run_control.hpp"
#include "problem/prepare.hpp"
#include "problem/problem.hpp"

namespace propbf::evaluate {

// Throws InputError (exit status 2) for a mistake in a hypothesis (message with file,
// line and column) and for a hypothesis without interior point (naming the restrictions
// that cannot hold together).
//
// The stage chains (of all hypotheses and both phases) and the replications of each
// stage run on up to `threads` threads (below 1: one per processor). Every chain and
// every block of replications has its own stream and the results are combined in a
// fixed order, so the evaluation is the same, bit for bit, for every number of threads.
//
// In precision mode (settings.precision) each hypothesis starts at settings.niter sweeps
// per stage; while its relative_half_width exceeds the precision, its chains are
// continued to twice the sweeps (the last step to max_niter at most). The result for a
// hypothesis that stopped at n sweeps is the one a run with niter = n gives.
//
// With progress_line, a run that lasts more than a second shows where its chains are
// on standard error when that is a terminal (cleared at the end).
//
// With a cache, a hypothesis whose sampled complexity the cache holds (same key:
// complexity_cache.hpp) takes its stage counts from there instead of running its
// complexity chains, and one computed is added to it: the results are the same bytes
// either way. Not in precision mode without settings.complexity_niter.
Evaluation evaluate_problem(const CountsProblem& problem, int threads = 0, bool progress_line = false,
                            ComplexityCache* cache = nullptr);

Evaluation evaluate_problem(const CountsProblem& problem, int threads, const RunControl& control);

// The number of threads `threads` < 1 stands for: the processors available.
int default_thread_count();

}  // namespace propbf::evaluate
