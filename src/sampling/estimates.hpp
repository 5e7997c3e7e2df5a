// Estimates of the proportions: posterior mean, standard deviation and 95% equal-tailed
// credible interval per item, for the unconstrained model (exact, from each item's beta
// posterior) and under a hypothesis (from a chain that samples the posterior restricted
// by all the hypothesis's restrictions).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "problem/language.hpp"
#include "sampling/stream.hpp"

namespace propbf::evaluate {

struct ItemEstimate {
  std::string name;
  double mean = 0.0;
  double sd = 0.0;
  double lower = 0.0;  // 2.5% quantile
  double upper = 0.0;  // 97.5% quantile
  // Monte Carlo standard errors of mean, lower and upper (0 where they are exact; NaN
  // where a chain was too short to measure them), from EstimateChain.
  double mean_mcse = 0.0;
  double lower_mcse = 0.0;
  double upper_mcse = 0.0;
};

// Beta(a, b) exactly: mean a / (a + b), sd sqrt(a b / ((a + b)^2 (a + b + 1))), and the
// 0.025 and 0.975 quantiles by inverting the regularized incomplete beta function.
ItemEstimate beta_estimate(const std::string& name, double a, double b);

// The restricted chain's sweeps: the first niter / 10 are dropped (burn-in); the mean and
// sd are those of the values of the other niter - niter / 10 sweeps (divisor: their
// number). For the quantiles each coordinate keeps at most kept_draws_per_coordinate(n)
// values, n the coordinates: every `step`-th sweep after the burn-in, step = ceil(after
// burn-in / cap), counted from the first; of its m kept values, the interval ends are the
// ceil(0.025 m)-th and ceil(0.975 m)-th smallest (counted from 1).
//
// Their Monte Carlo standard errors:
// - the mean's by batch means over the sweeps after the burn-in: B = batch_count(n)
//   batches of m = floor(n / B) sweeps (n the sweeps after the burn-in; the last n - B m
//   not batched), batch means y_b with mean y, mcse = sqrt(sum_b (y_b - y)^2 / (B (B - 1)));
//   the batch means' spread is gathered as the chain runs (Welford over the batches);
// - an interval end's by sectioning the kept values: B' = batch_count(m) sections of
//   s = floor(m / B') consecutive kept values, q_b the section's end (its ceil(0.025 s)-th
//   or ceil(0.975 s)-th smallest), q the reported end, mcse = sqrt(sum_b (q_b - q)^2 /
//   (B' (B' - 1))).
// NaN with fewer than 2 batches or sections.
inline constexpr std::int64_t kMostKeptDraws = 20000;       // per coordinate
inline constexpr std::int64_t kFewestKeptDraws = 1000;      // per coordinate, however many there are
inline constexpr std::int64_t kKeptDrawsPerChain = 4000000;  // spread over the coordinates
std::int64_t kept_draws_per_coordinate(std::size_t coordinates);
// The interval ends of m > 0 kept values, and their errors by sectioning, as above.
void interval_from_kept(const std::vector<double>& kept, ItemEstimate& estimate);

struct EstimateChainSettings {
  std::int64_t niter = 0;
  StreamSeed seed{0};
  std::uint64_t key = 0;  // the hypothesis's (hypothesis_key): the stream is (seed, key, EstimateSweeps, 0)
  // Grouped hypotheses (method.md, "Estimates of the proportions"): below the number of
  // restrictions, a sweep draws from the posterior truncated to restrictions
  // [0, truncated) (the last fit stage's), again until every restriction holds.
  std::size_t truncated = static_cast<std::size_t>(-1);
};

// Estimates per sampled coordinate (names left empty) under the restrictions: shape_a[j],
// shape_b[j] are coordinate j's beta posterior, start lies inside every restriction.
// The chain is the stage chains' sweep for the stage after the last, so each coordinate
// is drawn from its beta truncated to what all restrictions leave it, in coordinate
// order, followed by one move along each band of the restrictions (band_move.hpp).
// A coordinate no restriction involves is independent of the others under the
// restricted posterior: it is not drawn, and its estimate is the exact beta_estimate
// (so with no restriction at all, no chain runs).
//
// The chain can be run in pieces (run_to); run to settings.niter, it gives what one
// run straight there gives. It reads its inputs where the caller keeps them.
//
// With a simplex (sampler.hpp), the coupled coordinates are drawn as the stage chains
// draw them (scaled_draw), an item's coordinates all drawn when a restriction involves
// one of them, and estimates() adds, after those per coordinate, one per item of
// simplex->items: of its last category, 1 minus the sum of its coordinates (in
// coordinate order); an item not drawn gets zeros there (its caller has the exact ones).
//
// `sparse`, when given, is `restrictions` over the coordinates of `start` as the stage
// chains of the hypothesis already read them (SparseRestrictions(restrictions,
// start.size())): the chain reads that one copy instead of making its own, which for a
// large matrix is most of a run's memory.
struct Simplex;
class SparseRestrictions;
class EstimateChain {
 public:
  EstimateChain(const std::vector<Restriction>& restrictions, const std::vector<double>& start,
                const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                const EstimateChainSettings& settings, const Simplex* simplex = nullptr,
                std::shared_ptr<const SparseRestrictions> sparse = nullptr);
  EstimateChain(const EstimateChain&) = delete;
  EstimateChain& operator=(const EstimateChain&) = delete;
  ~EstimateChain();

