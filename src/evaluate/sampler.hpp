// Stage-wise Gibbs estimation of the share of a product of beta distributions in which
// a chain of linear restrictions holds, in double precision.
//
// Stage t (t = 1 ... T) draws, one item at a time in item order, from the distribution
// truncated to the region where restrictions 1 ... t-1 hold, starting every stage from
// the same interior point; after each sweep it counts a hit when restrictions 1 ... t
// all hold (strictly). The share is the product of the T stage shares hits / niter.
// Every sweep counts (no burn-in, no thinning).
#pragma once

#include <cstdint>
#include <vector>

#include "evaluate/language.hpp"
#include "evaluate/stream.hpp"

namespace propbf::evaluate {

struct StageCount {
  std::int64_t hits = 0;
  // The effective number of independent sweeps, from the hit sequence by batch means:
  // B = the integer cube root of niter batches of m = floor(niter / B) sweeps (the last
  // niter - B m sweeps are not batched), p = the batched hit share,
  // sigma^2 = m / (B - 1) * sum_b (batch share_b - p)^2, and
  // effective = niter * p (1 - p) / sigma^2 / (t / z)^2, at most niter, where
  // t / z = t_0.975(B - 1) / z_0.975 widens the interval for the estimated variance.
  // It is niter when the hit sequence has no variance (all hits or none) or when B < 2.
  double effective_sweeps = 0.0;
};

struct ChainSettings {
  std::int64_t niter = 0;
  std::uint64_t seed = 0;
  std::uint64_t hypothesis = 0;  // index in file order: part of every stream's key
  Phase phase = Phase::ComplexitySweeps;
};

// shape_a[j], shape_b[j]: item j's beta distribution; start: inside every restriction.
// The stream of stage t is UniformStream(seed, hypothesis, phase, t), one deviate per
// item per sweep.
std::vector<StageCount> run_stage_chain(const std::vector<Restriction>& restrictions, const std::vector<double>& start,
                                        const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                                        const ChainSettings& settings);

// Effective sweeps of a 0/1 sequence by batch means, as described for StageCount.
double batch_means_effective_sweeps(const std::vector<std::int64_t>& batch_hits, std::int64_t batch_size,
                                    std::int64_t niter);

}  // namespace propbf::evaluate
