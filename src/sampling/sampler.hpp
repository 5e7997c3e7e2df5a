// Stage-wise Gibbs estimation of the share of a product of beta distributions in which
// a chain of linear restrictions holds, in double precision.
//
// Stage t (t = 1 ... T) draws, one item at a time in item order, from the distribution
// truncated to the region where restrictions 1 ... t-1 hold, starting every stage from
// the same interior point; after each sweep it counts a hit when restrictions 1 ... t
// all hold (strictly). Where restrictions 1 ... t-1 hold a narrow band, each sweep ends
// with a move along it (band_move.hpp). The share is the product of the T stage shares
// hits / niter.
// Every sweep counts (no burn-in, no thinning).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "sampling/band_move.hpp"
#include "sampling/row_filter.hpp"
#include "sampling/beta_functions.hpp"
#include "problem/language.hpp"
#include "sampling/stream.hpp"

namespace propbf::evaluate {

struct StageCount {
  std::int64_t hits = 0;
  // The effective number of independent sweeps, from the hit sequence by batch means:
  // B = the integer cube root of niter batches of m = floor(niter / B) sweeps (the last
  // niter - B m sweeps are not batched), p = the batched hit share,
  // sigma^2 = m / (B - 1) * sum_b (batch share_b - p)^2, and
  // effective = niter * p (1 - p) / sigma^2 / (t / z)^2, at most niter, where
  // t / z = t_0.975(B - 1) / z_0.975 widens the interval for the estimated variance.
  // It is niter when the hit sequence has no variance (all hits or none) or when B < 2.
  double effective_sweeps = 0.0;
  // The correlation of neighbouring batch shares, sum_b (share_b - p)(share_b+1 - p) /
  // sum_b (share_b - p)^2 (0 without variance or with fewer than 3 batches).
  double batch_correlation = 0.0;
  // False when the hits cannot carry an interval (error_measured, below): fewer than
  // kFewHits hits, or batches too short for the chain's memory. The corrected interval
  // then understates the error, and the chain may not yet have forgotten its start.
  bool error_measured = true;
};

inline constexpr double kEffectivePerBatch = 4.0;
inline constexpr std::int64_t kFewHits = 10;
// Kept values (method.md): refreshed every kRefreshSweeps sweeps; a restriction is read
// term by term when its kept value lies within kKeptMargin times its scale of deciding.
inline constexpr std::int64_t kRefreshSweeps = 16;
inline constexpr double kKeptMargin = 1e-9;

struct Simplex;

struct ChainSettings {
  std::int64_t niter = 0;
  StreamSeed seed = 0;
  std::uint64_t key = 0;  // the hypothesis's (hypothesis_key): part of every stream's key
  StreamKind phase = StreamKind::ComplexitySweeps;
};

// shape_a[j], shape_b[j]: item j's beta distribution; start: inside every restriction.
// The stages are those of stage_ends (below). The stream of stage t is CounterStream(seed, key, phase, t), one deviate per
// item per sweep. Runs the stages one after the other, counting the batches as it goes:
// the plain form of what StageChain does, kept to check it against.
// With a simplex, coupled coordinates take scaled_draw (below) and bands that move them
// are left out.
std::vector<StageCount> run_stage_chain(const std::vector<Restriction>& restrictions, const std::vector<double>& start,
                                        const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                                        const ChainSettings& settings, const Simplex* simplex = nullptr);

// The chain of one stage, which can be continued: it keeps its state, its stream
// position and its hit sequence (one bit per sweep), so that a chain run to n sweeps and
// later continued to 2n gives the same counts, byte for byte, as one run straight to 2n,
// and its effective sweeps are formed from the batches a run of that length forms.
// Chains of different stages share nothing: each may run on its own thread. The chain
// keeps what it needs of the restrictions and shapes.
// The interval an item may take: [low, up], empty when low >= up.
struct ItemBounds {
  double low;
  double up;
};

// The restrictions of a hypothesis as the chains read them: each restriction's nonzero
// terms in item order and, per item, the restrictions that involve it (in order, with
// the item's coefficient). Memory in proportion to the nonzero coefficients; shared by
// all chains of the hypothesis.
//
// A restriction on one item alone, g x > c, does not depend on the other items: it
// bounds the item by c / g, and holds, as g x > c is computed, exactly on the doubles x
// from a threshold on (g > 0) or up to one (g < 0). Per item such restrictions are kept
// apart, with the bounds and thresholds of each leading run of them, so that a stage's
// chain finds what its first t of them leave the item once, not in every sweep.
class SparseRestrictions {
 public:
  explicit SparseRestrictions(const std::vector<Restriction>& restrictions, std::size_t items);

