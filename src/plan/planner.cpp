#include "plan/planner.hpp"

#include <algorithm>
#include <bit>
#include <boost/random/binomial_distribution.hpp>
#include <cmath>
#include <limits>
#include <memory>

#include "engine/categorical.hpp"
#include "engine/start_point.hpp"
#include "model/bayes_factors.hpp"
#include "sampling/sampler.hpp"

namespace propbf::evaluate {
namespace {

// The key of a data set's streams: its size's trials and its index, mixed as the
// hypotheses' keys are (splitmix64 steps), so that a data set keeps its numbers when
// sizes are added to or taken from the plan.
std::uint64_t mix(std::uint64_t state, std::uint64_t word) {
  std::uint64_t z = (state ^ word) + 0x9e3779b97f4a7c15;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
  z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
  return z ^ (z >> 31);
}

std::uint64_t dataset_key(const std::vector<std::int64_t>& trials, std::int64_t dataset) {
  std::uint64_t key = 0x70726f7062662d70;  // "propbf-p"
  key = mix(key, trials.size());
  for (std::int64_t n : trials) key = mix(key, static_cast<std::uint64_t>(n));
  return mix(key, static_cast<std::uint64_t>(dataset));
}

// A binomial draw of n trials at proportion p from the stream (Boost's exact method).
std::int64_t binomial(std::int64_t n, double p, CounterStream& stream) {
  if (!(p > 0.0)) return 0;
  if (!(p < 1.0)) return n;
  boost::random::binomial_distribution<std::int64_t, double> distribution(n, p);
  return distribution(stream);
}

constexpr double kZ = 1.959963984540054;  // the 0.975 quantile of the standard normal

// Where ln(factor) may lie: its estimate plus or minus kZ standard deviations.
struct LogInterval {
  double low;
  double high;
};

// Whether the factor's class is decided: no threshold k and no 1 / k inside the interval.
bool decided(const LogInterval& interval, const std::vector<double>& thresholds) {
  for (const double k : thresholds) {
    const double log_k = std::log(k);
    if (interval.low <= log_k && log_k <= interval.high) return false;
    if (interval.low <= -log_k && -log_k <= interval.high) return false;
  }
  return true;
}

// An item whose equalities leave three or more merged categories stands in no restriction
// (category_equalities.hpp), and its coordinates above are independent marginals: its
// truth is drawn again from its prior Dirichlet(alpha') by successive betas Beta(alpha'_g,
// alpha'_{g+1} + ... + alpha'_{K'}), each category then its share (a point its value).
void draw_merged_truth(const CollapsedHypothesis& collapsed, std::vector<double>& values, CounterStream& stream) {
  for (std::size_t j = 0; j < collapsed.merged.size(); ++j) {
    const MergedDirichlet& d = collapsed.merged[j];
    if (d.empty()) continue;
    const std::vector<double> phi = draw_dirichlet(dirichlet_sticks(d.prior), stream);
    const std::size_t first = collapsed.item_first[j];
    for (std::size_t c = 0; first + c < collapsed.item_first[j + 1]; ++c) {
      const std::size_t g = d.merged_of[c];
      values[first + c] = g == MergedDirichlet::kHeld ? d.share[c] : d.share[c] * phi[g];
    }
  }
}

// An item of three or more categories that no equality ties and no restriction names
// (one that a restriction names is coupled on its simplex above), in a hypothesis with
// equalities, has independent marginals for coordinates above, whose sum may pass 1: its
// truth is drawn again from its prior Dirichlet(alpha) by successive betas
// Beta(alpha_c, alpha_{c+1} + ... + alpha_K).
void draw_untied_truth(const CollapsedHypothesis& collapsed, const std::vector<Item>& items, std::vector<double>& values,
                       CounterStream& stream) {
  const ParameterSpace space = parameter_space(items);
  for (std::size_t j = 0; j < items.size(); ++j) {
    if (!drawn_apart(collapsed, items, j)) continue;
    const std::vector<double>& alpha = items[j].concentration;
    const std::vector<double> x = draw_dirichlet(dirichlet_sticks(alpha), stream);
    for (std::size_t c = 0; c + 1 < alpha.size(); ++c) values[space.first[j] + c] = x[c];
  }
}

}  // namespace

double log_share_variance(const std::vector<StageCount>& stages, std::int64_t niter) {
  double variance = 0.0;
  for (const StageCount& stage : stages) {
    if (stage.hits == 0) return std::numeric_limits<double>::infinity();
    const double p = static_cast<double>(stage.hits) / static_cast<double>(niter);
    variance += (1.0 - p) / (p * stage.effective_sweeps);
  }
  return variance;
}

Planner::Planner(const PlanFile& plan, const StopCheck& stop) : plan_(plan) {
  const CountsProblem& problem = plan.problem;
  const ItemShapes items = item_shapes(problem);
  for (const Item& item : problem.items) categorical_ = categorical_ || is_categorical(item);
  simplex_ = items.simplex;
  const StreamSeed seed(static_cast<std::uint64_t>(plan.design.seed));
  for (std::size_t h = 0; h < problem.hypotheses.size(); ++h) {
    const HypothesisText& hypothesis = problem.hypotheses[h];
    if (hypothesis.name == plan.truth.from_hypothesis) truth_hypothesis_ = h;
    if (hypothesis.name == plan.design.against) against_ = h;
    prepared_.push_back(prepare(problem, hypothesis, items.names));
    const Prepared& read = prepared_.back();
    const std::vector<Restriction>& restrictions = read.chain_restrictions();
    const std::size_t space = read.has_equalities ? read.collapsed.groups.size() : items.names.size();
    std::vector<double> start(space, 0.5);
    if (!restrictions.empty()) {
      // As evaluate finds it: inside each item's simplex too.
      const std::optional<std::vector<Restriction>> rows = start_point_rows(read, problem.items);
      const StartPoint found = find_start_point(rows ? *rows : restrictions, space, stop);
      if (!found.interior) {
        const SourcePosition at = hypothesis.positions.empty() ? SourcePosition{} : hypothesis.positions.front();
        throw InputError(describe_position(problem.file_name, at) + ": hypothesis " + hypothesis.name +
                         " has no interior point" + (found.failure.empty() ? "" : ": " + found.failure));
      }
      start = found.centre;
    }
    starts_.push_back(start);
    keys_.push_back(hypothesis_key(read, items.simplex.get()));
    PlanComplexity complexity;
    if (!restrictions.empty()) {
      // Exact complexities need exchangeable parameters: not the coupled categories of
      // items of more than two (as in evaluate).
      if (const std::optional<double> known = items.simplex ? std::nullopt : known_complexity(read, items)) {
        complexity.value = *known;
      } else {
        HypothesisChains chains = set_up_chains(read, start, items, seed, keys_.back(), false, true);
        std::vector<StageCount> counts;
        for (StageChain& chain : chains.complexity) {
          if (stop && stop()) throw Cancelled();
          chain.run_to(plan.design.complexity_niter);
          counts.push_back(chain.count());
        }
        double product = 1.0;
        for (const StageCount& count : counts) {
          product *= static_cast<double>(count.hits) / static_cast<double>(plan.design.complexity_niter);
        }
        complexity.value = product;
        complexity.log_variance = log_share_variance(counts, plan.design.complexity_niter);
        complexity.exact = false;
      }
    }
    complexities_.push_back(complexity);
  }
  for (const ItemTruth& truth : plan.truth.items) {
    truth_draws_.emplace_back(truth.fixed ? 1.0 : truth.beta_a, truth.fixed ? 1.0 : truth.beta_b);
    truth_sticks_.push_back(dirichlet_sticks(truth.dirichlet));
  }
  if (!plan.truth.from_hypothesis.empty()) {
    const Prepared& read = prepared_[truth_hypothesis_];
    truth_prior_draws_ = item_draws(read.has_equalities ? read.collapsed.prior_a : items.prior_a,
                                    read.has_equalities ? read.collapsed.prior_b : items.prior_b);
    truth_sparse_ = std::make_shared<const SparseRestrictions>(read.chain_restrictions(), starts_[truth_hypothesis_].size());
  }
}

// The prior restricted to the truth's hypothesis: a Gibbs chain over its coordinates from
// its start point, truth_sweeps sweeps (the coupled categories of an item drawn inside its
// simplex), its last state spread over the parameters.
std::vector<double> Planner::draw_from_hypothesis(CounterStream& stream) const {
  const Prepared& read = prepared_[truth_hypothesis_];
  const std::vector<Restriction>& restrictions = read.chain_restrictions();
  const std::shared_ptr<const Simplex> coupled = read.has_equalities ? collapsed_simplex(read.collapsed) : nullptr;
  const Simplex* simplex = read.has_equalities ? coupled.get() : simplex_.get();
  std::vector<double> state = starts_[truth_hypothesis_];
  const SparseRestrictions& sparse = *truth_sparse_;
  for (std::int64_t sweep = 0; sweep < plan_.design.truth_sweeps; ++sweep) {
    for (std::size_t j = 0; j < state.size(); ++j) {
      const ItemBounds bounds =
          item_bounds(sparse, j, restrictions.size(), state, sparse.alone(j, restrictions.size()).bounds);
      if (simplex != nullptr && simplex->coupled(j)) {
        state[j] = scaled_draw(*simplex, j, bounds, truth_prior_draws_[j], state, stream);
      } else {
        state[j] = bounds.low < bounds.up ? truth_prior_draws_[j].draw(bounds.low, bounds.up, stream)
                                          : 0.5 * (bounds.low + bounds.up);
      }
    }
  }
  if (!read.has_equalities) return state;
  std::vector<double> theta = spread_groups(read.collapsed, state);
  // An aggregated item's other categories: (1 - theta_c) times a draw of its prior
  // Dirichlet share, by successive betas (the last takes what is left).
  for (const AggregatedItem& a : read.collapsed.aggregated) {
    double theta_c = a.value;
    if (a.group) theta_c = a.complement ? 1.0 - state[*a.group] : state[*a.group];
    const std::size_t first = read.collapsed.item_first[a.item];
    const std::size_t end = read.collapsed.item_first[a.item + 1];
    const std::vector<double> phi = draw_dirichlet(dirichlet_sticks(a.rest_prior), stream);
    std::size_t r = 0;
    for (std::size_t p = first; p < end; ++p) {
      if (p - first == a.category) continue;
      theta[p] = (1.0 - theta_c) * phi[r++];
    }
  }
  draw_merged_truth(read.collapsed, theta, stream);
  draw_untied_truth(read.collapsed, plan_.problem.items, theta, stream);
  return theta;
}

std::vector<double> Planner::draw_truth(CounterStream& stream) const {
  const std::size_t count = plan_.problem.items.size();
  std::vector<double> theta(count, 0.5);
  if (plan_.truth.from_hypothesis.empty()) {
    for (std::size_t j = 0; j < count; ++j) {
      const ItemTruth& truth = plan_.truth.items[j];
      theta[j] = truth.fixed ? truth.proportion : truth_draws_[j].draw(0.0, 1.0, stream);
    }
    return theta;
  }
  return draw_from_hypothesis(stream);
}

std::vector<std::vector<double>> Planner::draw_category_truth(CounterStream& stream) const {
  const std::vector<Item>& items = plan_.problem.items;
  std::vector<std::vector<double>> theta(items.size());
  if (plan_.truth.from_hypothesis.empty()) {
    for (std::size_t j = 0; j < items.size(); ++j) {
      const ItemTruth& truth = plan_.truth.items[j];
      if (truth.fixed) {
        theta[j] = truth.proportions;
        continue;
      }
      // Stick-breaking: category c takes Beta(a_c, a_{c+1} + ... + a_K) of what the
      // categories before it left; the last takes the rest.
      double rest = 1.0;
      for (const TruncatedBeta& stick : truth_sticks_[j]) {
        const double share = stick.draw(0.0, 1.0, stream);
        theta[j].push_back(rest * share);
        rest *= 1.0 - share;
      }
      theta[j].push_back(rest);
    }
    return theta;
  }
  // Per parameter (a group's value, a point value), then per item its categories, the
  // last 1 minus the others (at least 0).
  const std::vector<double> parameters = draw_from_hypothesis(stream);
  std::size_t p = 0;
  for (std::size_t j = 0; j < items.size(); ++j) {
    double sum = 0.0;
    for (std::size_t c = 0; c + 1 < items[j].counts.size(); ++c, ++p) {
      theta[j].push_back(parameters[p]);
      sum += parameters[p];
    }
    theta[j].push_back(std::max(0.0, 1.0 - sum));
  }
  return theta;
}

std::vector<std::vector<std::int64_t>> Planner::draw_counts(const std::vector<std::int64_t>& trials,
                                                            CounterStream& stream) const {
  const std::vector<std::vector<double>> theta = draw_category_truth(stream);
  std::vector<std::vector<std::int64_t>> counts(theta.size());
  for (std::size_t j = 0; j < theta.size(); ++j) {
    // An exact multinomial draw: category c takes Binomial(the trials left, theta_c over
    // the mass of categories c ... K), in category order; the last takes what is left.
    // The masses are summed from the last category back.
    const std::size_t k = theta[j].size();
    std::vector<double> tail(k + 1, 0.0);
    for (std::size_t c = k; c-- > 0;) tail[c] = tail[c + 1] + theta[j][c];
    std::int64_t left = trials[j];
    for (std::size_t c = 0; c + 1 < k; ++c) {
      const std::int64_t drawn = tail[c] > 0.0 ? binomial(left, theta[j][c] / tail[c], stream) : 0;
      counts[j].push_back(drawn);
      left -= drawn;
    }
    counts[j].push_back(left);
  }
  return counts;
}

DatasetRecord Planner::evaluate(std::size_t size, std::int64_t dataset) const {
  const PlanDesign& design = plan_.design;
  const std::vector<std::int64_t>& trials = design.sizes[size];
  const std::uint64_t key = dataset_key(trials, dataset);
  const StreamSeed seed(static_cast<std::uint64_t>(design.seed));
  DatasetRecord record;
  record.size = size;
  record.dataset = dataset;
  {
    CounterStream stream(seed, key, StreamKind::PlanData, 0);
    if (categorical_) {
      record.counts = draw_counts(trials, stream);
    } else {
      const std::vector<double> theta = draw_truth(stream);
      for (std::size_t j = 0; j < trials.size(); ++j) record.successes.push_back(binomial(trials[j], theta[j], stream));
    }
  }
  CountsProblem problem = plan_.problem;
  for (std::size_t j = 0; j < problem.items.size(); ++j) {
    if (categorical_) {
      problem.items[j].counts = record.counts[j];
      continue;
    }
    problem.items[j].successes = record.successes[j];
    problem.items[j].trials = trials[j];
  }
  const ItemShapes items = item_shapes(problem);
  const std::size_t count = problem.hypotheses.size();
  std::vector<double> bf_unconstrained(count), complement(count, 1.0), log_variance(count, 0.0);
  std::vector<double> fit_variances(count, 0.0), fits(count, 1.0);
  std::vector<bool> complement_defined(count, false);
  record.sweeps.assign(count, 0);
  for (std::size_t h = 0; h < count; ++h) {
    // Equalities pool the tied items' counts: read again with this data set's; otherwise
    // the restrictions are the plan's and the items' posteriors come from `items`.
    const Prepared read =
        prepared_[h].has_equalities ? prepare(problem, problem.hypotheses[h], items.names) : prepared_[h];
    const PlanComplexity& complexity = complexities_[h];
    double fit = 1.0;
    double fit_variance = 0.0;
    const std::vector<Restriction>& restrictions = read.chain_restrictions();
    std::optional<double> exact_fit;
    if (!restrictions.empty() && complexity.exact) exact_fit = known_fit(read, items);
    if (!restrictions.empty() && !exact_fit) {
      HypothesisChains chains =
          set_up_chains(read, starts_[h], items, seed, mix(keys_[h], key), /*complexity_exact=*/true, false);
      std::int64_t niter = design.niter;
      for (;;) {
        std::vector<StageCount> counts;
        fit = 1.0;
        for (StageChain& chain : chains.fit) {
          chain.run_to(niter);
          counts.push_back(chain.count());
          fit *= static_cast<double>(counts.back().hits) / static_cast<double>(niter);
        }
        fit_variance = log_share_variance(counts, niter);
        record.sweeps[h] = niter;
        if (!design.precision || niter >= design.max_niter) break;
        const double log_bf = std::log(fit) - std::log(complexity.value) +
                              (read.has_equalities ? read.collapsed.log_factor : 0.0);
        double variance = fit_variance + complexity.log_variance;
        double log_factor = log_bf;
        if (design.factor == PlanFactor::Complement && !read.has_equalities) {
          log_factor = log_bf + std::log1p(-complexity.value) - std::log1p(-fit);
          variance = fit_variance / ((1.0 - fit) * (1.0 - fit)) +
                     complexity.log_variance / ((1.0 - complexity.value) * (1.0 - complexity.value));
        }
        if (std::isfinite(variance)) {
          const double spread = kZ * std::sqrt(variance);
          if (std::expm1(spread) <= *design.precision) break;
          if (design.stop_when_decided && design.factor != PlanFactor::Hypothesis && std::isfinite(log_factor) &&
              decided({log_factor - spread, log_factor + spread}, design.thresholds)) {
            break;
          }
        }
        niter = niter > design.max_niter / 2 ? design.max_niter : 2 * niter;
      }
    } else if (exact_fit) {
      fit = *exact_fit;
    }
    log_variance[h] = fit_variance + complexity.log_variance;
    fit_variances[h] = fit_variance;
    fits[h] = fit;
    const double equalities = read.has_equalities ? std::exp(read.collapsed.log_factor) : 1.0;
    bf_unconstrained[h] = equalities * model::factor_against_unconstrained(fit, complexity.value);
    if (!read.has_equalities) {
      complement[h] = (1.0 - fit) / (1.0 - complexity.value);
      complement_defined[h] = true;
    }
  }
  record.factors.resize(count);
  record.pmp.resize(count);
  record.intervals.resize(count);
  double sum = 0.0;
  for (double bf : bf_unconstrained) sum += bf;
  for (std::size_t h = 0; h < count; ++h) {
    switch (design.factor) {
      case PlanFactor::Unconstrained:
        record.factors[h] = bf_unconstrained[h];
        break;
      case PlanFactor::Complement:
        record.factors[h] = bf_unconstrained[h] / complement[h];
        break;
      case PlanFactor::Hypothesis:
        record.factors[h] = h == against_ ? 1.0 : bf_unconstrained[h] / bf_unconstrained[against_];
        break;
    }
    double variance = log_variance[h];
    if (design.factor == PlanFactor::Complement && complement_defined[h]) {
      const double c = complexities_[h].value;
      variance = fit_variances[h] / ((1.0 - fits[h]) * (1.0 - fits[h])) +
                 complexities_[h].log_variance / ((1.0 - c) * (1.0 - c));
    } else if (design.factor == PlanFactor::Hypothesis && h != against_) {
      variance += log_variance[against_];
    }
    const double spread = kZ * std::sqrt(variance);
    // A stage without a hit bounds nothing: its factor (0, or infinite against the
    // complement) may lie anywhere, which 0 * exp(spread) would leave not a number.
    record.intervals[h] = std::isfinite(spread)
                              ? std::array<double, 2>{record.factors[h] * std::exp(-spread),
                                                      record.factors[h] * std::exp(spread)}
                              : std::array<double, 2>{0.0, std::numeric_limits<double>::infinity()};
    record.pmp[h] = count == 1 ? bf_unconstrained[h] / (bf_unconstrained[h] + complement[h]) : bf_unconstrained[h] / sum;
  }
  return record;
}

}  // namespace propbf::evaluate
