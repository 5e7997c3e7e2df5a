// What an evaluation gives: per hypothesis its factors, their intervals and notes, the
// stage counts they come from, the estimates of the proportions; the model
// probabilities among the hypotheses.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/bayes_factors.hpp"

#include "sampling/estimates.hpp"
#include "sampling/sampler.hpp"
#include "engine/start_point.hpp"
#include "problem/language.hpp"
#include "problem/problem.hpp"

namespace propbf::evaluate {

// Replications per interval; the interval ends are the 2500th and 97500th smallest
// replicated factors (counted from 1).
using model::kReplications;
using model::kLowerPosition;
using model::kUpperPosition;

using Interval = std::array<double, 2>;

// A stage split into levels because its share is rare (rare_stages.hpp): restriction
// t, g x > c_t, relaxed to g x > bounds[0], then bounds[1], ..., bounds[L - 1] = c_t.
// The stage's own chain counts the hits of level 1 (its StageCount in complexity_stages
// or fit_stages); `counts` holds those of the chains of levels 2 ... L, each sampling
// restrictions 1 ... t - 1 with g x > bounds[l - 2] and counting g x > bounds[l - 1].
// Empty bounds: the stage is not split.
struct StageLevels {
  std::vector<double> bounds;
  std::vector<StageCount> counts;

  bool split() const { return !bounds.empty(); }
};

struct HypothesisResult {
  std::string name;
  std::string text;
  std::vector<Restriction> restrictions;  // as written, over the items
  // The equalities as written (empty: a hypothesis of inequalities only). With
  // equalities, the chains run on the collapsed items (equalities.hpp): complexity and
  // fit are those of the remaining inequalities given the equalities (1 when none
  // remain), `start` is the collapsed start point spread over the items, and
  // bf_unconstrained = bf_equalities * fit / complexity.
  std::vector<std::string> equalities;
  // A hypothesis given by vertices: the number of facets of their hull (JSON `facets`).
  std::optional<std::size_t> facets;
  // Of `restrictions`, how many (the last ones) were read from a matrix or vertex file.
  std::size_t polytope_rows = 0;
  double bf_equalities = 1.0;            // closed form, against the unconstrained hypothesis
  double log_bf_equalities = 0.0;
  double log_bf_unconstrained = 0.0;     // ln bf_unconstrained (finite where the factor under/overflows)
  // False with an equality: the complement has probability one, bf_complement and its
  // intervals are NaN and not reported as numbers.
  bool complement_defined = true;
  StartPoint start;
  // With an aggregated item (equalities.hpp AggregatedItem), the collapsed start point the
  // chains start from (a group of its category alone has no parameter to read it back
  // from); empty otherwise.
  std::vector<double> coordinate_start;
  std::vector<StageCount> complexity_stages;
  std::vector<StageCount> fit_stages;
  // Per stage, its levels (empty vectors when no stage of the phase is split): the stage's
  // share is the product of its levels' shares.
  std::vector<StageLevels> complexity_levels;
  std::vector<StageLevels> fit_levels;
  double complexity = 0.0;  // product of the stage (and level) shares hits / niter (or exact, below)
  // True when the complexity is known exactly (a partial order on items with exchangeable
  // priors, problem/linear_extensions.hpp): no complexity chain runs, complexity_stages
  // is empty, and the intervals are those of the fit alone.
  bool complexity_exact = false;
  // True when the fit is known exactly as well (the posteriors too are the same within
  // each block, as with no data): no chain runs, fit_stages is empty too, and the factors
  // have no Monte Carlo error.
  bool fit_exact = false;
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
  // An interval that did not hold its factor (a stage with no hit or a hit in every
  // sweep) is widened to hold it; a factor that is not a number has no interval (both
  // ends NaN). Each case has a line in `notes`.
  //
  // False when some stage's error could not be measured (StageCount::error_measured):
  // the corrected intervals then understate the error; `notes` says where.
  bool interval_trusted = true;
  std::vector<std::string> notes;  // what the intervals could not show, for table and JSON
  std::int64_t niter = 0;  // sweeps per stage run: settings.niter, or in precision mode where it stopped
  // Sweeps per stage of the complexity chains when they differ from niter
  // (settings.complexity_niter); 0: niter. complexity_sweeps() is the one in force.
  std::int64_t complexity_niter = 0;
  // True when complexity_stages came from a complexity computed before (a batch's cache
  // or a complexity file): no complexity chain ran for it.
  bool complexity_reused = false;
  std::int64_t complexity_sweeps() const { return complexity_niter != 0 ? complexity_niter : niter; }
  // The larger relative half-width, (upper - lower) / 2 / factor, of the two corrected
  // intervals; +infinity when a factor or an interval end is not finite.
  double relative_half_width = 0.0;
  // Precision mode: relative_half_width <= precision at niter and the interval trusted.
  bool precision_reached = false;
  double pmp = 0.0;                     // among the listed hypotheses (or H and its complement)
  double pmp_with_unconstrained = 0.0;  // among the listed hypotheses and the unconstrained one
  double pmp_complement = 0.0;          // one hypothesis only: its complement's share
  // Per item in item order, under the posterior restricted by every restriction: from a
  // chain of niter sweeps on its own stream (EstimateChain), run beside the stage chains.
  std::vector<ItemEstimate> estimates;
  // The posterior predictive p-value of Pearson's X^2 under the restricted posterior
  // (engine/posterior_draws.hpp), from the same chain's sweeps.
  double ppp = 0.0;
  // With Settings::keep_samples: draws of the restricted posterior, one row per kept
  // sweep, Evaluation::sample_columns values per row (row after row).
  std::vector<double> samples;
};

struct Evaluation {
  CountsProblem problem;
  std::vector<HypothesisResult> hypotheses;
  double pmp_unconstrained = 0.0;  // the unconstrained hypothesis's share beside the listed ones
  std::vector<ItemEstimate> unconstrained_estimates;  // per item, exact from its beta posterior
  double ppp_unconstrained = 0.0;  // the posterior predictive p-value without restrictions
  // The columns of every hypothesis's samples: a binomial item's name, or item[c] for
  // each category of an item of categories (as the estimates name them).
  std::vector<std::string> sample_columns;
};

}  // namespace propbf::evaluate
