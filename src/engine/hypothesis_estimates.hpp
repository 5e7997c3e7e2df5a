// A hypothesis's estimates of the proportions: its restricted chain on the
// coordinates it samples (one per item, or with equalities one per free group), spread
// back over the items.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sampling/estimates.hpp"
#include "sampling/sampler.hpp"
#include "engine/aggregated_items.hpp"
#include "engine/posterior_draws.hpp"
#include "engine/results.hpp"
#include "problem/prepare.hpp"

namespace propbf::evaluate {

// What a hypothesis's estimate chain samples (under the Prepared's chain_restrictions()):
// the start point and beta posteriors of its coordinates, and per item the coordinate
// that stands for it (kFixedItem: none, the item is held at fixed_value[item]).
struct SampledCoordinates {
  static constexpr std::size_t kFixedItem = static_cast<std::size_t>(-1);
  std::vector<double> start;
  std::vector<double> shape_a;
  std::vector<double> shape_b;
  std::vector<std::size_t> coordinate_of_item;
  std::vector<double> fixed_value;  // per item; read where coordinate_of_item is kFixedItem
  std::vector<bool> complement;     // per item: 1 minus its coordinate (empty: none is)
  // With ties on categories of larger items (CollapsedHypothesis): per item, offset +
  // scale times its coordinate; and per item of the problem whether it is so reduced.
  std::vector<double> offset;
  std::vector<double> scale;
  std::vector<bool> reduced_item;
  std::vector<std::size_t> item_first;  // per item its first parameter (CollapsedHypothesis)
  // The aggregated items (CollapsedHypothesis): their other categories are (1 - theta_c)
  // times a Dirichlet share no chain draws (aggregated_items.hpp).
  std::vector<AggregatedItem> aggregated;
  // Per item kept as a merged Dirichlet (CollapsedHypothesis::merged; empty: none is).
  std::vector<MergedDirichlet> merged;
  // The items coupled on their simplexes and the parameters their remainders hold
  // (CollapsedHypothesis::coupled and remainder_of; empty: none is).
  std::vector<CoupledItem> coupled;
  std::vector<std::size_t> remainder_of;
};

// The simplexes of a hypothesis with equalities over its free groups (coordinate g of a
// coupled item's [begin, end) is coupled with the others there), or null when no item is
// coupled (CollapsedHypothesis::coupled).
std::shared_ptr<const Simplex> collapsed_simplex(const CollapsedHypothesis& collapsed);

// Without equalities one coordinate per item, with the hypothesis's own restrictions and
// start; with them one per free group (its pooled posterior, the collapsed restrictions,
// the start its items share), and items tied to a point value held there.
SampledCoordinates sampled_coordinates(const HypothesisResult& result, const Prepared& read,
                                       const std::vector<double>& posterior_a, const std::vector<double>& posterior_b);

// The estimates per item from those per coordinate: a fixed item has its value with sd 0.
std::vector<ItemEstimate> item_estimates(const SampledCoordinates& sampled, const std::vector<ItemEstimate>& per_coordinate,
                                         const std::vector<std::string>& names);

// A hypothesis's estimate chain, set up at the niter its factors settled at, and the
// estimates per item it gives once run there: taken as soon as the chain ends, which
// then frees what it kept (the chains of many hypotheses never hold their draws at once).
class HypothesisEstimates {
 public:
  // `read` must outlive it (the chain reads its rows in place). simplex: the items'
  // (null: none), used without equalities. With `predictive` (which must outlive it),
  // the chain's sweeps also give the hypothesis's posterior predictive p-value and, with
  // keep_samples, its samples (posterior_draws.hpp).
  HypothesisEstimates(const HypothesisResult& result, const Prepared& read, const std::vector<double>& posterior_a,
                      const std::vector<double>& posterior_b, StreamSeed seed, std::uint64_t key,
                      std::shared_ptr<const Simplex> simplex = nullptr,
                      std::size_t truncated = static_cast<std::size_t>(-1), const PredictiveItems* predictive = nullptr,
                      bool keep_samples = false, const std::optional<std::int64_t>& thin = std::nullopt,
                      std::shared_ptr<const SparseRestrictions> sparse = nullptr);
  HypothesisEstimates(const HypothesisEstimates&) = delete;
  HypothesisEstimates& operator=(const HypothesisEstimates&) = delete;

  std::int64_t sweeps() const { return chain_.sweeps(); }
  std::int64_t niter() const { return chain_.niter(); }
  void run_to(std::int64_t sweeps);
  std::size_t restrictions() const { return restrictions_.size(); }
  // Once run to niter.
  std::vector<ItemEstimate> estimates(const std::vector<std::string>& names);
  // Once run to niter: per item of the simplex's items, its last category's (zeros for
  // an item no restriction involves; empty without a simplex). With ties on categories of
  // larger items, one per item of more than two categories (zeros for an item not reduced).
  std::vector<ItemEstimate> remainders();
  // Once run to niter, with `predictive`: the posterior predictive p-value, and the
  // samples (taken once; empty without keep_samples).
  double ppp();
  std::vector<double> take_samples();

 private:
  // remainders() with ties on categories of larger items.
  std::vector<ItemEstimate> reduced_remainders() const;
  // aggregated_ from the chain's estimates and shares_.
  void aggregate_estimates();
  SampledCoordinates sampled_;
  std::shared_ptr<const Simplex> simplex_;
  const std::vector<Restriction>& restrictions_;  // the Prepared's, which outlives this
  EstimateChain chain_;
  std::unique_ptr<PosteriorDraws> draws_;
  std::unique_ptr<AggregatedShares> shares_;  // with aggregated items, until the chain ends
  std::optional<std::vector<ItemEstimate>> per_coordinate_;
  // Per aggregated item, per category: its estimate, once the chain ends.
  std::vector<std::vector<ItemEstimate>> aggregated_;
};

}  // namespace propbf::evaluate
