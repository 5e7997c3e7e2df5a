#include "engine/chains.hpp"

#include <algorithm>
#include <bit>
#include <optional>

#include "engine/parallel.hpp"
#include "model/bayes_factors.hpp"
#include "problem/categories.hpp"
#include "problem/equalities.hpp"
#include "problem/linear_extensions.hpp"
#include "sampling/pilot.hpp"

namespace propbf::evaluate {
namespace {

// Rough cost of one sweep of stage t, for handing out the longest chains first: a draw
// per item (a few times dearer unless the item's distribution is uniform) and, per
// earlier restriction, a sum over the items for each item.
double sweep_cost(std::size_t stage, const std::vector<double>& shape_a, const std::vector<double>& shape_b) {
  const auto items = static_cast<double>(shape_a.size());
  double cost = items * (static_cast<double>(stage) - 1.0) * items + items * static_cast<double>(stage);
  for (std::size_t j = 0; j < shape_a.size(); ++j) cost += shape_a[j] == 1.0 && shape_b[j] == 1.0 ? 10.0 : 100.0;
  return cost;
}

// A 64-bit hash of a sequence of words: each word is mixed into the state by the
// splitmix64 finalizer.
class WordHash {
 public:
  void add(std::uint64_t word) {
    std::uint64_t z = (state_ ^ word) + 0x9e3779b97f4a7c15;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    state_ = z ^ (z >> 31);
  }
  void add(double value) { add(std::bit_cast<std::uint64_t>(value)); }
  std::uint64_t value() const { return state_; }

