// The stage chains of a run: set up per hypothesis, run together in rounds on the
// run's threads, their counts turned into the hypothesis's complexity, fit and factors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sampling/beta_functions.hpp"
#include "engine/hypothesis_estimates.hpp"
#include "engine/progress.hpp"
#include "engine/results.hpp"
#include "sampling/sampler.hpp"
#include "problem/prepare.hpp"
#include "problem/problem.hpp"

namespace propbf::evaluate {

// The free parameters' names and beta shapes under the prior and the posterior (one
// per binomial item, K - 1 per categorical item: categories.hpp), their truncated draws
// (shared by the chains of every hypothesis without equalities) and the items'
// simplexes (null unless an item has more than two categories).
struct ItemShapes {
  std::vector<std::string> names;
  std::vector<double> prior_a;
  std::vector<double> prior_b;
  std::vector<double> posterior_a;
  std::vector<double> posterior_b;
  std::shared_ptr<const std::vector<TruncatedBeta>> prior_draws;
  std::shared_ptr<const std::vector<TruncatedBeta>> posterior_draws;
  std::shared_ptr<const Simplex> simplex;
};

ItemShapes item_shapes(const CountsProblem& problem);

// The key of every stream of a hypothesis (its stage chains, replications and estimate
// chain): a 64-bit hash of what the hypothesis is, so that its numbers do not depend on
// which hypotheses stand beside it or in what order. See chains.cpp.
std::uint64_t hypothesis_key(const Prepared& read);
// The same, with the items' simplexes (when not null) hashed after it.
std::uint64_t hypothesis_key(const Prepared& read, const Simplex* simplex);

// What the chains of one hypothesis and phase are made from, kept so that a rare
// stage's levels (rare_stages.hpp) can be given chains of their own after the set-up.
struct PhaseChainInputs {
  std::vector<Restriction> restrictions;  // the chains' restrictions, over `space` coordinates
  std::size_t space = 0;
  std::vector<double> start;
  std::vector<double> shape_a;
  std::vector<double> shape_b;
  std::shared_ptr<const std::vector<TruncatedBeta>> draws;
  std::shared_ptr<const BandMoves> bands;
  std::shared_ptr<const Simplex> simplex;
  ChainSettings settings;
};

// A split stage's chains beyond its own: levels 2 ... L (rare_stages.hpp), and the bounds
// of all L levels.
struct StageSplit {
  std::vector<double> bounds;
  std::vector<StageChain> chains;
};

// The chains of one hypothesis, stage t at index t - 1.
struct HypothesisChains {
  std::vector<StageChain> complexity;
  std::vector<StageChain> fit;
  // Per stage (empty: no stage of the phase split).
  std::vector<StageSplit> complexity_split;
  std::vector<StageSplit> fit_split;
  // Null for a phase without chains and for grouped stages (never split).
  std::shared_ptr<const PhaseChainInputs> complexity_inputs;
  std::shared_ptr<const PhaseChainInputs> fit_inputs;
  // What the estimate chain truncates its draws to (EstimateChainSettings::truncated):
  // for a grouped hypothesis, the last fit stage's restrictions where its pilot held the
  // rest in at least kEstimateShare of its sweeps; otherwise every restriction.
  std::size_t estimate_truncation = static_cast<std::size_t>(-1);
  // The hypothesis's restrictions as every chain of it reads them, the estimate chain's too.
  std::shared_ptr<const SparseRestrictions> sparse;
};
inline constexpr double kEstimateShare = 0.1;

// The stage ends of the hypothesis's complexity chains (each stage's last restriction,
// counted from 1), as set_up_chains chooses them: stage_ends over the chains'
// restrictions and coordinates, or for a grouped hypothesis the ends its complexity
// pilots choose from `start` on streams keyed by `seed` and `key` (pilot.hpp). With
// `sparse` not null, the shared rows the pilots read are left there for set_up_chains.
std::vector<std::size_t> complexity_stage_ends(const Prepared& read, const std::vector<double>& start,
                                               const ItemShapes& items, StreamSeed seed, std::uint64_t key,
                                               std::shared_ptr<const SparseRestrictions>* sparse = nullptr);

// A hypothesis's complexity chains (under the prior) and fit chains (under the
// posterior), one per restriction the chains read, all from `start` (over the chains'
// coordinates); their streams are keyed by `key`. With `complexity_exact` (or a
// complexity reused, whose counts are given), no complexity chain (the fit chains are
// the same); with `fit_exact` too, no chain at all. `complexity_ends`, when not null,
// are the complexity's stage ends complexity_stage_ends gave (its pilots are not run
// again), and `sparse`, when not null, the shared rows it left (not built again).
HypothesisChains set_up_chains(const Prepared& read, const std::vector<double>& start, const ItemShapes& items,
                               StreamSeed seed, std::uint64_t key, bool complexity_exact = false,
                               bool fit_exact = false, const std::vector<std::size_t>* complexity_ends = nullptr,
                               std::shared_ptr<const SparseRestrictions> sparse = nullptr);

// The complexity of the hypothesis where it is known exactly (exact_order_complexity
// over the chains' restrictions and the prior shapes of their coordinates), else nullopt;
// its fit likewise (posterior shapes), asked only where the complexity is exact.
std::optional<double> known_complexity(const Prepared& read, const ItemShapes& items);
std::optional<double> known_fit(const Prepared& read, const ItemShapes& items);

// One round: continues the stage chains of the hypotheses listed in `which` to their
// result's niter and every estimate chain set up (not null) to its own niter, all on up
// to `threads` threads, the dearest first. Each chain has its own stream, so what it
// counts does not depend on where or beside what it runs. Throws Cancelled when the
// progress's flag is raised.
void run_chains(std::vector<HypothesisChains>& chains, std::vector<std::unique_ptr<HypothesisEstimates>>& estimates,
                const std::vector<HypothesisResult>& results, const std::vector<std::size_t>& which,
                const ItemShapes& items, int threads, Progress& progress);

// The stage counts of the chains at the result's niter, and the complexity, fit and
// factors they give.
void count_stages(HypothesisResult& result, const HypothesisChains& chains);

}  // namespace propbf::evaluate
