// `propbf evaluate` from problem to results: the hypotheses parsed, a starting point
// found for each, the complexity and fit chains run, the Bayes factors with their two
// intervals and the posterior model probabilities formed.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/bayes_factors.hpp"

#include "engine/estimates.hpp"
#include "problem/language.hpp"
#include "problem/prepare.hpp"
#include "problem/problem.hpp"
#include "engine/sampler.hpp"
#include "engine/start_point.hpp"

namespace propbf::evaluate {

// Replications per interval; the interval ends are the 2500th and 97500th smallest
// replicated factors (counted from 1).
using model::kReplications;
using model::kLowerPosition;
using model::kUpperPosition;

using Interval = std::array<double, 2>;

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
  double bf_equalities = 1.0;            // closed form, against the unconstrained hypothesis
  double log_bf_equalities = 0.0;
  double log_bf_unconstrained = 0.0;     // ln bf_unconstrained (finite where the factor under/overflows)
  // False with an equality: the complement has probability one, bf_complement and its
  // intervals are NaN and not reported as numbers.
  bool complement_defined = true;
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
  // An interval that did not hold its factor (a stage with no hit or a hit in every
  // sweep) is widened to hold it; a factor that is not a number has no interval (both
  // ends NaN). Each case has a line in `notes`.
  //
  // False when some stage's error could not be measured (StageCount::error_measured):
  // the corrected intervals then understate the error; `notes` says where.
  bool interval_trusted = true;
  std::vector<std::string> notes;  // what the intervals could not show, for table and JSON
  std::int64_t niter = 0;  // sweeps per stage run: settings.niter, or in precision mode where it stopped
  // The larger relative half-width, (upper - lower) / 2 / factor, of the two corrected
  // intervals; +infinity when a factor or an interval end is not finite.
  double relative_half_width = 0.0;
  // Precision mode: relative_half_width <= precision at niter and the interval trusted.
  bool precision_reached = false;
  double pmp = 0.0;                     // among the listed hypotheses (or H and its complement)
  double pmp_with_unconstrained = 0.0;  // among the listed hypotheses and the unconstrained one
  double pmp_complement = 0.0;          // one hypothesis only: its complement's share
  // Per item in item order, under the posterior restricted by every restriction: from a
  // chain of niter sweeps on its own stream (restricted_estimates), run after the factors.
  std::vector<ItemEstimate> estimates;
};

struct Evaluation {
  CountsProblem problem;
  std::vector<HypothesisResult> hypotheses;
  double pmp_unconstrained = 0.0;  // the unconstrained hypothesis's share beside the listed ones
  std::vector<ItemEstimate> unconstrained_estimates;  // per item, exact from its beta posterior
};

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
Evaluation evaluate_problem(const CountsProblem& problem, int threads = 0, bool progress_line = false);

// What a caller embedding the engine (the R package) may ask of a run besides the
// problem: a flag that stops it, looked at between chunks of sweeps of every chain
// (evaluate_problem then throws Cancelled once every chain has stopped), and a receiver
// of the progress line in place of standard error (called from any thread, at most five
// times a second once the run has taken a second; "" clears the line at the end).
struct RunControl {
  const std::atomic<bool>* cancel = nullptr;
  std::function<void(const std::string&)> progress;
};

class Cancelled : public std::runtime_error {
 public:
  Cancelled() : std::runtime_error("the evaluation was cancelled") {}
};

Evaluation evaluate_problem(const CountsProblem& problem, int threads, const RunControl& control);

// The number of threads `threads` < 1 stands for: the processors available.
int default_thread_count();

// The kLowerPosition-th and kUpperPosition-th smallest of kReplications values, NaNs
// counted as larger than any number (values.size() == kReplications).
Interval order_interval(std::vector<double> values);

// Replications are drawn in blocks of this many, each block of a stage from its own
// stream, so that blocks can run on any thread.
inline constexpr std::size_t kReplicationBlock = 6250;

// One kind of interval (corrected or independent) of one hypothesis (index `hypothesis`
// in the run, part of its streams' keys), from the result's stage counts and niter.
struct IntervalJob {
  HypothesisResult* result;
  std::uint64_t hypothesis;
  bool corrected;
};

// Sets the jobs' intervals (the factor against the unconstrained hypothesis and against
// the complement) from kReplications replications of the stage shares, on up to
// `threads` threads; the same bytes for any number of threads.
void replication_intervals(const std::vector<IntervalJob>& jobs, StreamSeed seed, int threads);
// The same, done literally on one thread (the reference in tests).
void replication_intervals_plain(const std::vector<IntervalJob>& jobs, StreamSeed seed);

}  // namespace propbf::evaluate
