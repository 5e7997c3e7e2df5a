#include "engine/evaluation.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "engine/categorical.hpp"
#include "engine/chains.hpp"
#include "engine/complexity_cache.hpp"
#include "engine/hypothesis_estimates.hpp"
#include "engine/intervals.hpp"
#include "engine/parallel.hpp"
#include "engine/posterior_draws.hpp"
#include "engine/progress.hpp"
#include "engine/rare_stages.hpp"
#include "engine/threads.hpp"
#include "messages/messages.hpp"
#include "problem/equalities.hpp"
#include "problem/prepare.hpp"

namespace propbf::evaluate {
namespace {

[[noreturn]] void no_interior(const CountsProblem& problem, const HypothesisText& hypothesis,
                              const std::vector<Restriction>& restrictions, const StartPoint& start) {
  const SourcePosition at = hypothesis.positions.empty() ? SourcePosition{} : hypothesis.positions.front();
  std::string message =
      (hypothesis.origin.empty() ? describe_position(problem.file_name, at) : hypothesis.origin) + ": hypothesis " +
      hypothesis.name;
  if (!start.failure.empty()) throw InputError(message + ": " + start.failure);
  message += " has no interior point: ";
  message += start.conflict.size() == 1 ? "this restriction cannot hold" : "these restrictions cannot hold together";
  message += " with every proportion in [0, 1]";
  for (std::size_t k : start.conflict) message += "\n    " + shown_text(restrictions[k].text);
  throw InputError(message);
}

// A hypothesis before its chains run: what it is, its start point (over the chains'
// coordinates) and, with equalities, their closed-form factor. Throws InputError when
// it has no interior.
HypothesisResult read_hypothesis(const CountsProblem& problem, const HypothesisText& hypothesis, const Prepared& read,
                                 const StopCheck& stop) {
  HypothesisResult result;
  result.name = hypothesis.name;
  result.text = hypothesis.text;
  if (!hypothesis.polytope_source.empty()) {
    const bool has_text = hypothesis.text.find_first_not_of(" \t\r\n") != std::string::npos;
    result.text = has_text ? hypothesis.text + "; " + hypothesis.polytope_source : hypothesis.polytope_source;
  }
  result.facets = hypothesis.facets;
  result.polytope_rows = hypothesis.polytope.size();
  result.restrictions = read.parsed.restrictions;
  const std::vector<Restriction>& restrictions = read.chain_restrictions();
  const std::size_t space =
      read.has_equalities ? read.collapsed.groups.size() : parameter_space(problem.items).parameters.size();
  if (restrictions.empty()) {
    result.start.interior = true;
    result.start.centre.assign(space, 0.5);
    result.start.radius = 0.5;
  } else {
    // Inside each item's simplex too.
    const std::optional<std::vector<Restriction>> rows = start_point_rows(read, problem.items);
    const std::vector<Restriction>& programme = rows ? *rows : restrictions;
    result.start = find_start_point(programme, space, stop);
    if (!result.start.interior) no_interior(problem, hypothesis, programme, result.start);
  }
  if (read.has_equalities) {
    for (const Equality& equality : read.parsed.equalities) result.equalities.push_back(equality.text);
    result.log_bf_equalities = read.collapsed.log_factor;
    result.bf_equalities = std::exp(result.log_bf_equalities);
    result.complement_defined = false;
  }
  return result;
}

// The start point reported per item: with equalities, its group's value or the point
// value (the chains start from the collapsed one).
void spread_start(HypothesisResult& result, const Prepared& read, const std::vector<Item>& items) {
  if (!read.has_equalities) return;
  if (!read.collapsed.aggregated.empty()) result.coordinate_start = result.start.centre;
  result.start.centre = spread_groups(read.collapsed, result.start.centre);
  // An item kept as a merged Dirichlet (in no restriction, its coordinates drawn by no
  // chain) starts at the centre of its merged categories, 1/K' each, inside its simplex.
  const CollapsedHypothesis& collapsed = read.collapsed;
  for (std::size_t j = 0; j < collapsed.merged.size(); ++j) {
    const MergedDirichlet& d = collapsed.merged[j];
    if (d.empty()) continue;
    const auto merged = static_cast<double>(d.prior.size());
    for (std::size_t p = collapsed.item_first[j]; p < collapsed.item_first[j + 1]; ++p) {
      const std::size_t c = p - collapsed.item_first[j];
      if (d.merged_of[c] != MergedDirichlet::kHeld) result.start.centre[p] = d.share[c] / merged;
    }
  }
  // An item of three or more categories that no equality ties and no restriction names
  // has coordinates in no restriction, which the linear programme leaves at 1/2: it starts
  // at the centre of its simplex, 1/K each (the chains never draw these coordinates).
  const ParameterSpace space = parameter_space(items);
  for (std::size_t j = 0; j < items.size(); ++j) {
    if (!drawn_apart(collapsed, items, j)) continue;
    for (std::size_t p = space.first[j]; p < space.first[j + 1]; ++p) {
      result.start.centre[p] = 1.0 / static_cast<double>(category_count(items[j]));
    }
  }
}

// The key of a hypothesis's sampled complexity (complexity_cache.hpp), or nullopt where
// it cannot be reused: known exactly, no restriction, or in precision mode without a
// complexity_niter (its sweeps then follow the fit's doublings). Its stage ends are the
// ones the chains will have: for a grouped hypothesis, those its pilots choose.
std::optional<ComplexityKey> reusable_complexity(const Settings& settings, const Prepared& read,
                                                 const ItemShapes& items, const HypothesisResult& result,
                                                 StreamSeed seed, std::uint64_t key,
                                                 std::shared_ptr<const SparseRestrictions>* sparse) {
  if (result.complexity_exact || read.chain_restrictions().empty()) return std::nullopt;
  if (settings.precision && !settings.complexity_niter) return std::nullopt;
  ComplexityKey complexity;
  complexity.hypothesis = key;
  complexity.prior_a = read.has_equalities ? read.collapsed.prior_a : items.prior_a;
  complexity.prior_b = read.has_equalities ? read.collapsed.prior_b : items.prior_b;
  complexity.start = result.start.centre;
  complexity.stage_ends = complexity_stage_ends(read, result.start.centre, items, seed, key, sparse);
  complexity.seed = static_cast<std::uint64_t>(settings.seed);
  complexity.stream = settings.stream_key;
  complexity.niter = settings.complexity_niter ? *settings.complexity_niter : settings.niter;
  return complexity;
}

// What the steps of a run share.
struct Run {
  const Settings& settings;
  StreamSeed seed;
  int threads;
  Progress& progress;
  ItemShapes items;
  std::vector<Prepared> prepared;
  std::vector<HypothesisChains> chains;
  std::vector<std::uint64_t> keys;
  // Per hypothesis, its estimate chain once its niter is settled: from the start in fixed
  // mode, when it stops in precision mode.
  std::vector<std::unique_ptr<HypothesisEstimates>> estimates;
  PredictiveItems predictive;
};

void set_up_estimates(Run& run, const std::vector<HypothesisResult>& results, std::size_t h) {
  run.estimates[h] = std::make_unique<HypothesisEstimates>(results[h], run.prepared[h], run.items.posterior_a,
                                                           run.items.posterior_b, run.seed, run.keys[h],
                                                           run.items.simplex, run.chains[h].estimate_truncation,
                                                           &run.predictive,
                                                           run.settings.keep_samples, run.settings.thin,
                                                           run.chains[h].sparse);
}

// The posterior predictive p-value without restrictions: every draw exact
// (posterior_draws.hpp), on the streams of a hypothesis that restricts nothing.
double unconstrained_ppp(const Run& run) {
  SampledCoordinates sampled;
  sampled.shape_a = run.items.posterior_a;
  sampled.shape_b = run.items.posterior_b;
  sampled.start.assign(sampled.shape_a.size(), 0.5);
  for (std::size_t j = 0; j < sampled.shape_a.size(); ++j) sampled.coordinate_of_item.push_back(j);
  sampled.fixed_value.assign(sampled.shape_a.size(), 0.0);
  PosteriorDraws draws(run.predictive, sampled, {}, run.settings.niter, run.seed,
                       hypothesis_key(Prepared{}, run.items.simplex.get()), false, std::nullopt);
  draws.observe_all(sampled.start);
  return draws.ppp();
}

// The hypotheses of a round after its replications (of the kinds listed): their
// factors settled; in fixed mode their intervals finished; in precision mode those that
// reached the precision or max_niter are returned, the others get twice the sweeps
// (max_niter at most) and are listed in `next`.
std::vector<std::size_t> settle_round(Run& run, std::vector<HypothesisResult>& results,
                                      const std::vector<std::size_t>& running, const std::vector<bool>& kinds,
                                      std::vector<std::size_t>& next) {
  const std::int64_t max_niter = run.settings.max_niter_or_default();
  std::vector<std::size_t> finished;
  for (std::size_t h : running) {
    HypothesisResult& result = results[h];
    settle_factors(result, kinds, !run.prepared[h].chain_restrictions().empty());
    if (!run.settings.precision) {
      finish_intervals(result);
      continue;
    }
    result.interval_trusted = unmeasured_stages(result).empty();
    result.precision_reached = result.interval_trusted && result.relative_half_width <= *run.settings.precision;
    if (result.precision_reached || result.niter >= max_niter) {
      finished.push_back(h);
    } else {
      result.niter = result.niter > max_niter / 2 ? max_niter : 2 * result.niter;
      next.push_back(h);
    }
  }
  return finished;
}

// Rounds of chains and replications. Fixed mode: one round with both kinds of interval,
// the estimate chains run beside the stage chains. Precision mode: rounds of the
// corrected intervals until every hypothesis has stopped, each stopped one given its
// independent intervals at the niter it stopped at, and its estimate chain run in the
// next round (after the last, in a round of its own). Which chains share a round only
// decides what runs beside what: every chain's numbers are its own.
void run_rounds(Run& run, std::vector<HypothesisResult>& results) {
  const std::vector<std::uint64_t>& keys = run.keys;
  const std::vector<bool> kinds = run.settings.precision ? std::vector<bool>{true} : std::vector<bool>{false, true};
  std::vector<std::size_t> running;
  for (std::size_t h = 0; h < results.size(); ++h) running.push_back(h);
  while (!running.empty()) {
    run_chains(run.chains, run.estimates, results, running, run.items, run.threads, run.progress);
    std::vector<IntervalJob> jobs;
    for (std::size_t h : running) {
      count_stages(results[h], run.chains[h]);
      for (const bool corrected : kinds) jobs.push_back({&results[h], keys[h], corrected});
    }
    replication_intervals(jobs, run.seed, run.threads, run.progress.stop_check());
    std::vector<std::size_t> next;
    const std::vector<std::size_t> finished = settle_round(run, results, running, kinds, next);
    std::vector<IntervalJob> closing;
    for (std::size_t h : finished) closing.push_back({&results[h], keys[h], false});
    replication_intervals(closing, run.seed, run.threads, run.progress.stop_check());
    for (std::size_t h : finished) {
      if (!results[h].complement_defined) scale_for_equalities(results[h], {false});
      finish_intervals(results[h]);
      set_up_estimates(run, results, h);
    }
    running = std::move(next);
  }
  if (run.settings.precision) run_chains(run.chains, run.estimates, results, {}, run.items, run.threads, run.progress);
}

// Posterior model probabilities with equal prior probabilities: each hypothesis's
// factor against the unconstrained one over the sum of the factors in the set. One
// hypothesis is set against its complement, whose factor is (1 - fit) / (1 - complexity).
void set_model_probabilities(Evaluation& evaluation) {
  double sum = 0.0;
  for (const HypothesisResult& result : evaluation.hypotheses) sum += result.bf_unconstrained;
  if (evaluation.hypotheses.size() == 1) {
    HypothesisResult& only = evaluation.hypotheses.front();
    // The complement of a hypothesis with an equality is the unconstrained hypothesis
    // up to a set of probability zero: its factor is 1.
    const double complement = only.complement_defined ? (1.0 - only.fit) / (1.0 - only.complexity) : 1.0;
    only.pmp = only.bf_unconstrained / (only.bf_unconstrained + complement);
    only.pmp_complement = complement / (only.bf_unconstrained + complement);
  } else {
    for (HypothesisResult& result : evaluation.hypotheses) result.pmp = result.bf_unconstrained / sum;
  }
  for (HypothesisResult& result : evaluation.hypotheses) result.pmp_with_unconstrained = result.bf_unconstrained / (sum + 1.0);
  evaluation.pmp_unconstrained = 1.0 / (sum + 1.0);
}

Evaluation evaluate(const CountsProblem& problem, int threads, bool progress_line, const RunControl& control,
                    ComplexityCache* cache) {
  Progress progress(progress_line, control);
  const Settings& settings = problem.settings;
  threads = usable_thread_count(threads);
  Run run{settings, StreamSeed(static_cast<std::uint64_t>(settings.seed), settings.stream_key), threads, progress,
          item_shapes(problem), {}, {}, {}, {}, predictive_items(problem.items)};
  Evaluation evaluation;
  evaluation.problem = problem;
  std::vector<HypothesisResult>& results = evaluation.hypotheses;
  // Every hypothesis is read and given its starting point before any sampling starts.
  for (const HypothesisText& hypothesis : problem.hypotheses) {
    if (progress.cancelled()) throw Cancelled();
    run.prepared.push_back(prepare(problem, hypothesis, run.items.names));
    results.push_back(read_hypothesis(problem, hypothesis, run.prepared.back(), progress.stop_check()));
  }
  run.estimates.resize(results.size());
  std::vector<std::optional<ComplexityKey>> complexity_keys(results.size());
  for (std::size_t h = 0; h < results.size(); ++h) {
    run.keys.push_back(hypothesis_key(run.prepared[h], run.items.simplex.get()));
    // Exact complexities need exchangeable parameters: not the coupled categories of items
    // with more than two.
    if (const std::optional<double> known =
            run.items.simplex ? std::nullopt : known_complexity(run.prepared[h], run.items)) {
      results[h].complexity_exact = true;
      results[h].complexity = *known;
      if (const std::optional<double> fit = known_fit(run.prepared[h], run.items)) {
        results[h].fit_exact = true;
        results[h].fit = *fit;
      }
    }
    results[h].niter = settings.niter;
    if (settings.complexity_niter) results[h].complexity_niter = *settings.complexity_niter;
    // A complexity the cache holds is taken as it is, its stages and levels: its chains
    // would count the same. Keys are made only with a cache: a grouped hypothesis's key
    // runs its complexity pilots for the stage ends, which its chains then take.
    std::shared_ptr<const SparseRestrictions> sparse;  // built for the key's pilots, kept for the chains
    if (cache != nullptr) {
      complexity_keys[h] =
          reusable_complexity(settings, run.prepared[h], run.items, results[h], run.seed, run.keys[h], &sparse);
    }
    if (complexity_keys[h]) {
      if (const ComplexityRecord* record = cache->find(*complexity_keys[h])) {
        results[h].complexity_stages = record->stages;
        results[h].complexity_levels = record->levels;
        results[h].complexity_reused = true;
        cache->count_reuse();
      }
    }
    run.chains.push_back(set_up_chains(run.prepared[h], results[h].start.centre, run.items, run.seed, run.keys[h],
                                       results[h].complexity_exact || results[h].complexity_reused,
                                       results[h].fit_exact,
                                       complexity_keys[h] ? &complexity_keys[h]->stage_ends : nullptr,
                                       std::move(sparse)));
    spread_start(results[h], run.prepared[h], problem.items);
    if (!settings.precision) set_up_estimates(run, results, h);
  }
  if (cache != nullptr) {
    std::vector<std::string> names;
    for (const HypothesisResult& result : results) names.push_back(result.name);
    const std::string refused =
        cache->refusal(complexity_keys, names, settings.precision.has_value() && !settings.complexity_niter);
    if (!refused.empty()) throw InputError((problem.file_name.empty() ? "propbf" : problem.file_name) + ": " + refused);
  }
  // Rare stages get their levels from pilots before any counted sweep (not those of a
  // complexity reused: it has no chains, its levels came with it).
  split_rare_stages(run.chains, run.threads, progress);
  run_rounds(run, results);
  if (cache != nullptr) {
    for (std::size_t h = 0; h < results.size(); ++h) {
      if (!complexity_keys[h] || results[h].complexity_reused) continue;
      cache->add({*complexity_keys[h], results[h].name, results[h].complexity_stages, results[h].complexity_levels});
    }
  }
  for (std::size_t h = 0; h < results.size(); ++h) {
    add_closing_notes(results[h], !run.prepared[h].chain_restrictions().empty(), run.prepared[h].warnings);
  }
  // Estimates: exact for the unconstrained model, from a chain under each hypothesis.
  if (parameter_space(problem.items).any_categorical) {
    // Per category (categorical.hpp).
    evaluation.unconstrained_estimates = unconstrained_category_estimates(problem.items);
    for (std::size_t h = 0; h < results.size(); ++h) {
      results[h].estimates = category_estimates(problem.items, run.estimates[h]->estimates(run.items.names),
                                                run.estimates[h]->remainders(), run.prepared[h].parsed.restrictions,
                                                evaluation.unconstrained_estimates,
                                                run.prepared[h].has_equalities ? run.prepared[h].collapsed.reduced_item
                                                                               : std::vector<bool>{});
    }
  } else {
    for (std::size_t j = 0; j < run.items.names.size(); ++j) {
      evaluation.unconstrained_estimates.push_back(
          beta_estimate(run.items.names[j], run.items.posterior_a[j], run.items.posterior_b[j]));
    }
    for (std::size_t h = 0; h < results.size(); ++h) results[h].estimates = run.estimates[h]->estimates(run.items.names);
  }
  // The posterior predictive p-values and the samples, from the same chains.
  for (std::size_t h = 0; h < results.size(); ++h) {
    results[h].ppp = run.estimates[h]->ppp();
    results[h].samples = run.estimates[h]->take_samples();
  }
  evaluation.ppp_unconstrained = unconstrained_ppp(run);
  if (settings.keep_samples) evaluation.sample_columns = run.predictive.columns;
  set_model_probabilities(evaluation);
  return evaluation;
}

}  // namespace

int default_thread_count() { return std::max(1, omp_get_num_procs()); }

Evaluation evaluate_problem(const CountsProblem& problem, int threads, bool progress_line, ComplexityCache* cache) {
  return evaluate(problem, threads, progress_line, RunControl{}, cache);
}

Evaluation evaluate_problem(const CountsProblem& problem, int threads, const RunControl& control) {
  return evaluate(problem, threads, false, control, nullptr);
}

}  // namespace propbf::evaluate
