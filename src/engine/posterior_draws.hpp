// What a hypothesis's restricted posterior gives beyond its estimates, from the sweeps
// of its estimate chain: the posterior predictive p-value of Pearson's X^2 and, on
// request, thinned draws of every parameter (the posterior samples).
//
// A draw θ of the restricted posterior is the chain's state after a sweep past the
// burn-in, spread over the items as the estimates are (a group of tied items gives each
// item its value, or 1 minus it for an item tied to the complement; an item held at a
// point value has it; an aggregated item's categories but c are (1 − θ_c) times a draw of
// their Dirichlet share, by successive betas, after the coordinates' exact draws); what
// the chain does not draw (a coordinate no restriction
// involves, independent of the others under the hypothesis) is drawn exactly from its
// posterior on the draw's own stream: a coordinate from its beta, an item of more than
// two categories from its Dirichlet as successive betas, θ_c = (1 − S) B_c with
// B_c ~ Beta(α'_c, α'_{c+1} + … + α'_K) and S the sum of the categories before c.
// An item whose equalities leave three or more merged categories and that no restriction
// names draws its merged categories so, φ'_g, each category then (1 − s) / m_g φ'_g
// (category_equalities.hpp), a category held at a point its value.
//
// Posterior predictive p-value: at every ppp_step-th sweep after the burn-in (counted
// from the first, ppp_step = ceil(sweeps after the burn-in / kept_draws_per_coordinate(
// items))), replicated counts y_rep_i ~ Multinomial(n_i, θ_i) per item (a binomial item
// has the categories successes and failures), and
//   X²(y, θ) = Σ_i Σ_c (y_ic − n_i θ_ic)² / (n_i θ_ic)
// (pearson_item, summed in item order); ppp = the share of those sweeps with
// X²(y_rep, θ) >= X²(y_obs, θ). Its numbers come from the stream (seed, hypothesis key,
// PredictiveReplications, 0): per sweep the exact draws above, then the replicated
// counts item by item.
//
// Samples: at every thin-th sweep after the burn-in (thin = Settings::thin, by default
// ceil(sweeps after the burn-in / kMostSampleRows)) one row: per item its proportion
// (binomial) or all its categories; the exact draws from the stream (seed, hypothesis
// key, PosteriorSamples, 0). Memory: 8 bytes per value kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "problem/problem.hpp"
#include "sampling/stream.hpp"

namespace propbf::evaluate {

inline constexpr std::int64_t kMostSampleRows = 10000;  // per hypothesis, unless thin is given

// What the draws read of the problem's items.
struct PredictiveItems {
  std::vector<std::size_t> categories;  // K per item (2 for a binomial item)
  std::vector<bool> categorical;        // an item of categories: its samples show every category
  std::vector<std::size_t> first;       // per item its first free parameter; first[items] = parameters
  std::vector<std::size_t> offset;      // per item its first category among all; offset[items] = their number
  std::vector<std::int64_t> counts;     // per category (at offset), the observed counts
  std::vector<double> posterior;        // per category, the posterior concentration α_c + n_c (a + k, b + n − k)
  std::vector<std::string> columns;     // of the samples
};

PredictiveItems predictive_items(const std::vector<Item>& items);

// Every how many sweeps after the burn-in (of `after`) a draw is taken.
std::int64_t ppp_step(std::int64_t after, std::size_t items);
std::int64_t sample_step(std::int64_t after, const std::optional<std::int64_t>& thin);

struct SampledCoordinates;  // hypothesis_estimates.hpp

class PosteriorDraws {
 public:
  // `sampled` and `items` must outlive it; `drawn` are the coordinates the chain draws.
  PosteriorDraws(const PredictiveItems& items, const SampledCoordinates& sampled, std::vector<std::size_t> drawn,
                 std::int64_t niter, StreamSeed seed, std::uint64_t key, bool keep_samples,
                 const std::optional<std::int64_t>& thin);
  PosteriorDraws(const PosteriorDraws&) = delete;
  PosteriorDraws& operator=(const PosteriorDraws&) = delete;
  ~PosteriorDraws();

  // The chain's sweep `counted` after the burn-in, its state `state`.
  void observe(std::int64_t counted, const std::vector<double>& state);
  // For a chain that draws nothing: every sweep after the burn-in from `state`.
  void observe_all(const std::vector<double>& state);
  // Once every sweep is observed: the p-value, and the samples (taken once).
  double ppp() const;
  std::vector<double> take_samples() { return std::move(samples_); }
  // Frees the working state (the samples stay).
  void release();

 private:
  struct State;
  void fill(const std::vector<double>& state, CounterStream& stream);
  // An item kept as a merged Dirichlet (CollapsedHypothesis::merged): its betas, its draw.
  void set_up_merged(std::size_t j);
  void fill_merged(std::size_t j, double* theta, CounterStream& stream);

  const PredictiveItems& items_;
  const SampledCoordinates& sampled_;
  std::vector<std::size_t> drawn_;
  std::int64_t after_;
  std::int64_t ppp_step_;
  std::int64_t sample_step_;  // 0: no samples
  StreamSeed seed_;
  std::uint64_t key_;
  std::unique_ptr<State> state_;
  std::int64_t draws_ = 0;
  std::int64_t exceeded_ = 0;
  std::vector<double> samples_;
};

}  // namespace propbf::evaluate
