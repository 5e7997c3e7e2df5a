#include "engine/aggregated_items.hpp"

#include <algorithm>
#include <cmath>

#include "sampling/sampler.hpp"

namespace propbf::evaluate {

AggregatedShares::AggregatedShares(const std::vector<AggregatedItem>& items, const std::vector<double>& shape_a,
                                   const std::vector<double>& shape_b, const std::vector<std::size_t>& drawn,
                                   std::int64_t niter, StreamSeed seed, std::uint64_t key)
    : items_(items), drawn_(shape_a.size(), false), after_(niter - niter / 10), step_(1),
      stream_(seed, key, StreamKind::AggregatedShares, 0) {
  for (std::size_t c : drawn) drawn_[c] = true;
  // The chain's cap of kept values, spread over its coordinates and these categories too.
  std::size_t kept = drawn.size();
  for (const AggregatedItem& item : items_) kept += item.group ? item.rest_posterior.size() : 0;
  const std::int64_t cap = kept_draws_per_coordinate(kept);
  step_ = std::max<std::int64_t>(1, (after_ + cap - 1) / cap);
  for (const AggregatedItem& item : items_) {
    coordinate_betas_.emplace_back(item.group ? shape_a[*item.group] : 1.0, item.group ? shape_b[*item.group] : 1.0);
    sticks_.push_back(dirichlet_sticks(item.rest_posterior));
    // A point value needs no draws: its categories are exact.
    kept_.emplace_back(item.group ? item.rest_posterior.size() : 0);
  }
}

AggregatedShares::~AggregatedShares() = default;

void AggregatedShares::observe(std::int64_t counted, const std::vector<double>& state) {
  if (counted % step_ != 0) return;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const AggregatedItem& item = items_[i];
    if (!item.group) continue;
    const std::size_t g = *item.group;
    const double w = drawn_[g] ? state[g] : coordinate_betas_[i].draw(0.0, 1.0, stream_);
    const double theta = item.complement ? 1.0 - w : w;
    const std::vector<double> phi = draw_dirichlet(sticks_[i], stream_);
    for (std::size_t r = 0; r < item.rest_posterior.size(); ++r) kept_[i][r].push_back((1.0 - theta) * phi[r]);
  }
}

void AggregatedShares::observe_all(const std::vector<double>& state) {
  for (std::int64_t counted = 0; counted < after_; counted += step_) observe(counted, state);
}

std::vector<std::vector<ItemEstimate>> AggregatedShares::estimates(const std::vector<ItemEstimate>& theta) const {
  std::vector<std::vector<ItemEstimate>> result;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const AggregatedItem& item = items_[i];
    double total = 0.0;
    for (double beta : item.rest_posterior) total += beta;
    std::vector<ItemEstimate> categories(item.rest_posterior.size() + 1);
    std::size_t r = 0;
    for (std::size_t category = 0; category < categories.size(); ++category) {
      if (category == item.category) continue;
      const double beta = item.rest_posterior[r];
      ItemEstimate& e = categories[category];
      if (!item.group) {
        // (1 - s) phi_r exactly.
        const double scale = 1.0 - item.value;
        const ItemEstimate exact = beta_estimate("", beta, total - beta);
        e.mean = scale * exact.mean;
        e.sd = scale * exact.sd;
        e.lower = scale * exact.lower;
        e.upper = scale * exact.upper;
        ++r;
        continue;
      }
      const ItemEstimate& t = theta[i];
      const double share = beta / total;
      const double rest = 1.0 - t.mean;
      e.mean = rest * share;
      const double second = (t.sd * t.sd + rest * rest) * (beta * (beta + 1.0) / (total * (total + 1.0)));
      e.sd = std::sqrt(std::max(0.0, second - e.mean * e.mean));
      e.mean_mcse = share * t.mean_mcse;
      if (!kept_[i][r].empty()) interval_from_kept(kept_[i][r], e);
      ++r;
    }
    result.push_back(std::move(categories));
  }
  return result;
}

}  // namespace propbf::evaluate
