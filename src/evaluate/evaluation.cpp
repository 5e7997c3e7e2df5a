#include "evaluate/evaluation.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "evaluate/beta_functions.hpp"

namespace propbf::evaluate {
namespace {

std::string shown_text(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return shown;
}

[[noreturn]] void language_failure(const Problem& problem, const HypothesisText& hypothesis, const LanguageError& error) {
  const SourcePosition at = error.offset < hypothesis.positions.size() ? hypothesis.positions[error.offset]
                                                                       : SourcePosition{};
  throw InputError(describe_position(problem.file_name, at) + ": hypothesis " + hypothesis.name + ": " + error.message +
                   "\n    " + shown_text(hypothesis.text) + "\n    " + std::string(error.offset, ' ') + "^");
}

[[noreturn]] void no_interior(const Problem& problem, const HypothesisText& hypothesis,
                              const std::vector<Restriction>& restrictions, const StartPoint& start) {
  const SourcePosition at = hypothesis.positions.empty() ? SourcePosition{} : hypothesis.positions.front();
  std::string message = describe_position(problem.file_name, at) + ": hypothesis " + hypothesis.name;
  if (!start.failure.empty()) throw InputError(message + ": " + start.failure);
  message += " has no interior point: ";
  message += start.conflict.size() == 1 ? "this restriction cannot hold" : "these restrictions cannot hold together";
  message += " with every proportion in [0, 1]";
  for (std::size_t k : start.conflict) message += "\n    " + shown_text(restrictions[k].text);
  throw InputError(message);
}

double share_product(const std::vector<StageCount>& stages, std::int64_t niter) {
  double product = 1.0;
  for (const StageCount& stage : stages) product *= static_cast<double>(stage.hits) / static_cast<double>(niter);
  return product;
}

// Runs task(i) for i = 0 ... count - 1 on up to `threads` threads, handing out one index
// at a time in increasing order, so the tasks listed first start first. The first
// exception a task throws is rethrown once every task has ended.
template <class Task>
void run_in_parallel(std::size_t count, int threads, const Task& task) {
  std::exception_ptr failure;
  const auto total = static_cast<std::ptrdiff_t>(count);
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
  for (std::ptrdiff_t i = 0; i < total; ++i) {
    try {
      task(static_cast<std::size_t>(i));
    } catch (...) {
#pragma omp critical(propbf_evaluate_task_failure)
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

// The chains of one hypothesis, stage t at index t - 1.
struct HypothesisChains {
  std::vector<StageChain> complexity;
  std::vector<StageChain> fit;
};

// Rough cost of one sweep of stage t, for handing out the longest chains first: a draw
// per item (an inversion of the incomplete beta function unless the item's distribution
// is uniform) and, per earlier restriction, a sum over the items for each item.
double sweep_cost(std::size_t stage, const std::vector<double>& shape_a, const std::vector<double>& shape_b) {
  const auto items = static_cast<double>(shape_a.size());
  double cost = items * (static_cast<double>(stage) - 1.0) * items + items * static_cast<double>(stage);
  for (std::size_t j = 0; j < shape_a.size(); ++j) cost += shape_a[j] == 1.0 && shape_b[j] == 1.0 ? 10.0 : 1000.0;
  return cost;
}

// Continues the chains of the hypotheses listed in `which` to their result's niter.
void run_chains(std::vector<HypothesisChains>& chains, const std::vector<HypothesisResult>& results,
                const std::vector<std::size_t>& which, const std::vector<double>& prior_a,
                const std::vector<double>& prior_b, const std::vector<double>& posterior_a,
                const std::vector<double>& posterior_b, int threads) {
  struct Task {
    StageChain* chain;
    std::int64_t niter;
    double cost;
  };
  std::vector<Task> tasks;
  for (std::size_t h : which) {
    const std::int64_t niter = results[h].niter;
    for (std::size_t t = 0; t < chains[h].complexity.size(); ++t) {
      StageChain& complexity = chains[h].complexity[t];
      StageChain& fit = chains[h].fit[t];
      tasks.push_back({&complexity, niter,
                       static_cast<double>(niter - complexity.sweeps()) * sweep_cost(t + 1, prior_a, prior_b)});
      tasks.push_back(
          {&fit, niter, static_cast<double>(niter - fit.sweeps()) * sweep_cost(t + 1, posterior_a, posterior_b)});
    }
  }
  std::stable_sort(tasks.begin(), tasks.end(), [](const Task& x, const Task& y) { return x.cost > y.cost; });
  run_in_parallel(tasks.size(), threads, [&tasks](std::size_t i) { tasks[i].chain->run_to(tasks[i].niter); });
}

// Stage t's replicated shares: a beta deviate with shapes 1 + share * n and
// 1 + (1 - share) * n per replication, n the effective sweeps (corrected) or niter. The
// stream is (seed, hypothesis, phase, t), one deviate after the other.
std::vector<double> replicate_stage(const StageCount& stage, std::int64_t niter, bool corrected, std::uint64_t seed,
                                    std::uint64_t hypothesis, Phase phase, std::size_t t) {
  const double sweeps = static_cast<double>(niter);
  const double hits = static_cast<double>(stage.hits);
  double a;
  double b;
  if (corrected) {
    const double share = hits / sweeps;
    a = 1.0 + share * stage.effective_sweeps;
    b = 1.0 + (1.0 - share) * stage.effective_sweeps;
  } else {
    a = 1.0 + hits;
    b = 1.0 + (sweeps - hits);
  }
  UniformStream stream(seed, hypothesis, phase, t);
  auto next_uniform = [&stream]() { return stream.next(); };
  std::vector<double> deviates(static_cast<std::size_t>(kReplications));
  for (double& value : deviates) value = beta_deviate(a, b, next_uniform);
  return deviates;
}

// The intervals of the factors from the replications: the corrected ones, the
// independent ones or both. The stages' deviates are drawn in parallel, then multiplied
// over the stages in stage order; the order statistics are found in parallel.
void intervals(HypothesisResult& result, std::uint64_t seed, std::uint64_t index, const std::vector<bool>& kinds,
               int threads) {
  struct Block {
    bool corrected;
    bool fit;
    std::size_t stage;  // from 1
  };
  const std::size_t stages = result.complexity_stages.size();
  std::vector<Block> blocks;
  for (const bool corrected : kinds) {
    for (const bool fit : {false, true}) {
      for (std::size_t t = 1; t <= stages; ++t) blocks.push_back({corrected, fit, t});
    }
  }
  // The products over the stages, per kind and phase, formed as the blocks are drawn a
  // chunk at a time (memory for a chunk, not for every stage); each product still
  // multiplies its stages in stage order.
  std::vector<std::vector<double>> products(2 * kinds.size(),
                                            std::vector<double>(static_cast<std::size_t>(kReplications), 1.0));
  const std::size_t chunk = std::max<std::size_t>(16, 2 * static_cast<std::size_t>(threads));
  for (std::size_t first = 0; first < blocks.size(); first += chunk) {
    const std::size_t count = std::min(chunk, blocks.size() - first);
    std::vector<std::vector<double>> deviates(count);
    run_in_parallel(count, threads, [&](std::size_t i) {
      const Block& block = blocks[first + i];
      const Phase phase = block.fit ? (block.corrected ? Phase::FitReplicationsCorrected : Phase::FitReplications)
                                    : (block.corrected ? Phase::ComplexityReplicationsCorrected
                                                       : Phase::ComplexityReplications);
      const StageCount& count_of_stage = (block.fit ? result.fit_stages : result.complexity_stages)[block.stage - 1];
      deviates[i] = replicate_stage(count_of_stage, result.niter, block.corrected, seed, index, phase, block.stage);
    });
    for (std::size_t i = 0; i < count; ++i) {
      std::vector<double>& product = products[(first + i) / stages];  // blocks run kind, then phase, then stage
      for (std::size_t r = 0; r < product.size(); ++r) product[r] *= deviates[i][r];
    }
  }
  // Per kind: the factor against the unconstrained hypothesis and against the complement.
  std::vector<std::vector<double>> factors;
  std::vector<Interval*> targets;
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    const std::vector<double>& complexity = products[2 * k];
    const std::vector<double>& fit = products[2 * k + 1];
    std::vector<double> unconstrained(complexity.size());
    std::vector<double> complement(complexity.size());
    for (std::size_t i = 0; i < complexity.size(); ++i) {
      unconstrained[i] = fit[i] / complexity[i];
      complement[i] = unconstrained[i] / ((1.0 - fit[i]) / (1.0 - complexity[i]));
    }
    factors.push_back(std::move(unconstrained));
    factors.push_back(std::move(complement));
    const bool corrected = kinds[k];
    targets.push_back(corrected ? &result.bf_unconstrained_interval : &result.bf_unconstrained_interval_independent);
    targets.push_back(corrected ? &result.bf_complement_interval : &result.bf_complement_interval_independent);
  }
  products.clear();
  run_in_parallel(factors.size(), threads,
                  [&](std::size_t i) { *targets[i] = order_interval(std::move(factors[i])); });
}

double relative_half_width(const Interval& interval, double factor) {
  const double relative = (interval[1] - interval[0]) / 2.0 / factor;
  const bool finite = std::isfinite(factor) && std::isfinite(relative) && relative >= 0.0;
  return finite ? relative : std::numeric_limits<double>::infinity();
}

}  // namespace

int default_thread_count() { return std::max(1, omp_get_num_procs()); }

// The kLowerPosition-th smallest value ends up at index kLowerPosition - 1 of a full
// sort (NaNs last), and so it does after selecting it: the values below it are the same
// up to order. Selecting the upper position first leaves the lower one among the values
// before it.
Interval order_interval(std::vector<double> values) {
  const auto before = [](double x, double y) {
    if (std::isnan(x)) return false;
    if (std::isnan(y)) return true;
    return x < y;
  };
  const auto upper = values.begin() + (kUpperPosition - 1);
  std::nth_element(values.begin(), upper, values.end(), before);
  const auto lower = values.begin() + (kLowerPosition - 1);
  std::nth_element(values.begin(), lower, upper, before);
  return {*lower, *upper};
}

Evaluation evaluate_problem(const Problem& problem, int threads) {
  Evaluation evaluation;
  evaluation.problem = problem;
  std::vector<std::string> names;
  std::vector<double> prior_a;
  std::vector<double> prior_b;
  std::vector<double> posterior_a;
  std::vector<double> posterior_b;
  for (const Item& item : problem.items) {
    names.push_back(item.name);
    prior_a.push_back(item.prior_a);
    prior_b.push_back(item.prior_b);
    posterior_a.push_back(item.prior_a + static_cast<double>(item.successes));
    posterior_b.push_back(item.prior_b + static_cast<double>(item.trials - item.successes));
  }
  // Every hypothesis is read and given its starting point before any sampling starts.
  for (const HypothesisText& hypothesis : problem.hypotheses) {
    const ParsedHypothesis parsed = parse_hypothesis(hypothesis.text, names);
    if (!parsed.ok) language_failure(problem, hypothesis, parsed.error);
    HypothesisResult result;
    result.name = hypothesis.name;
    result.text = hypothesis.text;
    result.restrictions = parsed.restrictions;
    result.start = find_start_point(result.restrictions, names.size());
    if (!result.start.interior) no_interior(problem, hypothesis, result.restrictions, result.start);
    evaluation.hypotheses.push_back(std::move(result));
  }
  const Settings& settings = problem.settings;
  const auto seed = static_cast<std::uint64_t>(settings.seed);
  if (threads < 1) threads = default_thread_count();
  std::vector<HypothesisResult>& results = evaluation.hypotheses;
  std::vector<HypothesisChains> chains(results.size());
  std::vector<std::size_t> running;
  for (std::size_t h = 0; h < results.size(); ++h) {
    HypothesisResult& result = results[h];
    ChainSettings complexity{0, seed, h, Phase::ComplexitySweeps};
    ChainSettings fit{0, seed, h, Phase::FitSweeps};
    for (std::size_t t = 1; t <= result.restrictions.size(); ++t) {
      chains[h].complexity.emplace_back(result.restrictions, t, result.start.centre, prior_a, prior_b, complexity);
      chains[h].fit.emplace_back(result.restrictions, t, result.start.centre, posterior_a, posterior_b, fit);
    }
    result.niter = settings.niter;
    running.push_back(h);
  }
  const std::int64_t max_niter = settings.max_niter_or_default();
  // Fixed mode: one round with both kinds of interval. Precision mode: rounds of the
  // corrected intervals until every hypothesis has stopped, then the independent ones.
  const std::vector<bool> round_kinds = settings.precision ? std::vector<bool>{true} : std::vector<bool>{false, true};
  while (!running.empty()) {
    run_chains(chains, results, running, prior_a, prior_b, posterior_a, posterior_b, threads);
    std::vector<std::size_t> next;
    for (std::size_t h : running) {
      HypothesisResult& result = results[h];
      result.complexity_stages.clear();
      result.fit_stages.clear();
      for (const StageChain& chain : chains[h].complexity) result.complexity_stages.push_back(chain.count());
      for (const StageChain& chain : chains[h].fit) result.fit_stages.push_back(chain.count());
      result.complexity = share_product(result.complexity_stages, result.niter);
      result.fit = share_product(result.fit_stages, result.niter);
      result.bf_unconstrained = result.fit / result.complexity;
      result.bf_complement = result.bf_unconstrained / ((1.0 - result.fit) / (1.0 - result.complexity));
      intervals(result, seed, h, round_kinds, threads);
      result.relative_half_width =
          std::max(relative_half_width(result.bf_unconstrained_interval, result.bf_unconstrained),
                   relative_half_width(result.bf_complement_interval, result.bf_complement));
      if (!settings.precision) continue;
      result.precision_reached = result.relative_half_width <= *settings.precision;
      if (result.precision_reached || result.niter >= max_niter) {
        intervals(result, seed, h, {false}, threads);
      } else {
        result.niter = result.niter > max_niter / 2 ? max_niter : 2 * result.niter;
        next.push_back(h);
      }
    }
    running = std::move(next);
  }
  // Posterior model probabilities with equal prior probabilities: each hypothesis's
  // factor against the unconstrained one over the sum of the factors in the set. One
  // hypothesis is set against its complement, whose factor is (1 - fit) / (1 - complexity).
  double sum = 0.0;
  for (const HypothesisResult& result : evaluation.hypotheses) sum += result.bf_unconstrained;
  if (evaluation.hypotheses.size() == 1) {
    HypothesisResult& only = evaluation.hypotheses.front();
    const double complement = (1.0 - only.fit) / (1.0 - only.complexity);
    only.pmp = only.bf_unconstrained / (only.bf_unconstrained + complement);
    only.pmp_complement = complement / (only.bf_unconstrained + complement);
  } else {
    for (HypothesisResult& result : evaluation.hypotheses) result.pmp = result.bf_unconstrained / sum;
  }
  for (HypothesisResult& result : evaluation.hypotheses) result.pmp_with_unconstrained = result.bf_unconstrained / (sum + 1.0);
  evaluation.pmp_unconstrained = 1.0 / (sum + 1.0);
  return evaluation;
}

}  // namespace propbf::evaluate
