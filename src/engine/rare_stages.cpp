#include "engine/rare_stages.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <memory>
#include <utility>

#include "engine/parallel.hpp"

namespace propbf::evaluate {

std::optional<double> next_level_bound(std::vector<double> values, double current, double constant) {
  if (values.empty()) return std::nullopt;
  std::size_t above = 0;
  for (double value : values) {
    if (!std::isfinite(value)) return std::nullopt;
    if (value > constant) ++above;
  }
  const auto n = static_cast<double>(values.size());
  const bool first = current == -std::numeric_limits<double>::infinity();
  if (static_cast<double>(above) >= (first ? kSplitShare : kLevelShare) * n) return std::nullopt;
  const auto exceeding = static_cast<std::size_t>(std::ceil(kLevelShare * n));
  if (exceeding >= values.size()) return std::nullopt;
  const auto at = values.begin() + static_cast<std::ptrdiff_t>(values.size() - exceeding - 1);
  std::nth_element(values.begin(), at, values.end());
  const double bound = *at;
  if (!(bound > current) || !(bound < constant)) return std::nullopt;
  return bound;
}

std::vector<double> choose_level_bounds(double constant,
                                        const std::function<std::vector<double>(std::size_t, double)>& pilot) {
  std::vector<double> bounds;
  double current = -std::numeric_limits<double>::infinity();
  while (bounds.size() + 1 < kMaxLevels) {
    const std::optional<double> next = next_level_bound(pilot(bounds.size(), current), current, constant);
    if (!next) break;
    bounds.push_back(*next);
    current = *next;
  }
  if (!bounds.empty()) bounds.push_back(constant);
  return bounds;
}

namespace {

// Restrictions 1 ... t - 1 of the inputs followed by restriction t at each constant given.
std::vector<Restriction> relaxed(const PhaseChainInputs& inputs, std::size_t t,
                                 std::initializer_list<double> constants) {
  std::vector<Restriction> list(inputs.restrictions.begin(),
                                inputs.restrictions.begin() + static_cast<std::ptrdiff_t>(t - 1));
  for (double constant : constants) {
    Restriction restriction = inputs.restrictions[t - 1];
    restriction.constant = constant;
    list.push_back(std::move(restriction));
  }
  return list;
}

// A chain of stage t (stream word `word`) over `list` from `start`, truncated to its first
// `truncated` restrictions and checking its first `checked`; `bands`: its moves.
StageChain chain_over(const PhaseChainInputs& inputs, const std::vector<Restriction>& list,
                      const std::vector<double>& start, std::uint64_t word, const ChainSettings& settings,
                      std::shared_ptr<const BandMoves> bands, std::size_t truncated, std::size_t checked) {
  return StageChain(std::make_shared<const SparseRestrictions>(list, inputs.space), static_cast<std::size_t>(word),
                    start, inputs.draws, settings, std::move(bands), inputs.simplex, StageRange{truncated, checked});
}

// The moves of the chains truncated to `list` (all of it).
std::shared_ptr<const BandMoves> moves_over(const PhaseChainInputs& inputs, const std::vector<Restriction>& list) {
  return band_moves(list, inputs.shape_a, inputs.shape_b, inputs.simplex.get());
}

// What a pilot leaves: its values of g x, its last state, and its last kRecentStates
// states with their values (a start for the next level's pilot).
struct PilotRun {
  std::vector<double> values;
  std::vector<double> last_state;
  std::vector<std::pair<double, std::vector<double>>> recent;
};

constexpr std::size_t kRecentStates = 100;

// The pilot of stage t at level l (0: the stage's own distribution; l > 0: truncated to
// g x > bound) from `start`.
PilotRun run_pilot(const PhaseChainInputs& inputs, std::size_t t, std::size_t level, double bound,
                   const std::vector<double>& start) {
  ChainSettings settings = inputs.settings;
  settings.phase = inputs.settings.phase == StreamKind::FitSweeps ? StreamKind::FitPilot : StreamKind::ComplexityPilot;
  const std::size_t k = t - 1;
  const std::vector<Restriction> list =
      level == 0 ? std::vector<Restriction>(inputs.restrictions.begin(),
                                            inputs.restrictions.begin() + static_cast<std::ptrdiff_t>(t))
                 : relaxed(inputs, t, {bound});
  const auto sparse = std::make_shared<const SparseRestrictions>(list, inputs.space);
  // Level 0 samples restrictions 1 ... t - 1 with the hypothesis's moves; a level above,
  // restriction t relaxed too, with the moves of that list.
  StageChain chain(sparse, static_cast<std::size_t>(stage_word(t, level)), start, inputs.draws, settings,
                   level == 0 ? inputs.bands : moves_over(inputs, list), inputs.simplex,
                   level == 0 ? StageRange{k, t} : StageRange{t, t});
  PilotRun run;
  run.values.reserve(static_cast<std::size_t>(kPilotSweeps));
  for (std::int64_t s = 1; s <= kPilotSweeps; ++s) {
    chain.run_to(s);
    run.values.push_back(restriction_value(*sparse, k, chain.state()));
    if (s > kPilotSweeps - static_cast<std::int64_t>(kRecentStates)) {
      run.recent.emplace_back(run.values.back(), chain.state());
    }
  }
  run.last_state = chain.state();
  return run;
}

struct PilotTask {
  std::size_t hypothesis;
  bool fit;
  std::size_t stage;  // t, from 1
};

// A stage's levels: their bounds and the starts of the chains of levels 2 ... L.
struct ChosenLevels {
  std::vector<double> bounds;
  std::vector<std::vector<double>> starts;
};

}  // namespace

void split_rare_stages(std::vector<HypothesisChains>& chains, int threads, const Progress& progress) {
  std::vector<PilotTask> tasks;
  for (std::size_t h = 0; h < chains.size(); ++h) {
    for (const bool fit : {false, true}) {
      const PhaseChainInputs* inputs = (fit ? chains[h].fit_inputs : chains[h].complexity_inputs).get();
      if (inputs == nullptr) continue;  // no chains, or grouped stages
      for (std::size_t t = 1; t <= inputs->restrictions.size(); ++t) tasks.push_back({h, fit, t});
    }
  }
  std::vector<ChosenLevels> chosen(tasks.size());
  run_in_parallel(tasks.size(), threads, [&](std::size_t i, const ParallelRound& round) {
    const PilotTask& task = tasks[i];
    const PhaseChainInputs& inputs =
        *(task.fit ? chains[task.hypothesis].fit_inputs : chains[task.hypothesis].complexity_inputs);
    // Each level's pilot starts from the latest of the previous pilot's last states above
    // its bound (the hypothesis's start when none is), so that it need not creep there.
    std::vector<PilotRun> runs;
    chosen[i].bounds =
        choose_level_bounds(inputs.restrictions[task.stage - 1].constant, [&](std::size_t level, double bound) {
          if (progress.cancelled()) throw Cancelled();
          if (round.failed()) return std::vector<double>{};  // another task failed: nothing is used
          const std::vector<double>* start = &inputs.start;
          if (level > 0) {
            for (auto at = runs.back().recent.rbegin(); at != runs.back().recent.rend(); ++at) {
              if (at->first > bound) {
                start = &at->second;
                break;
              }
            }
          }
          runs.push_back(run_pilot(inputs, task.stage, level, bound, *start));
          return runs.back().values;
        });
    // The chain of level l samples what the pilot of level l - 1 did: it starts where
    // that pilot ended.
    for (std::size_t l = 2; l <= chosen[i].bounds.size(); ++l) {
      chosen[i].starts.push_back(l - 1 < runs.size() ? runs[l - 1].last_state : inputs.start);
    }
  });
  // Terms of the split chains' restrictions so far, per hypothesis and phase (stages in
  // order): a stage whose levels would pass kSplitTerms is left as it is.
  std::vector<std::array<std::size_t, 2>> terms(chains.size(), {0, 0});
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    if (chosen[i].bounds.empty()) continue;
    const PilotTask& task = tasks[i];
    HypothesisChains& hypothesis = chains[task.hypothesis];
    const PhaseChainInputs& inputs = *(task.fit ? hypothesis.fit_inputs : hypothesis.complexity_inputs);
    std::size_t stage_terms = 0;
    for (std::size_t k = 0; k <= task.stage - 1; ++k) {
      for (double g : inputs.restrictions[k].coefficients) stage_terms += g != 0.0 ? 1 : 0;
    }
    std::size_t& used = terms[task.hypothesis][task.fit ? 1 : 0];
    const std::size_t needed = (stage_terms + inputs.space) * chosen[i].bounds.size();
    if (used + needed > kSplitTerms) continue;
    used += needed;
    std::vector<StageChain>& stage_chains = task.fit ? hypothesis.fit : hypothesis.complexity;
    std::vector<StageSplit>& splits = task.fit ? hypothesis.fit_split : hypothesis.complexity_split;
    splits.resize(stage_chains.size());
    const std::size_t t = task.stage;
    const std::vector<double>& b = chosen[i].bounds;
    // Level 1: the stage's own chain (same stream, restrictions 1 ... t - 1 and moves, so
    // the same draws) counting g x > b_1.
    stage_chains[t - 1] = chain_over(inputs, relaxed(inputs, t, {b[0]}), inputs.start, stage_word(t, 0),
                                     inputs.settings, inputs.bands, t - 1, t);
    StageSplit& split = splits[t - 1];
    split.bounds = b;
    for (std::size_t l = 2; l <= b.size(); ++l) {
      const std::vector<Restriction> truncation = relaxed(inputs, t, {b[l - 2]});
      split.chains.push_back(chain_over(inputs, relaxed(inputs, t, {b[l - 2], b[l - 1]}), chosen[i].starts[l - 2],
                                        stage_word(t, l - 1), inputs.settings, moves_over(inputs, truncation), t,
                                        t + 1));
    }
  }
}

}  // namespace propbf::evaluate
