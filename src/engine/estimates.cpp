#include "engine/estimates.hpp"

#include <algorithm>
#include <cmath>
#include <memory>

#include "engine/band_move.hpp"
#include "engine/beta_functions.hpp"
#include "engine/sampler.hpp"
#include "engine/stream.hpp"

namespace propbf::evaluate {

ItemEstimate beta_estimate(const std::string& name, double a, double b) {
  ItemEstimate estimate;
  estimate.name = name;
  const double sum = a + b;
  estimate.mean = a / sum;
  estimate.sd = std::sqrt(a * b / (sum * sum * (sum + 1.0)));
  const std::array<double, 2> interval = beta_central_interval(a, b, 0.025);
  estimate.lower = interval[0];
  estimate.upper = interval[1];
  return estimate;
}

std::int64_t kept_draws_per_coordinate(std::size_t coordinates) {
  const std::int64_t spread = coordinates > 0 ? kKeptDrawsPerChain / static_cast<std::int64_t>(coordinates)
                                              : kMostKeptDraws;
  return std::clamp(spread, kFewestKeptDraws, kMostKeptDraws);
}

namespace {

// The m-th smallest value, counted from 1 (1 <= m <= values.size()).
double order_statistic(std::vector<double>& values, std::int64_t m) {
  const auto at = values.begin() + (m - 1);
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

// ceil(share * m) for share in (0, 1), at least 1: by integers, share as per mille.
std::int64_t ceil_position(std::int64_t per_mille, std::int64_t m) {
  return std::max<std::int64_t>(1, (per_mille * m + 999) / 1000);
}

}  // namespace

std::vector<ItemEstimate> restricted_estimates(const std::vector<Restriction>& restrictions,
                                               const std::vector<double>& start, const std::vector<double>& shape_a,
                                               const std::vector<double>& shape_b,
                                               const EstimateChainSettings& settings) {
  const std::size_t coordinates = start.size();
  const SparseRestrictions r(restrictions, coordinates);
  std::vector<ItemEstimate> estimates(coordinates);
  std::vector<std::size_t> drawn;  // the coordinates some restriction involves
  for (std::size_t j = 0; j < coordinates; ++j) {
    if (r.involvement_begin(j) == r.involvement_end(j)) {
      estimates[j] = beta_estimate("", shape_a[j], shape_b[j]);
    } else {
      drawn.push_back(j);
    }
  }
  if (drawn.empty() || settings.niter < 1) return estimates;

  const std::vector<TruncatedBeta> draws = item_draws(shape_a, shape_b);
  const std::shared_ptr<const BandMoves> bands = band_moves(restrictions, shape_a, shape_b);
  const std::size_t stage = restrictions.size() + 1;  // truncated by every restriction
  CounterStream stream(settings.seed, settings.key, StreamKind::EstimateSweeps, 0);
  std::vector<double> state = start;

  const std::int64_t burn_in = settings.niter / 10;
  const std::int64_t after = settings.niter - burn_in;
  const std::int64_t cap = kept_draws_per_coordinate(drawn.size());
  const std::int64_t step = (after + cap - 1) / cap;
  std::vector<std::vector<double>> kept(drawn.size());
  for (std::vector<double>& values : kept) values.reserve(static_cast<std::size_t>((after + step - 1) / step));
  std::vector<double> mean(drawn.size(), 0.0);
  std::vector<double> squares(drawn.size(), 0.0);  // sum of squared deviations (Welford)

  for (std::int64_t s = 0; s < settings.niter; ++s) {
    // The stage chains' sweep (StageChain::sweep) with every restriction in the truncation.
    for (std::size_t j : drawn) {
      const auto [low, up] = item_bounds(r, j, restrictions.size(), state);
      state[j] = low < up ? draws[j].draw(low, up, stream) : 0.5 * (low + up);
    }
    if (bands) move_along_bands(bands->bands, bands->restrictions, stage, shape_a, shape_b, state, stream);
    if (s < burn_in) continue;
    const std::int64_t counted = s - burn_in;  // sweeps after the burn-in before this one
    const double n = static_cast<double>(counted + 1);
    const bool keep = counted % step == 0;
    for (std::size_t i = 0; i < drawn.size(); ++i) {
      const double x = state[drawn[i]];
      const double deviation = x - mean[i];
      mean[i] += deviation / n;
      squares[i] += deviation * (x - mean[i]);
      if (keep) kept[i].push_back(x);
    }
  }
  for (std::size_t i = 0; i < drawn.size(); ++i) {
    ItemEstimate& estimate = estimates[drawn[i]];
    estimate.mean = mean[i];
    estimate.sd = std::sqrt(squares[i] / static_cast<double>(after));
    const auto m = static_cast<std::int64_t>(kept[i].size());
    estimate.upper = order_statistic(kept[i], ceil_position(975, m));
    estimate.lower = order_statistic(kept[i], ceil_position(25, m));
  }
  return estimates;
}

}  // namespace propbf::evaluate
