// `propbf plan`: data sets drawn from a truth at each size of a design, each evaluated
// for every hypothesis of the plan, with each hypothesis's complexity found once.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/chains.hpp"
#include "engine/run_control.hpp"
#include "input/plan_file.hpp"
#include "problem/prepare.hpp"

namespace propbf::evaluate {

// One data set: where it stands in the grid, its successes per item, and per hypothesis
// the factor the plan counts (PlanDesign::factor), the posterior model probability among
// the plan's hypotheses (with one hypothesis: against its complement) and the sweeps per
// stage its chains ran (0: no chain, the factor is exact).
struct DatasetRecord {
  std::size_t size = 0;
  std::int64_t dataset = 0;
  std::vector<std::int64_t> successes;
  // A plan of items of categories: per item its counts per category (successes empty).
  std::vector<std::vector<std::int64_t>> counts{};
  std::vector<double> factors;
  std::vector<double> pmp;
  std::vector<std::int64_t> sweeps;
  // Per hypothesis, where the factor may lie: exp(ln factor -+ 1.96 s), s^2 the summed
  // variances of the logarithms of its estimated parts (fits and complexities, by the
  // delta method for the complement's); the factor itself twice when it is exact.
  std::vector<std::array<double, 2>> intervals;
};

// A hypothesis's complexity, once per plan: exact where known (an order on items with
// exchangeable priors, or no restriction left after its equalities), otherwise from its
// stage chains under the prior, with the variance of its logarithm.
struct PlanComplexity {
  double value = 1.0;
  double log_variance = 0.0;
  bool exact = true;
};

class Planner {
 public:
  // Prepares every hypothesis and finds each one's start point and complexity. Throws
  // InputError for a hypothesis the engine refuses (with its place).
  Planner(const PlanFile& plan, const StopCheck& stop = {});

  // Data set `dataset` (0-based) of size `size` (0-based): the same numbers wherever and
  // beside whatever it is computed, keyed by (seed, the size's trials, dataset).
  DatasetRecord evaluate(std::size_t size, std::int64_t dataset) const;

  const std::vector<PlanComplexity>& complexities() const { return complexities_; }

 private:
  std::vector<double> draw_from_hypothesis(CounterStream& stream) const;
  std::vector<double> draw_truth(CounterStream& stream) const;
  // Items of categories: per item its K true category proportions, then its counts.
  std::vector<std::vector<double>> draw_category_truth(CounterStream& stream) const;
  std::vector<std::vector<std::int64_t>> draw_counts(const std::vector<std::int64_t>& trials,
                                                     CounterStream& stream) const;

  PlanFile plan_;
  std::vector<Prepared> prepared_;  // on the items without counts: restrictions and groups
  std::vector<std::vector<double>> starts_;  // over each hypothesis's chain coordinates
  std::vector<std::uint64_t> keys_;
  std::vector<PlanComplexity> complexities_;
  std::vector<TruncatedBeta> truth_draws_;  // per item with a beta truth
  // With from_hypothesis: its prior draws and restrictions over its coordinates.
  std::vector<TruncatedBeta> truth_prior_draws_;
  std::shared_ptr<const SparseRestrictions> truth_sparse_;
  std::size_t truth_hypothesis_ = 0;        // with from_hypothesis: its index
  std::size_t against_ = 0;                 // PlanFactor::Hypothesis: the index set against
  // Items of categories (all of a plan's items, or none): with a Dirichlet truth, per item
  // the betas of its stick-breaking (category c: Beta(a_c, a_{c+1} + ... + a_K)); the
  // items' simplexes (null unless an item has more than two categories).
  bool categorical_ = false;
  std::vector<std::vector<TruncatedBeta>> truth_sticks_;
  std::shared_ptr<const Simplex> simplex_;
};

// The variance of ln(share product) of stages with these counts at niter sweeps:
// sum over stages of (1 - p) / (p n_eff), p = hits / niter; infinite when a stage has
// no hit.
double log_share_variance(const std::vector<StageCount>& stages, std::int64_t niter);

}  // namespace propbf::evaluate