 private:
  std::uint64_t state_ = 0x70726f7062662d68;  // "propbf-h"
};

// The product of the stage shares in stage order; a split stage's share is its levels'
// shares multiplied in level order.
double share_product(const std::vector<StageCount>& stages, const std::vector<StageLevels>& levels,
                     std::int64_t niter) {
  double product = 1.0;
  for (std::size_t t = 0; t < stages.size(); ++t) {
    product *= static_cast<double>(stages[t].hits) / static_cast<double>(niter);
    if (t >= levels.size()) continue;
    for (const StageCount& level : levels[t].counts) {
      product *= static_cast<double>(level.hits) / static_cast<double>(niter);
    }
  }
  return product;
}

std::vector<StageLevels> level_counts(const std::vector<StageSplit>& splits) {
  std::vector<StageLevels> levels;
  for (const StageSplit& split : splits) {
    StageLevels stage;
    stage.bounds = split.bounds;
    for (const StageChain& chain : split.chains) stage.counts.push_back(chain.count());
    levels.push_back(std::move(stage));
  }
  return levels;
}

}  // namespace

ItemShapes item_shapes(const CountsProblem& problem) {
  ItemShapes items;
  const ParameterSpace space = parameter_space(problem.items);
  for (const Parameter& parameter : space.parameters) {
    items.names.push_back(parameter.name);
    items.prior_a.push_back(parameter.prior_a);
    items.prior_b.push_back(parameter.prior_b);
    items.posterior_a.push_back(parameter.posterior_a);
    items.posterior_b.push_back(parameter.posterior_b);
  }
  if (space.simplex) {
    Simplex simplex;
    for (const Parameter& parameter : space.parameters) {
      simplex.begin.push_back(space.first[parameter.item]);
      simplex.end.push_back(space.first[parameter.item + 1]);
    }
    for (std::size_t j = 0; j < problem.items.size(); ++j) {
      if (space.first[j + 1] - space.first[j] > 1) simplex.items.emplace_back(space.first[j], space.first[j + 1]);
    }
    items.simplex = std::make_shared<const Simplex>(std::move(simplex));
  }
  items.prior_draws = std::make_shared<const std::vector<TruncatedBeta>>(item_draws(items.prior_a, items.prior_b));
  items.posterior_draws =
      std::make_shared<const std::vector<TruncatedBeta>>(item_draws(items.posterior_a, items.posterior_b));
  return items;
}

// A hypothesis is keyed by its canonical restrictions, the ones its chains read: their
// number and the space's size, then per restriction the bit patterns of its coefficients
// (one per coordinate) and of its constant, in order; with equalities also the collapse,
// the free groups (each its size and items) and per item the point value it is held at
// (its bit pattern, or a mark for none). Neither its name, its text as written nor its
// place in the file enters: the same hypothesis on the same items with the same seed
// draws the same numbers alone or in any set, in any order (two identical hypotheses in
// one set draw the same numbers, as they should). Hypotheses that differ get different
// keys but for a hash collision, which would only make their streams shared.
std::uint64_t hypothesis_key(const Prepared& read) {
  const std::vector<Restriction>& restrictions = read.chain_restrictions();
  WordHash hash;
  hash.add(std::uint64_t{read.has_equalities});
  hash.add(std::uint64_t{restrictions.size()});
  hash.add(std::uint64_t{restrictions.empty() ? 0 : restrictions.front().coefficients.size()});
  for (const Restriction& restriction : restrictions) {
    for (double coefficient : restriction.coefficients) hash.add(coefficient);
    hash.add(restriction.constant);
  }
  if (!read.has_equalities) return hash.value();
  const CollapsedHypothesis& collapsed = read.collapsed;
  hash.add(std::uint64_t{collapsed.groups.size()});
  for (const std::vector<std::size_t>& group : collapsed.groups) {
    hash.add(std::uint64_t{group.size()});
    for (std::size_t item : group) hash.add(std::uint64_t{item});
  }
  hash.add(std::uint64_t{collapsed.item_value.size()});
  for (const std::optional<double>& value : collapsed.item_value) {
    hash.add(std::uint64_t{value.has_value()});
    hash.add(value ? *value : 0.0);
  }
  // Ties to complements do not enter: they change the groups' shapes, not the chains'
  // restrictions (b1 = 1 - b2 > b3 draws what b1 = b2 > b3 does with b2's counts exchanged).
  // Items coupled on their simplexes do, by their coordinates (none for the others).
  if (!collapsed.coupled.empty()) {
    hash.add(std::uint64_t{collapsed.coupled.size()});
    for (const CoupledItem& item : collapsed.coupled) {
      hash.add(std::uint64_t{item.begin});
      hash.add(std::uint64_t{item.end});
    }
  }
  return hash.value();
}

std::uint64_t hypothesis_key(const Prepared& read, const Simplex* simplex) {
  if (simplex == nullptr) return hypothesis_key(read);
  WordHash hash;
  hash.add(hypothesis_key(read));
  hash.add(std::uint64_t{simplex->items.size()});
  for (const auto& [begin, end] : simplex->items) {
    hash.add(std::uint64_t{begin});
    hash.add(std::uint64_t{end});
  }
  return hash.value();
}

namespace {

// The chains' restrictions over their coordinates, the prior's draws and the simplexes
// of a hypothesis: what its complexity pilots and set_up_chains both build on.
struct PriorSpace {
  std::shared_ptr<const SparseRestrictions> sparse;
  std::size_t space = 0;
  std::shared_ptr<const std::vector<TruncatedBeta>> draws;
  std::shared_ptr<const Simplex> simplex;
};

PriorSpace prior_space(const Prepared& read, const ItemShapes& items,
                       std::shared_ptr<const SparseRestrictions> sparse = nullptr) {
  const std::vector<Restriction>& restrictions = read.chain_restrictions();
  PriorSpace prior;
  prior.space = read.has_equalities ? read.collapsed.groups.size() : items.names.size();
  prior.draws = items.prior_draws;
  if (read.has_equalities && !restrictions.empty()) {
    prior.draws = std::make_shared<const std::vector<TruncatedBeta>>(
        item_draws(read.collapsed.prior_a, read.collapsed.prior_b));
  }
  prior.sparse = sparse ? std::move(sparse) : std::make_shared<const SparseRestrictions>(restrictions, prior.space);
  // With equalities the categories of a larger item in no restriction are drawn apart
  // (they count no hit); those of an item a restriction names are coupled on its simplex.
  prior.simplex = read.has_equalities ? collapsed_simplex(read.collapsed) : items.simplex;
  return prior;
}

}  // namespace

std::vector<std::size_t> complexity_stage_ends(const Prepared& read, const std::vector<double>& start,
                                               const ItemShapes& items, StreamSeed seed, std::uint64_t key,
                                               std::shared_ptr<const SparseRestrictions>* sparse) {
  const std::size_t restrictions = read.chain_restrictions().size();
  const std::size_t space = read.has_equalities ? read.collapsed.groups.size() : items.names.size();
  if (!grouped_restrictions(restrictions, space)) return stage_ends(restrictions, space);
  const PriorSpace prior = prior_space(read, items);
  if (sparse != nullptr) *sparse = prior.sparse;
  return pilot_stage_ends(prior.sparse, start, prior.draws, prior.simplex, seed, key, StreamKind::ComplexityEndPilot)
      .ends;
}

std::optional<double> known_complexity(const Prepared& read, const ItemShapes& items) {
  return exact_order_complexity(read.chain_restrictions(), read.has_equalities ? read.collapsed.prior_a : items.prior_a,
                                read.has_equalities ? read.collapsed.prior_b : items.prior_b);
}

std::optional<double> known_fit(const Prepared& read, const ItemShapes& items) {
  return exact_order_complexity(read.chain_restrictions(),
                                read.has_equalities ? read.collapsed.posterior_a : items.posterior_a,
                                read.has_equalities ? read.collapsed.posterior_b : items.posterior_b);
}

HypothesisChains set_up_chains(const Prepared& read, const std::vector<double>& start, const ItemShapes& items,
                               StreamSeed seed, std::uint64_t key, bool complexity_exact, bool fit_exact,
                               const std::vector<std::size_t>* complexity_ends,
                               std::shared_ptr<const SparseRestrictions> built) {
  const std::vector<Restriction>& restrictions = read.chain_restrictions();
  const ChainSettings complexity{0, seed, key, StreamKind::ComplexitySweeps};
  const ChainSettings fit{0, seed, key, StreamKind::FitSweeps};
  // With equalities, the collapsed items' own shapes; otherwise the items', shared.
  const CollapsedHypothesis& collapsed = read.collapsed;
  const PriorSpace prior = prior_space(read, items, std::move(built));
  const std::size_t space = prior.space;
  const auto& prior_a = read.has_equalities ? collapsed.prior_a : items.prior_a;
  const auto& prior_b = read.has_equalities ? collapsed.prior_b : items.prior_b;
  const auto& posterior_a = read.has_equalities ? collapsed.posterior_a : items.posterior_a;
  const auto& posterior_b = read.has_equalities ? collapsed.posterior_b : items.posterior_b;
  const auto& prior_draws = prior.draws;
  auto posterior_draws = items.posterior_draws;
  if (read.has_equalities && !restrictions.empty()) {
    posterior_draws = std::make_shared<const std::vector<TruncatedBeta>>(item_draws(posterior_a, posterior_b));
  }
  const auto& sparse = prior.sparse;
  const auto& simplex = prior.simplex;
  const auto prior_bands = band_moves(restrictions, prior_a, prior_b, simplex.get());
  const auto posterior_bands = band_moves(restrictions, posterior_a, posterior_b, simplex.get());
  HypothesisChains chains;
  chains.sparse = sparse;
  // Grouped hypotheses choose each phase's stage ends from pilot chains (pilot.hpp); the
  // others have one stage per restriction.
  const bool grouped = grouped_restrictions(restrictions.size(), space);
  const auto phase_ends = [&](const std::shared_ptr<const std::vector<TruncatedBeta>>& draws, StreamKind pilot) {
    return grouped ? pilot_stage_ends(sparse, start, draws, simplex, seed, key, pilot)
                   : PilotEnds{stage_ends(restrictions.size(), space), 0.0};
  };
  const auto inputs = [&](const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                          const std::shared_ptr<const std::vector<TruncatedBeta>>& draws,
                          const std::shared_ptr<const BandMoves>& bands, const ChainSettings& settings) {
    return std::make_shared<const PhaseChainInputs>(
        PhaseChainInputs{restrictions, space, start, shape_a, shape_b, draws, bands, simplex, settings});
  };
  // Grouped stages are never split (rare_stages.hpp): nothing is kept for them.
  if (!restrictions.empty() && !grouped) {
    if (!complexity_exact) chains.complexity_inputs = inputs(prior_a, prior_b, prior_draws, prior_bands, complexity);
    if (!fit_exact) chains.fit_inputs = inputs(posterior_a, posterior_b, posterior_draws, posterior_bands, fit);
  }
  if (!complexity_exact) {
    const std::vector<std::size_t> ends =
        complexity_ends != nullptr ? *complexity_ends : phase_ends(prior_draws, StreamKind::ComplexityEndPilot).ends;
    for (std::size_t t = 1; t <= ends.size(); ++t) {
      const StageRange range{t == 1 ? 0 : ends[t - 2], ends[t - 1]};
      chains.complexity.emplace_back(sparse, t, start, prior_draws, complexity, prior_bands, simplex, range);
    }
  }
  if (!fit_exact) {
    const PilotEnds pilot = phase_ends(posterior_draws, StreamKind::FitEndPilot);
    const std::vector<std::size_t>& ends = pilot.ends;
    for (std::size_t t = 1; t <= ends.size(); ++t) {
      const StageRange range{t == 1 ? 0 : ends[t - 2], ends[t - 1]};
      chains.fit.emplace_back(sparse, t, start, posterior_draws, fit, posterior_bands, simplex, range);
    }
    if (grouped && pilot.last_share >= kEstimateShare) chains.estimate_truncation = chains.fit.back().truncated();
  }
  return chains;
}

namespace {

// A chain of a round: a stage chain, or (stage 0) an estimate chain.
struct Task {
  StageChain* stage_chain;
  HypothesisEstimates* estimate_chain;
  std::int64_t niter;
  double cost;
  double sweep_cost;
  std::size_t hypothesis;
  std::size_t stage;