  // Continues the chain to `sweeps` sweeps (at most settings.niter; nothing when it has
  // run them already). A chain that draws nothing has run its sweeps from the start.
  void run_to(std::int64_t sweeps);
  std::int64_t sweeps() const { return sweeps_; }
  std::int64_t niter() const { return niter_; }
  // The estimates, once the chain has run settings.niter sweeps (and before release()).
  std::vector<ItemEstimate> estimates() const;
  // Frees what the sweeps kept, once the estimates are taken.
  void release();

  // The coordinates the chain draws (some restriction involves them), in order; the
  // others stay at their start.
  const std::vector<std::size_t>& drawn() const { return drawn_; }
  // Called after every sweep past the burn-in, with its number counted from the first
  // of them (0, 1, ..., niter - niter / 10 - 1) and the chain's state; set before the
  // chain runs. A chain that draws nothing calls it never.
  using Observer = std::function<void(std::int64_t counted, const std::vector<double>& state)>;
  void set_observer(Observer observer) { observer_ = std::move(observer); }

 private:
  struct State;
  // Sweeps in a row outside the hypothesis after which a grouped chain stops truncating
  // to fewer restrictions (grouped_sweep).
  static constexpr std::int64_t kGroupedTries = 4096;
  void grouped_sweep(State& c) const;
  // The chain's inputs, which must outlive it; its working state is made when it first
  // runs, so that chains set up long before they run hold little.
  const std::vector<Restriction>& restrictions_;
  const std::vector<double>& start_;
  const std::vector<double>& shape_a_;
  const std::vector<double>& shape_b_;
  EstimateChainSettings settings_;
  const Simplex* simplex_;
  std::shared_ptr<const SparseRestrictions> sparse_;  // null: the working state makes its own
  std::vector<std::size_t> drawn_;  // the coordinates some restriction involves
  std::vector<std::size_t> remainders_;  // the items of simplex_->items drawn, by index there
  std::unique_ptr<State> state_;    // what the sweeps read and update
  Observer observer_;
  std::int64_t niter_;
  std::int64_t sweeps_ = 0;
};

// One EstimateChain run straight to settings.niter.
std::vector<ItemEstimate> restricted_estimates(const std::vector<Restriction>& restrictions,
                                               const std::vector<double>& start, const std::vector<double>& shape_a,
                                               const std::vector<double>& shape_b,
                                               const EstimateChainSettings& settings);

}  // namespace propbf::evaluate
