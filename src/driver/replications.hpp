// The replications behind the intervals of the two Bayes factors.
//
// Each of the kReplications replications redraws every stage share from the beta
// posterior its hit count implies, complexity before fit, stage by stage; the redrawn
// shares multiply into a replicated complexity and fit and so into the two replicated
// factors. The interval ends are the values at positions kLowerPosition and
// kUpperPosition of the ascending replicated factors.
#pragma once

#include <cstdint>
#include <memory>

#include "concurrency/executor.hpp"
#include "driver/problem.hpp"
#include "random/beta_sequence.hpp"

namespace propbf::driver {

using model::kLowerPosition;  // order statistics, counted from 1
using model::kUpperPosition;

struct BayesFactors {
  float versus_unconstrained;  // f / c
  float versus_complement;     // (f / c) / ((1 - f) / (1 - c))
  float lu, uu;                // interval against the unconstrained alternative
  float lc, uc;                // interval against the complement
};

// The shape parameters of one replicated stage share after `hits` hit sweeps out of
// niter: (1 + hits, 1 + (niter - hits)). A float sum of 1/niter terms can end above
// niter; such a count is taken as niter, so the draw stays a proper beta(1 + niter, 1).
void replication_shapes(float hits, int32_t niter, float& pin, float& qin);

// Draws the kReplications replications (replication, stage, complexity before fit),
// sorts the replicated factors and fills `factors`. Where a point factor is not a
// number, both ends of its interval are that same value (the draws are made all the
// same, so a shape the beta generator rejects still ends the run there). The three arrays
// of kReplications values (the literal path: five) are obtained here and released on return; a run that ends
// earlier never touches them. Ends the run with the allocation report when they cannot be obtained.
// Attempts' logarithms in `ahead` (see replication_logs_ahead) are taken where they fit.
// With an `executor` of two threads, the draws split between the calling thread and the
// executor's helper.
void replicate_factors(const Problem& problem, Workspace& workspace, float c, float f,
                       BayesFactors& factors, const numlib::AttemptLogsAhead* ahead = nullptr,
                       concurrency::Executor* executor = nullptr);

// The plain implementation of the above, step by step as the method reads: one RNBET
// call per deviate, the shares through workspace.csamp and fsamp, and SVRGN's full sort
// of both replicated factors. The reference for the program's path: the same factors,
// the same bits, the generator left at the same place.
void literal_replicate_factors(const Problem& problem, Workspace& workspace, float c, float f,
                               BayesFactors& factors);

// The replicated complexity and fit of all kReplications replications into
// ctot[0 .. kReplications-1] and ftot[...] (two separate arrays), drawn in the method's
// order (replication, stage, complexity before fit). The first part of
// replicate_factors. With an `executor` of two threads the log-logistic attempts split
// between its two threads (the same results).
void draw_replicated_shares(const Problem& problem, const Workspace& workspace, float* ctot, float* ftot,
                            const numlib::AttemptLogsAhead* ahead = nullptr,
                            concurrency::Executor* executor = nullptr);

// Above this many stages the replications take the plain loop (see replicate_factors),
// which neither splits nor uses attempts' logarithms made ahead.
inline constexpr int32_t kArrangedStageLimit = 1 << 16;

// Room for the attempts' logarithms of the replications, to be made while the sweeps
// leave a thread waiting (run_phases), from where the generator will stand when the
// replications start (after the two phases' 2 x phase_deviates uniforms). Null where
// they cannot be used: no restriction, more stages than the arranged draws take, or a
// sequence not fixed yet.
std::unique_ptr<numlib::AttemptLogsAhead> replication_logs_ahead(const Problem& problem);

}  // namespace propbf::driver
