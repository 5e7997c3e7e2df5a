#include "engine/hypothesis_estimates.hpp"

#include <algorithm>
#include <cmath>

#include "problem/equalities.hpp"

namespace propbf::evaluate {

SampledCoordinates sampled_coordinates(const HypothesisResult& result, const Prepared& read,
                                       const std::vector<double>& posterior_a, const std::vector<double>& posterior_b) {
  SampledCoordinates sampled{{}, {}, {}, {}, std::vector<double>(posterior_a.size(), 0.0), {}, {}, {}, {}, {}, {}, {}, {}, {}};
  if (!read.has_equalities) {
    sampled.start = result.start.centre;
    sampled.shape_a = posterior_a;
    sampled.shape_b = posterior_b;
    for (std::size_t j = 0; j < posterior_a.size(); ++j) sampled.coordinate_of_item.push_back(j);
    return sampled;
  }
  const CollapsedHypothesis& collapsed = read.collapsed;
  sampled.shape_a = collapsed.posterior_a;
  sampled.shape_b = collapsed.posterior_b;
  sampled.coordinate_of_item.assign(posterior_a.size(), SampledCoordinates::kFixedItem);
  for (std::size_t g = 0; g < collapsed.groups.size(); ++g) {
    for (std::size_t j : collapsed.groups[g]) sampled.coordinate_of_item[j] = g;
    if (!collapsed.aggregated.empty()) {
      sampled.start.push_back(result.coordinate_start[g]);
      continue;
    }
    const std::size_t front = collapsed.groups[g].front();
    // A tied category's start is offset + scale times its group's (spread_start).
    sampled.start.push_back(collapsed.scale.empty() || (collapsed.offset[front] == 0.0 && collapsed.scale[front] == 1.0)
                                ? result.start.centre[front]
                                : (result.start.centre[front] - collapsed.offset[front]) / collapsed.scale[front]);
  }
  for (std::size_t j = 0; j < posterior_a.size(); ++j) {
    if (collapsed.item_value[j]) sampled.fixed_value[j] = *collapsed.item_value[j];
  }
  sampled.complement = collapsed.complement;
  sampled.offset = collapsed.offset;
  sampled.scale = collapsed.scale;
  sampled.reduced_item = collapsed.reduced_item;
  sampled.item_first = collapsed.item_first;
  sampled.aggregated = collapsed.aggregated;
  sampled.merged = collapsed.merged;
  sampled.coupled = collapsed.coupled;
  sampled.remainder_of = collapsed.remainder_of;
  return sampled;
}

std::shared_ptr<const Simplex> collapsed_simplex(const CollapsedHypothesis& collapsed) {
  if (collapsed.coupled.empty()) return nullptr;
  Simplex simplex;
  for (std::size_t g = 0; g < collapsed.groups.size(); ++g) {
    simplex.begin.push_back(g);
    simplex.end.push_back(g + 1);
  }
  for (const CoupledItem& item : collapsed.coupled) {
    for (std::size_t g = item.begin; g < item.end; ++g) {
      simplex.begin[g] = item.begin;
      simplex.end[g] = item.end;
    }
    simplex.items.emplace_back(item.begin, item.end);
  }
  return std::make_shared<const Simplex>(std::move(simplex));
}

namespace {

// The estimate of offset + scale x from x's: the interval's ends exchanged for a negative scale.
ItemEstimate affine_estimate(const ItemEstimate& e, double offset, double scale) {
  ItemEstimate result = e;
  result.mean = offset + scale * e.mean;
  result.sd = std::fabs(scale) * e.sd;
  result.lower = offset + scale * (scale < 0.0 ? e.upper : e.lower);
  result.upper = offset + scale * (scale < 0.0 ? e.lower : e.upper);
  result.mean_mcse = std::fabs(scale) * e.mean_mcse;
  result.lower_mcse = std::fabs(scale) * (scale < 0.0 ? e.upper_mcse : e.lower_mcse);
  result.upper_mcse = std::fabs(scale) * (scale < 0.0 ? e.lower_mcse : e.upper_mcse);
  return result;
}

}  // namespace

std::vector<ItemEstimate> item_estimates(const SampledCoordinates& sampled, const std::vector<ItemEstimate>& per_coordinate,
                                         const std::vector<std::string>& names) {
  std::vector<ItemEstimate> estimates;
  for (std::size_t j = 0; j < names.size(); ++j) {
    const std::size_t c = sampled.coordinate_of_item[j];
    ItemEstimate estimate;
    if (!sampled.remainder_of.empty() && sampled.remainder_of[j] != CollapsedHypothesis::kNoRemainder) {
      // scale times its coupled item's remainder, estimated after the coordinates.
      estimate = affine_estimate(per_coordinate[sampled.start.size() + sampled.remainder_of[j]], 0.0, sampled.scale[j]);
    } else if (c == SampledCoordinates::kFixedItem) {
      const double value = sampled.fixed_value[j];
      estimate = {"", value, 0.0, value, value};
    } else if (!sampled.scale.empty() && (sampled.offset[j] != 0.0 || sampled.scale[j] != 1.0)) {
      estimate = affine_estimate(per_coordinate[c], sampled.offset[j], sampled.scale[j]);
    } else if (!sampled.complement.empty() && sampled.complement[j]) {
      // The complement of its group's proportion: the interval mirrored.
      const ItemEstimate& e = per_coordinate[c];
      estimate = {"", 1.0 - e.mean, e.sd, 1.0 - e.upper, 1.0 - e.lower};
    } else {
      estimate = per_coordinate[c];
    }
    estimate.name = names[j];
    estimates.push_back(std::move(estimate));
  }
  return estimates;
}

HypothesisEstimates::HypothesisEstimates(const HypothesisResult& result, const Prepared& read,
                                         const std::vector<double>& posterior_a,
                                         const std::vector<double>& posterior_b, StreamSeed seed, std::uint64_t key,
                                         std::shared_ptr<const Simplex> simplex, std::size_t truncated,
                                         const PredictiveItems* predictive, bool keep_samples,
                                         const std::optional<std::int64_t>& thin,
                                         std::shared_ptr<const SparseRestrictions> sparse)
    : sampled_(sampled_coordinates(result, read, posterior_a, posterior_b)),
      simplex_(read.has_equalities ? collapsed_simplex(read.collapsed) : std::move(simplex)),
      restrictions_(read.chain_restrictions()),
      chain_(restrictions_, sampled_.start, sampled_.shape_a, sampled_.shape_b,
             {result.niter, seed, key, read.has_equalities ? static_cast<std::size_t>(-1) : truncated}, simplex_.get(),
             std::move(sparse)) {
  if (!sampled_.aggregated.empty()) {
    shares_ = std::make_unique<AggregatedShares>(sampled_.aggregated, sampled_.shape_a, sampled_.shape_b, chain_.drawn(),
                                                 result.niter, seed, key);
  }
  if (predictive != nullptr) {
    draws_ = std::make_unique<PosteriorDraws>(*predictive, sampled_, chain_.drawn(), result.niter, seed, key,
                                              keep_samples, thin);
  }
  if (!draws_ && !shares_) return;
  chain_.set_observer([this](std::int64_t counted, const std::vector<double>& state) {
    if (draws_) draws_->observe(counted, state);
    if (shares_) shares_->observe(counted, state);
  });
}

void HypothesisEstimates::run_to(std::int64_t sweeps) {
  chain_.run_to(sweeps);
  if (chain_.sweeps() < chain_.niter() || per_coordinate_) return;
  per_coordinate_ = chain_.estimates();
  chain_.release();
  if (shares_) {
    if (chain_.drawn().empty()) shares_->observe_all(sampled_.start);
    aggregate_estimates();
    shares_.reset();
  }
  if (!draws_) return;
  // A chain that draws nothing has no sweeps: the draws are all exact.
  if (chain_.drawn().empty()) draws_->observe_all(sampled_.start);
  draws_->release();
}

double HypothesisEstimates::ppp() {
  if (!per_coordinate_) run_to(chain_.niter());
  return draws_ ? draws_->ppp() : 0.0;
}

std::vector<double> HypothesisEstimates::take_samples() {
  if (!per_coordinate_) run_to(chain_.niter());
  return draws_ ? draws_->take_samples() : std::vector<double>{};
}

void HypothesisEstimates::aggregate_estimates() {
  // theta_c per aggregated item: its group's coordinate (1 minus it for a complement), or
  // its point value.
  std::vector<ItemEstimate> theta;
  for (const AggregatedItem& a : sampled_.aggregated) {
    if (!a.group) {
      theta.push_back({"", a.value, 0.0, a.value, a.value});
      continue;
    }
    const ItemEstimate& w = (*per_coordinate_)[*a.group];
    theta.push_back(a.complement ? affine_estimate(w, 1.0, -1.0) : w);
  }
  aggregated_ = shares_->estimates(theta);
  for (std::size_t i = 0; i < theta.size(); ++i) aggregated_[i][sampled_.aggregated[i].category] = theta[i];
}

std::vector<ItemEstimate> HypothesisEstimates::estimates(const std::vector<std::string>& names) {
  if (!per_coordinate_) run_to(chain_.niter());
  std::vector<ItemEstimate> estimates = item_estimates(sampled_, *per_coordinate_, names);
  // The parameters of an aggregated item are its first K - 1 categories.
  for (std::size_t i = 0; i < aggregated_.size(); ++i) {
    const std::size_t first = sampled_.item_first[sampled_.aggregated[i].item];
    for (std::size_t c = 0; c + 1 < aggregated_[i].size(); ++c) {
      estimates[first + c] = aggregated_[i][c];
      estimates[first + c].name = names[first + c];
    }
  }
  return estimates;
}

std::vector<ItemEstimate> HypothesisEstimates::remainders() {
  if (!per_coordinate_) run_to(chain_.niter());
  if (!sampled_.reduced_item.empty()) return reduced_remainders();
  const auto first = per_coordinate_->begin() + static_cast<std::ptrdiff_t>(sampled_.start.size());
  return std::vector<ItemEstimate>(first, per_coordinate_->end());
}

std::vector<ItemEstimate> HypothesisEstimates::reduced_remainders() const {
  // The last category of a reduced item is 1 minus its parameters: offset + scale times
  // its coordinate with offset 1 - (sum of theirs) and scale -(sum of theirs).
  std::vector<ItemEstimate> remainders;
  for (std::size_t j = 0; j + 1 < sampled_.item_first.size(); ++j) {
    const std::size_t first = sampled_.item_first[j];
    const std::size_t end = sampled_.item_first[j + 1];
    if (end - first < 2) continue;  // an item of two categories
    if (const CoupledItem* coupled = find_coupled(sampled_.coupled, j)) {
      // Its last category from its remainder, estimated after the coordinates.
      const ItemEstimate& remainder =
          (*per_coordinate_)[sampled_.start.size() + static_cast<std::size_t>(coupled - sampled_.coupled.data())];
      remainders.push_back(coupled->last_scale == 0.0
                               ? ItemEstimate{"", coupled->last_offset, 0.0, coupled->last_offset, coupled->last_offset}
                               : affine_estimate(remainder, coupled->last_offset, coupled->last_scale));
      continue;
    }
    if (!sampled_.reduced_item[j]) {
      remainders.emplace_back();
      continue;
    }
    const auto aggregated = std::find_if(sampled_.aggregated.begin(), sampled_.aggregated.end(),
                                         [&](const AggregatedItem& a) { return a.item == j; });
    if (aggregated != sampled_.aggregated.end()) {
      remainders.push_back(aggregated_[static_cast<std::size_t>(aggregated - sampled_.aggregated.begin())].back());
      continue;
    }
    if (!sampled_.merged.empty() && !sampled_.merged[j].empty()) {
      // Its last category's exact marginal: share times its merged category's beta.
      const MergedDirichlet& d = sampled_.merged[j];
      const std::size_t last = end - first;
      const std::size_t g = d.merged_of[last];
      if (g == MergedDirichlet::kHeld) {
        remainders.push_back({"", d.share[last], 0.0, d.share[last], d.share[last]});
      } else {
        remainders.push_back(affine_estimate(beta_estimate("", d.posterior_a[g], d.posterior_b[g]), 0.0, d.share[last]));
      }
      continue;
    }
    double offset = 1.0;
    double scale = 0.0;
    std::size_t coordinate = SampledCoordinates::kFixedItem;
    for (std::size_t p = first; p < end; ++p) {
      if (sampled_.coordinate_of_item[p] == SampledCoordinates::kFixedItem) {
        offset -= sampled_.fixed_value[p];
      } else {
        offset -= sampled_.offset[p];
        scale -= sampled_.scale[p];
        coordinate = sampled_.coordinate_of_item[p];
      }
    }
    if (coordinate == SampledCoordinates::kFixedItem || scale == 0.0) {
      remainders.push_back({"", offset, 0.0, offset, offset});
    } else {
      remainders.push_back(affine_estimate((*per_coordinate_)[coordinate], offset, scale));
    }
  }
  return remainders;
}

}  // namespace propbf::evaluate