  // What the restrictions on item j alone among the first `limit` leave it: the bounds
  // [0, 1] cut by each (low = the largest of 0 and the lower bounds, up = the smallest of 1
  // and the upper ones), and the doubles on which they all hold: x >= least and
  // x <= most (NaN: on none). `any`: there is such a restriction.
  struct Alone {
    ItemBounds bounds;
    double least;
    double most;
    bool any;
  };
  Alone alone(std::size_t j, std::size_t limit) const;
  // The restrictions on two or more items (or none) that involve item j, in order.
  const std::vector<std::size_t>& shared_restrictions() const { return shared_restrictions_; }

  struct Term {
    std::size_t item;
    double coefficient;
  };
  struct Involvement {
    std::size_t restriction;
    double coefficient;
  };

  std::size_t items() const { return involvement_begin_.size() - 1; }
  std::size_t restrictions() const { return constants_.size(); }
  // The sum of restriction k's absolute coefficients and constant: a bound on the size of
  // every number its value and bounds are formed from while the items lie in [0, 1].
  double scale(std::size_t k) const { return scales_[k]; }
  const Involvement* shared_begin(std::size_t j) const { return shared_.data() + shared_begin_[j]; }
  const Involvement* shared_end(std::size_t j) const { return shared_.data() + shared_begin_[j + 1]; }
  double constant(std::size_t k) const { return constants_[k]; }
  const Term* terms_begin(std::size_t k) const { return terms_.data() + term_begin_[k]; }
  const Term* terms_end(std::size_t k) const { return terms_.data() + term_begin_[k + 1]; }
  const Involvement* involvement_begin(std::size_t j) const { return involvement_.data() + involvement_begin_[j]; }
  const Involvement* involvement_end(std::size_t j) const { return involvement_.data() + involvement_begin_[j + 1]; }
  // The quick check of the restrictions on two or more items (row_filter.hpp), made for
  // grouped hypotheses (grouped_restrictions); null for the others or where not worth it.
  const RowFilter* filter() const { return filter_.get(); }

