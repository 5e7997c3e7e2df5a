#include "evaluate/evaluation.hpp"

#include <algorithm>
#include <cmath>

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
  std::string message = describe_position(problem.file_name, at) + ": hypothesis " + hypothesis.name +
                        " has no interior point: ";
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

// The replicated share: per stage a beta deviate with shapes 1 + share * n and
// 1 + (1 - share) * n, multiplied over the stages in order. The stream of stage t is
// (seed, hypothesis, phase, t), one deviate after the other over the replications.
std::vector<double> replicate(const std::vector<StageCount>& stages, std::int64_t niter, bool corrected,
                              std::uint64_t seed, std::uint64_t hypothesis, Phase phase) {
  std::vector<double> product(static_cast<std::size_t>(kReplications), 1.0);
  for (std::size_t t = 0; t < stages.size(); ++t) {
    const double sweeps = static_cast<double>(niter);
    const double hits = static_cast<double>(stages[t].hits);
    double a;
    double b;
    if (corrected) {
      const double share = hits / sweeps;
      a = 1.0 + share * stages[t].effective_sweeps;
      b = 1.0 + (1.0 - share) * stages[t].effective_sweeps;
    } else {
      a = 1.0 + hits;
      b = 1.0 + (sweeps - hits);
    }
    UniformStream stream(seed, hypothesis, phase, t + 1);
    auto next_uniform = [&stream]() { return stream.next(); };
    for (double& value : product) value *= beta_deviate(a, b, next_uniform);
  }
  return product;
}

// The kLowerPosition-th and kUpperPosition-th smallest values; NaNs sort last.
Interval order_interval(std::vector<double> values) {
  std::sort(values.begin(), values.end(), [](double x, double y) {
    if (std::isnan(x)) return false;
    if (std::isnan(y)) return true;
    return x < y;
  });
  return {values[kLowerPosition - 1], values[kUpperPosition - 1]};
}

void intervals(HypothesisResult& result, const Settings& settings, std::uint64_t index) {
  for (const bool corrected : {false, true}) {
    const auto seed = static_cast<std::uint64_t>(settings.seed);
    const std::vector<double> complexity =
        replicate(result.complexity_stages, settings.niter, corrected, seed, index,
                  corrected ? Phase::ComplexityReplicationsCorrected : Phase::ComplexityReplications);
    const std::vector<double> fit = replicate(result.fit_stages, settings.niter, corrected, seed, index,
                                              corrected ? Phase::FitReplicationsCorrected : Phase::FitReplications);
    std::vector<double> unconstrained(complexity.size());
    std::vector<double> complement(complexity.size());
    for (std::size_t i = 0; i < complexity.size(); ++i) {
      unconstrained[i] = fit[i] / complexity[i];
      complement[i] = unconstrained[i] / ((1.0 - fit[i]) / (1.0 - complexity[i]));
    }
    (corrected ? result.bf_unconstrained_interval : result.bf_unconstrained_interval_independent) =
        order_interval(std::move(unconstrained));
    (corrected ? result.bf_complement_interval : result.bf_complement_interval_independent) =
        order_interval(std::move(complement));
  }
}

}  // namespace

Evaluation evaluate_problem(const Problem& problem) {
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
  for (std::size_t h = 0; h < evaluation.hypotheses.size(); ++h) {
    HypothesisResult& result = evaluation.hypotheses[h];
    ChainSettings chain{settings.niter, static_cast<std::uint64_t>(settings.seed), h, Phase::ComplexitySweeps};
    result.complexity_stages = run_stage_chain(result.restrictions, result.start.centre, prior_a, prior_b, chain);
    chain.phase = Phase::FitSweeps;
    result.fit_stages = run_stage_chain(result.restrictions, result.start.centre, posterior_a, posterior_b, chain);
    result.complexity = share_product(result.complexity_stages, settings.niter);
    result.fit = share_product(result.fit_stages, settings.niter);
    result.bf_unconstrained = result.fit / result.complexity;
    result.bf_complement = result.bf_unconstrained / ((1.0 - result.fit) / (1.0 - result.complexity));
    intervals(result, settings, h);
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
