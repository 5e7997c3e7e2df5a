// The other categories of an item aggregated under a hypothesis (problem/equalities.hpp
// AggregatedItem): the hypothesis names its category c alone, tied to another item, so
// under it theta_c is what its group gives and every other category r is
// (1 - theta_c) phi_r, with phi ~ Dirichlet(beta) (beta_r = alpha_r + k_r over the other
// categories, B their sum) independent of theta_c. No chain draws phi.
//
// Estimates of category r, from theta_c's (its group's coordinate, or a point value):
//   mean = (1 - E theta_c) mu_r,  mu_r = beta_r / B                    (exact given E theta_c)
//   sd^2 = E(1 - theta_c)^2 E phi_r^2 - mean^2,  E phi_r^2 = beta_r (beta_r + 1) / (B (B + 1)),
//          E(1 - theta_c)^2 = sd(theta_c)^2 + (1 - E theta_c)^2
//   mcse(mean) = mu_r mcse(E theta_c)
// and the interval's ends by draws: at every step-th sweep of the estimate chain after its
// burn-in (step = ceil(sweeps after the burn-in / kept_draws_per_coordinate(n)), n the
// chain's drawn coordinates and these categories, counted from the first: at most
// 4,000,000 values in all beyond 200), (1 - theta_c) times one draw of phi, by
// successive betas phi_i = (1 - S) B_i, B_i ~ Beta(beta_i, beta_(i+1) + ... ), the last
// taking 1 - S; theta_c is the chain's state, or where the chain does not draw its group,
// an exact draw from the group's beta first. The ends are the ceil(0.025 m)-th and
// ceil(0.975 m)-th smallest of the m products and their errors those of sectioning, as the
// chain's own (sampling/estimates.hpp). The draws come from the stream (seed, hypothesis
// key, AggregatedShares, 0), item by item, so that they change no other number and are
// the same on any number of threads. With theta_c at a point value s, category r is
// (1 - s) phi_r exactly: (1 - s) times the Beta(beta_r, B - beta_r) estimate.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "problem/equalities.hpp"
#include "sampling/beta_functions.hpp"
#include "sampling/estimates.hpp"
#include "sampling/stream.hpp"

namespace propbf::evaluate {

class AggregatedShares {
 public:
  // `items`: the hypothesis's aggregated items; `shape_a`, `shape_b`: the coordinates'
  // posterior betas; `drawn`: the coordinates the chain draws. All must outlive it.
  AggregatedShares(const std::vector<AggregatedItem>& items, const std::vector<double>& shape_a,
                   const std::vector<double>& shape_b, const std::vector<std::size_t>& drawn, std::int64_t niter,
                   StreamSeed seed, std::uint64_t key);
  AggregatedShares(const AggregatedShares&) = delete;
  AggregatedShares& operator=(const AggregatedShares&) = delete;
  ~AggregatedShares();

  // The chain's sweep `counted` after the burn-in, its state `state`.
  void observe(std::int64_t counted, const std::vector<double>& state);
  // For a chain that draws nothing: every sweep after the burn-in from `state`.
  void observe_all(const std::vector<double>& state);
  // Per aggregated item, per category (all K, in order; c's left empty for the caller),
  // given the estimate of theta_c (mean, sd, mcse; ignored at a point value).
  std::vector<std::vector<ItemEstimate>> estimates(const std::vector<ItemEstimate>& theta) const;

 private:
  const std::vector<AggregatedItem>& items_;
  std::vector<bool> drawn_;  // per coordinate
  std::int64_t after_;
  std::int64_t step_;
  CounterStream stream_;
  std::vector<TruncatedBeta> coordinate_betas_;       // per item: its group's (where not drawn)
  std::vector<std::vector<TruncatedBeta>> sticks_;    // per item: Beta(beta_i, beta_(i+1) + ...)
  std::vector<std::vector<std::vector<double>>> kept_;  // per item, per other category: the products
};

}  // namespace propbf::evaluate