 private:
  std::shared_ptr<const RowFilter> filter_;
  std::vector<double> constants_;
  std::vector<double> scales_;
  std::vector<Term> terms_;
  std::vector<std::size_t> term_begin_;
  std::vector<Involvement> involvement_;
  std::vector<std::size_t> involvement_begin_;
  std::vector<Involvement> shared_;  // per item, the involvements of restrictions not on it alone
  std::vector<std::size_t> shared_begin_;
  std::vector<std::size_t> shared_restrictions_;  // the restrictions not on one item alone
  // Per item, its restrictions alone in order, each with what it and the earlier ones leave.
  struct AloneRun {
    std::size_t restriction;
    Alone left;
  };
  std::vector<AloneRun> alone_;
  std::vector<std::size_t> alone_begin_;
};

// The interval item j may take with the other items at `state`: [0, 1] cut by each
// restriction involving j whose index is below `restriction_limit` (a stage's chain:
// its earlier restrictions; a chain of the whole hypothesis: all). Empty when low >= up.
// `alone`: the bounds of those on j alone (SparseRestrictions::alone), to which the
// others are added. The largest of the lower bounds and the smallest of the upper ones
// are the same whatever their order (NaN bounds count for nothing), but for the sign of
// an upper bound of zero: the interval is then empty either way, and the middle of its
// ends, the value the chains take for it, the same.
inline ItemBounds item_bounds(const SparseRestrictions& r, std::size_t j, std::size_t restriction_limit,
                              const std::vector<double>& state, ItemBounds alone) {
  double low = alone.low;
  double up = alone.up;
  for (const SparseRestrictions::Involvement* in = r.shared_begin(j); in != r.shared_end(j); ++in) {
    if (in->restriction >= restriction_limit) break;  // involvements are in restriction order
    double rest = 0.0;
    for (const SparseRestrictions::Term* term = r.terms_begin(in->restriction); term != r.terms_end(in->restriction);
         ++term) {
      if (term->item != j) rest += term->coefficient * state[term->item];
    }
    const double bound = (r.constant(in->restriction) - rest) / in->coefficient;
    if (in->coefficient > 0.0) {
      low = std::max(low, bound);
    } else {
      up = std::min(up, bound);
    }
  }
  return {low, up};
}

// item_bounds read from kept values (method.md, "Kept values"): values[k] is restriction
// k's value, coefficients times `state`, formed term by term at most kRefreshSweeps
// sweeps ago and updated as items moved (add_moved). Restrictions whose kept bound lies
// more than the margin outside the interval found so far are skipped, the others read
// term by term: the same interval as item_bounds.
inline ItemBounds kept_item_bounds(const SparseRestrictions& r, std::size_t j, std::size_t restriction_limit,
                                   const std::vector<double>& state, ItemBounds alone,
                                   const std::vector<double>& values) {
  double low = alone.low;
  double up = alone.up;
  const double x = state[j];
  for (const SparseRestrictions::Involvement* in = r.shared_begin(j); in != r.shared_end(j); ++in) {
    const std::size_t k = in->restriction;
    if (k >= restriction_limit) break;
    const double g = in->coefficient;
    const double kept = (r.constant(k) - (values[k] - g * x)) / g;
    const double margin = kKeptMargin * r.scale(k) / std::abs(g);
    if (g > 0.0 ? kept + margin < low : kept - margin > up) continue;
    double rest = 0.0;
    for (const SparseRestrictions::Term* term = r.terms_begin(k); term != r.terms_end(k); ++term) {
      if (term->item != j) rest += term->coefficient * state[term->item];
    }
    const double bound = (r.constant(k) - rest) / g;
    if (g > 0.0) {
      low = std::max(low, bound);
    } else {
      up = std::min(up, bound);
    }
  }
  return {low, up};
}

// Item j moved by `moved`: the kept values of the restrictions below `restriction_limit`
// that involve it follow.
inline void add_moved(const SparseRestrictions& r, std::size_t j, double moved, std::size_t restriction_limit,
                      std::vector<double>& values) {
  if (moved == 0.0) return;
  for (const SparseRestrictions::Involvement* in = r.shared_begin(j); in != r.shared_end(j); ++in) {
    if (in->restriction >= restriction_limit) break;
    values[in->restriction] += in->coefficient * moved;
  }
}

// Restriction k's value at `state`: its coefficients times the state, summed over its
// terms in item order as the hit check sums them.
inline double restriction_value(const SparseRestrictions& r, std::size_t k, const std::vector<double>& state) {
  double value = 0.0;
  for (const SparseRestrictions::Term* term = r.terms_begin(k); term != r.terms_end(k); ++term) {
    value += term->coefficient * state[term->item];
  }
  return value;
}

// The kept values of the shared restrictions below `restriction_limit`, term by term.
void form_values(const SparseRestrictions& r, std::size_t restriction_limit, const std::vector<double>& state,
                 std::vector<double>& values);

// The items' simplexes over the chains' coordinates (categories.hpp): coordinate j is a
// free category of an item whose free categories are the coordinates begin[j] ...
// end[j] - 1 (only j for an item of two categories). Null where no item has more than
// two categories: every draw is then the plain truncated beta.
struct Simplex {
  std::vector<std::size_t> begin;
  std::vector<std::size_t> end;
  // The items of more than two categories, as [begin, end) of their coordinates, in
  // item order (their last category, 1 minus the sum, is estimated from the chains).
  std::vector<std::pair<std::size_t, std::size_t>> items;