  std::int64_t sweeps() const { return stage_chain != nullptr ? stage_chain->sweeps() : estimate_chain->sweeps(); }
  void run_to(std::int64_t niter_reached) const {
    if (stage_chain != nullptr) {
      stage_chain->run_to(niter_reached);
    } else {
      estimate_chain->run_to(niter_reached);
    }
  }
};

}  // namespace

void run_chains(std::vector<HypothesisChains>& chains, std::vector<std::unique_ptr<HypothesisEstimates>>& estimates,
                const std::vector<HypothesisResult>& results, const std::vector<std::size_t>& which,
                const ItemShapes& items, int threads, Progress& progress) {
  std::vector<Task> tasks;
  double total = 0.0;
  for (std::size_t h : which) {
    const std::int64_t niter = results[h].niter;
    // With complexity_niter the complexity chains run to their own sweeps once, in the
    // first round; the fit's follow the doublings of precision mode.
    const std::int64_t complexity_niter = results[h].complexity_sweeps();
    // A complexity known exactly or reused has no chains (set_up_chains); grouped
    // hypotheses may have more stages in one phase than in the other.
    for (std::size_t t = 0; t < std::max(chains[h].fit.size(), chains[h].complexity.size()); ++t) {
      if (t < chains[h].complexity.size() && chains[h].complexity[t].sweeps() < complexity_niter) {
        StageChain& complexity = chains[h].complexity[t];
        const double complexity_cost = sweep_cost(t + 1, items.prior_a, items.prior_b);
        tasks.push_back({&complexity, nullptr, complexity_niter,
                         static_cast<double>(complexity_niter - complexity.sweeps()) * complexity_cost,
                         complexity_cost, h, t + 1});
        total += tasks.back().cost;
      }
      if (t >= chains[h].fit.size()) continue;
      StageChain& fit = chains[h].fit[t];
      const double fit_cost = sweep_cost(t + 1, items.posterior_a, items.posterior_b);
      tasks.push_back({&fit, nullptr, niter, static_cast<double>(niter - fit.sweeps()) * fit_cost, fit_cost, h, t + 1});
      total += tasks.back().cost;
    }
    // The chains of the levels of split stages (rare_stages.hpp).
    for (const bool is_fit : {false, true}) {
      std::vector<StageSplit>& splits = is_fit ? chains[h].fit_split : chains[h].complexity_split;
      for (std::size_t t = 0; t < splits.size(); ++t) {
        const double cost = sweep_cost(t + 2, is_fit ? items.posterior_a : items.prior_a,
                                       is_fit ? items.posterior_b : items.prior_b);
        const std::int64_t sweeps = is_fit ? niter : complexity_niter;
        for (StageChain& level : splits[t].chains) {
          if (level.sweeps() >= sweeps) continue;
          tasks.push_back({&level, nullptr, sweeps, static_cast<double>(sweeps - level.sweeps()) * cost, cost, h, t + 1});
          total += tasks.back().cost;
        }
      }
    }
  }
  for (std::size_t h = 0; h < estimates.size(); ++h) {
    if (!estimates[h]) continue;
    HypothesisEstimates& chain = *estimates[h];
    if (chain.sweeps() >= chain.niter()) continue;
    const double cost = sweep_cost(estimates[h]->restrictions() + 1, items.posterior_a, items.posterior_b);
    tasks.push_back({nullptr, &chain, chain.niter(), static_cast<double>(chain.niter() - chain.sweeps()) * cost, cost, h, 0});
    total += tasks.back().cost;
  }
  std::stable_sort(tasks.begin(), tasks.end(), [](const Task& x, const Task& y) { return x.cost > y.cost; });
  progress.start_round(total);
  run_in_parallel(tasks.size(), threads, [&](std::size_t i, const ParallelRound& round) {
    const Task& task = tasks[i];
    while (task.sweeps() < task.niter) {
      if (progress.cancelled()) throw Cancelled();
      if (round.failed()) return;  // another chain failed: the round's counts are not used
      const std::int64_t from = task.sweeps();
      task.run_to(std::min(task.niter, from + kProgressStep));
      progress.advance(static_cast<double>(task.sweeps() - from) * task.sweep_cost, results[task.hypothesis].name,
                       task.stage, std::max(chains[task.hypothesis].fit.size(), chains[task.hypothesis].complexity.size()),
                       task.sweeps(), task.niter);
    }
  });
}

void count_stages(HypothesisResult& result, const HypothesisChains& chains) {
  // A complexity reused has no chains: its stage and level counts were given.
  if (!result.complexity_reused) {
    result.complexity_stages.clear();
    for (const StageChain& chain : chains.complexity) result.complexity_stages.push_back(chain.count());
    result.complexity_levels = level_counts(chains.complexity_split);
  }
  result.fit_stages.clear();
  for (const StageChain& chain : chains.fit) result.fit_stages.push_back(chain.count());
  result.fit_levels = level_counts(chains.fit_split);
  if (!result.complexity_exact) {
    result.complexity =
        share_product(result.complexity_stages, result.complexity_levels, result.complexity_sweeps());
  }
  if (!result.fit_exact) result.fit = share_product(result.fit_stages, result.fit_levels, result.niter);
  result.bf_unconstrained = model::factor_against_unconstrained(result.fit, result.complexity);
  result.bf_complement = model::factor_against_complement(result.bf_unconstrained, result.fit, result.complexity);
}

}  // namespace propbf::evaluate