  bool coupled(std::size_t j) const { return end[j] - begin[j] > 1; }
};

// Coordinate j of a coupled item given the others at `state` and the interval [low, up]
// the restrictions leave it: with S the sum of the item's other free categories (in
// coordinate order), theta_j = (1 - S) B, B from its beta (shapes alpha_j + n_j,
// alpha_K + n_K) truncated to [low, min(up, 1 - S)] / (1 - S), the product held inside
// [low, up]. An empty interval (rounding on a boundary) gives its middle, as for every
// item.
inline double scaled_draw(const Simplex& simplex, std::size_t j, ItemBounds bounds, const TruncatedBeta& draw,
                          const std::vector<double>& state, CounterStream& stream) {
  double rest = 0.0;
  for (std::size_t i = simplex.begin[j]; i < simplex.end[j]; ++i) {
    if (i != j) rest += state[i];
  }
  const double scale = 1.0 - rest;
  const double low = bounds.low;
  const double up = std::min(bounds.up, scale);
  if (!(low < up) || !(scale > 0.0)) return 0.5 * (low + up);
  const double scaled_low = std::max(0.0, low / scale);
  const double scaled_up = std::min(1.0, up / scale);
  if (!(scaled_low < scaled_up)) return 0.5 * (low + up);
  return std::clamp(scale * draw.draw(scaled_low, scaled_up, stream), low, up);
}

// What the moves along a hypothesis's bands read: the bands, the restrictions and the
// items' shapes of the phase (band_move.hpp).
struct BandMoves {
  std::vector<Band> bands;
  std::vector<Restriction> restrictions;
  std::vector<double> shape_a;
  std::vector<double> shape_b;
};

// The moves of a hypothesis in one phase, or nullptr when it has no band.
std::shared_ptr<const BandMoves> band_moves(const std::vector<Restriction>& restrictions,
                                            const std::vector<double>& shape_a, const std::vector<double>& shape_b);
// The same without the bands that move a coupled coordinate of `simplex` (the move draws
// from a product of betas on its line, which a Dirichlet item is not); all of them when
// `simplex` is null.
std::shared_ptr<const BandMoves> band_moves(const std::vector<Restriction>& restrictions,
                                            const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                                            const Simplex* simplex);

// The stages of a hypothesis of `restrictions` restrictions over `coordinates` items
// (method.md, "Stages for many restrictions"): one stage per restriction, as written,
// while there are at most S = max(kGroupedStages, 2 * coordinates) of them; beyond, S
// stages of consecutive restrictions in the order given, growing geometrically: the
// last ends after restriction T, and stage s (1-based) ends after
// e_s = max(s, e_(s+1) - max(1, floor(e_(s+1) / 3))). Returns each stage's end: the number of restrictions its
// hit check reads (the stage samples truncated to the previous stage's end). The engine's
// grouped hypotheses take their ends from pilot chains instead (pilot.hpp); this rule
// stays the plain form's (run_stage_chain) and the tests'.
inline constexpr std::size_t kGroupedStages = 64;

std::vector<std::size_t> stage_ends(std::size_t restrictions, std::size_t coordinates);

// Whether a hypothesis of `restrictions` restrictions over `coordinates` items has
// grouped stages: more than max(kGroupedStages, 2 * coordinates) restrictions.
inline bool grouped_restrictions(std::size_t restrictions, std::size_t coordinates) {
  return restrictions > std::max(kGroupedStages, 2 * coordinates);
}

// The restrictions a stage's chain reads: it samples truncated to the first `truncated`
// and counts a hit when the first `checked` hold. {0, 0}: those of one restriction per
// stage, stage t truncated to t - 1 and checking t.
struct StageRange {
  std::size_t truncated = 0;
  std::size_t checked = 0;
};

class StageChain {
 public:
  // stage: 1 ... restrictions.size(); settings.niter is not used. bands: find_bands of
  // the restrictions, shared by the chains of a hypothesis (found here when not given).
  StageChain(const std::vector<Restriction>& restrictions, std::size_t stage, const std::vector<double>& start,
             const std::vector<double>& shape_a, const std::vector<double>& shape_b, const ChainSettings& settings);
  // The same with what the chains of a hypothesis and phase share: the restrictions, the
  // items' draws (item_draws) and the moves along its bands (none: nullptr).
  StageChain(std::shared_ptr<const SparseRestrictions> restrictions, std::size_t stage, const std::vector<double>& start,
             std::shared_ptr<const std::vector<TruncatedBeta>> draws, const ChainSettings& settings,
             std::shared_ptr<const BandMoves> bands = nullptr, std::shared_ptr<const Simplex> simplex = nullptr,
             StageRange range = {});

  // Continues the chain until it has run `niter` sweeps (nothing when it has already).
  void run_to(std::int64_t niter);
  // The same, calling `after_sweep` with the state after each sweep (the pilots of
  // grouped stage ends: pilot.hpp).
  void run_to(std::int64_t niter, const std::function<void(const std::vector<double>&)>& after_sweep);
  // The restrictions the chain is truncated to: [0, truncated()).
  std::size_t truncated() const { return range_.truncated; }
  std::int64_t sweeps() const { return sweeps_; }
  // Hits and effective sweeps over the sweeps run so far.
  StageCount count() const;
  // The state after the sweeps run so far (the pilots of rare stages, engine/rare_stages.hpp).
  const std::vector<double>& state() const { return state_; }

 private:
  // One sweep, as the plain form's, with each item's bounds from the restrictions that
  // involve it and only their nonzero terms.
  bool sweep();
  // The same sweep for grouped stages (method.md, "Kept values"): the same draws, bounds
  // and hits, reading the restrictions that cannot bind or decide from kept values.
  bool kept_sweep();
  // Every kept value from the state, term by term.
  void refresh_values();

  std::shared_ptr<const SparseRestrictions> restrictions_;
  StageRange range_;  // the restrictions truncated to and checked
  std::shared_ptr<const std::vector<TruncatedBeta>> draws_;  // per item
  CounterStream stream_;
  std::shared_ptr<const BandMoves> bands_;  // those of this stage are moved along after each sweep
  std::shared_ptr<const Simplex> simplex_;  // null: no coupled coordinate
  // Per item, the bounds its restrictions alone among 1 ... stage - 1 put on it; per item
  // with restrictions alone among 1 ... stage, where they all hold.
  std::vector<ItemBounds> alone_bounds_;
  struct AloneCheck {
    std::size_t item;
    double least;
    double most;
  };
  std::vector<AloneCheck> alone_checks_;
  std::vector<double> state_;
  // Grouped stages keep each shared restriction's value (coefficients times state) among
  // 1 ... checked (1 ... truncated where the restrictions have a filter, which checks the
  // hit) while they run (run_to), updated as items move and refreshed every
  // kRefreshSweeps sweeps; empty between runs.
  bool kept_ = false;
  std::size_t kept_limit_ = 0;
  std::vector<double> values_;
  std::int64_t sweeps_ = 0;
  std::int64_t hits_ = 0;
  std::vector<std::uint64_t> hit_bits_;  // bit s % 64 of word s / 64: sweep s was a hit
};

// Item j's truncated draws, for shapes shape_a[j], shape_b[j].
std::vector<TruncatedBeta> item_draws(const std::vector<double>& shape_a, const std::vector<double>& shape_b);

// The number of batches of a chain of niter sweeps: the integer cube root of niter, so
// that a batch holds about niter^(2/3) sweeps, long enough to outlast the correlation of
// slow chains.
std::int64_t batch_count(std::int64_t niter);

// Effective sweeps of a 0/1 sequence by batch means, as described for StageCount.
double batch_means_effective_sweeps(const std::vector<std::int64_t>& batch_hits, std::int64_t batch_size,
                                    std::int64_t niter);

// The effective sweeps discounted for what batches that still correlate hide: with 10
// batches or more and a positive correlation rho of neighbouring batch shares,
// effective_sweeps (1 - rho) / (1 + rho) (the variance of a mean of batches that follow
// an autoregression of lag-one correlation rho grows by (1 + rho) / (1 - rho));
// otherwise effective_sweeps.
double discounted_effective_sweeps(const StageCount& count, std::int64_t batches);

// Whether a stage's count (hits, effective sweeps and batch correlation set) over
// `batches` batches carries a trustworthy interval: at least kFewHits hits, and, with 2
// batches or more, at least kEffectivePerBatch discounted effective sweeps per batch
// (at 20000 sweeps, 27 batches: 108). A moderate correlation of thousands of effective
// sweeps passes (0.70 with 18319 of 20000 leaves 3232); a chain whose batches are
// shorter than its memory does not.
bool error_measured(const StageCount& count, std::int64_t batches);

// The count of a stage with `hits` hits in niter sweeps whose first batches (of
// batch_size sweeps) held batch_hits: effective sweeps, batch correlation and whether
// the error was measured, as described for StageCount.
StageCount stage_count(std::int64_t hits, const std::vector<std::int64_t>& batch_hits, std::int64_t batch_size,
                       std::int64_t niter);

}  // namespace propbf::evaluate
