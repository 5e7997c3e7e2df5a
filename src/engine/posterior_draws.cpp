#include "engine/posterior_draws.hpp"

#include <algorithm>
#include <limits>

#include "engine/hypothesis_estimates.hpp"
#include "problem/categories.hpp"
#include "sampling/beta_functions.hpp"
#include "sampling/estimates.hpp"
#include "sampling/predictive.hpp"

namespace propbf::evaluate {
namespace {
constexpr std::size_t kNotAggregated = static_cast<std::size_t>(-1);
}  // namespace

PredictiveItems predictive_items(const std::vector<Item>& items) {
  PredictiveItems result;
  const ParameterSpace space = parameter_space(items);
  result.first = space.first;
  for (const Item& item : items) {
    result.offset.push_back(result.counts.size());
    result.categorical.push_back(is_categorical(item));
    if (!is_categorical(item)) {
      result.categories.push_back(2);
      result.counts.push_back(item.successes);
      result.counts.push_back(item.trials - item.successes);
      result.posterior.push_back(item.prior_a + static_cast<double>(item.successes));
      result.posterior.push_back(item.prior_b + static_cast<double>(item.trials - item.successes));
      result.columns.push_back(item.name);
      continue;
    }
    result.categories.push_back(item.counts.size());
    for (std::size_t c = 0; c < item.counts.size(); ++c) {
      result.counts.push_back(item.counts[c]);
      result.posterior.push_back(item.concentration[c] + static_cast<double>(item.counts[c]));
      result.columns.push_back(category_label(item, c));
    }
  }
  result.offset.push_back(result.counts.size());
  return result;
}

std::int64_t ppp_step(std::int64_t after, std::size_t items) {
  const std::int64_t cap = kept_draws_per_coordinate(items);
  return std::max<std::int64_t>(1, (after + cap - 1) / cap);
}

std::int64_t sample_step(std::int64_t after, const std::optional<std::int64_t>& thin) {
  if (thin) return *thin;
  return std::max<std::int64_t>(1, (after + kMostSampleRows - 1) / kMostSampleRows);
}

struct PosteriorDraws::State {
  CounterStream replications;
  CounterStream samples;
  std::vector<double> coordinates;  // the chain's state, with what it does not draw drawn
  std::vector<std::size_t> beta_coordinates;  // not drawn, read by items of two categories
  std::vector<TruncatedBeta> betas;           // theirs, in that order
  std::vector<TruncatedMethod> beta_methods;  // how each draws from [0, 1] (TruncatedBeta::method)
  // Per item of more than two categories that the chain does not draw, its conditional
  // betas Beta(α'_c, α'_{c+1} + … + α'_K), c < K (empty for the others).
  std::vector<std::vector<TruncatedBeta>> dirichlet;
  std::vector<std::vector<TruncatedMethod>> dirichlet_methods;
  std::vector<bool> item_drawn;
  std::vector<std::size_t> aggregate;  // per item: its index among the aggregated items, or kNotAggregated
  std::vector<double> theta;          // per category of every item
  std::vector<std::int64_t> replicated;  // per category
  std::vector<double> merged_phi;        // fill_merged's phi'
};

PosteriorDraws::PosteriorDraws(const PredictiveItems& items, const SampledCoordinates& sampled,
                               std::vector<std::size_t> drawn, std::int64_t niter, StreamSeed seed, std::uint64_t key,
                               bool keep_samples, const std::optional<std::int64_t>& thin)
    : items_(items), sampled_(sampled), drawn_(std::move(drawn)), after_(niter - niter / 10),
      ppp_step_(ppp_step(after_, items.categories.size())), sample_step_(keep_samples ? sample_step(after_, thin) : 0),
      seed_(seed), key_(key) {}

PosteriorDraws::~PosteriorDraws() = default;

void PosteriorDraws::release() { state_.reset(); }

void PosteriorDraws::fill(const std::vector<double>& state, CounterStream& stream) {
  State& s = *state_;
  s.coordinates = state;
  for (std::size_t i = 0; i < s.beta_coordinates.size(); ++i) {
    s.coordinates[s.beta_coordinates[i]] = s.betas[i].draw_with(s.beta_methods[i], 0.0, 1.0, stream);
  }
  const std::size_t item_count = items_.categories.size();
  for (std::size_t j = 0; j < item_count; ++j) {
    const std::size_t k = items_.categories[j];
    double* theta = s.theta.data() + items_.offset[j];
    const std::size_t first = items_.first[j];
    if (s.aggregate[j] != kNotAggregated) {
      // theta_c from its group (or its point value), the others (1 - theta_c) times a
      // Dirichlet share by successive betas.
      const AggregatedItem& a = sampled_.aggregated[s.aggregate[j]];
      double theta_c = a.value;
      if (a.group) theta_c = a.complement ? 1.0 - s.coordinates[*a.group] : s.coordinates[*a.group];
      double sum = 0.0;
      std::size_t r = 0;
      for (std::size_t c = 0; c < k; ++c) {
        if (c == a.category) continue;
        const double phi = r < s.dirichlet[j].size()
                               ? (1.0 - sum) * s.dirichlet[j][r].draw_with(s.dirichlet_methods[j][r], 0.0, 1.0, stream)
                               : 1.0 - sum;
        sum += phi;
        theta[c] = (1.0 - theta_c) * phi;
        ++r;
      }
      theta[a.category] = theta_c;
      continue;
    }
    if (k > 2 && !sampled_.merged.empty() && !sampled_.merged[j].empty()) {
      fill_merged(j, theta, stream);
      continue;
    }
    if (k > 2 && !sampled_.reduced_item.empty() && sampled_.reduced_item[j]) {
      // Categories tied by equalities: offset + scale times the item's coordinate (or,
      // coupled on its simplex, scale times its remainder).
      double sum = 0.0;
      for (std::size_t c = 0; c + 1 < k; ++c) {
        const std::size_t coordinate = sampled_.coordinate_of_item[first + c];
        const std::size_t remainder =
            sampled_.remainder_of.empty() ? CollapsedHypothesis::kNoRemainder : sampled_.remainder_of[first + c];
        if (remainder != CollapsedHypothesis::kNoRemainder) {
          const CoupledItem& item = sampled_.coupled[remainder];
          double taken = 0.0;
          for (std::size_t g = item.begin; g < item.end; ++g) taken += s.coordinates[g];
          theta[c] = sampled_.scale[first + c] * (1.0 - taken);
        } else {
          theta[c] = coordinate == SampledCoordinates::kFixedItem
                         ? sampled_.fixed_value[first + c]
                         : sampled_.offset[first + c] + sampled_.scale[first + c] * s.coordinates[coordinate];
        }
        sum += theta[c];
      }
      theta[k - 1] = std::max(0.0, 1.0 - sum);
      continue;
    }
    if (k > 2) {
      double sum = 0.0;
      if (s.item_drawn[j]) {
        for (std::size_t c = 0; c + 1 < k; ++c) {
          theta[c] = s.coordinates[sampled_.coordinate_of_item[first + c]];
          sum += theta[c];
        }
      } else {
        for (std::size_t c = 0; c + 1 < k; ++c) {
          theta[c] = (1.0 - sum) * s.dirichlet[j][c].draw_with(s.dirichlet_methods[j][c], 0.0, 1.0, stream);
          sum += theta[c];
        }
      }
      theta[k - 1] = 1.0 - sum;
      continue;
    }
    const std::size_t coordinate = sampled_.coordinate_of_item[first];
    double value;
    if (coordinate == SampledCoordinates::kFixedItem) {
      value = sampled_.fixed_value[first];
    } else if (!sampled_.complement.empty() && sampled_.complement[first]) {
      value = 1.0 - s.coordinates[coordinate];
    } else {
      value = s.coordinates[coordinate];
    }
    theta[0] = value;
    theta[1] = 1.0 - value;
  }
}

void PosteriorDraws::set_up_merged(std::size_t j) {
  // Its merged categories' conditional betas Beta(post_g, post_{g+1} + ... + post_{K'}),
  // g < K', post_g = alpha'_g + k'_g (= posterior_a of its marginal).
  State& s = *state_;
  const std::vector<double>& post = sampled_.merged[j].posterior_a;
  for (std::size_t g = 0; g + 1 < post.size(); ++g) {
    double rest = 0.0;
    for (std::size_t h = g + 1; h < post.size(); ++h) rest += post[h];
    s.dirichlet[j].emplace_back(post[g], rest);
    s.dirichlet_methods[j].push_back(s.dirichlet[j].back().method(0.0, 1.0));
  }
}

void PosteriorDraws::fill_merged(std::size_t j, double* theta, CounterStream& stream) {
  // phi' by successive betas, then each category its share of its merged category's (or
  // its point); the last category the rest.
  State& s = *state_;
  const MergedDirichlet& d = sampled_.merged[j];
  std::vector<double>& phi = s.merged_phi;
  phi.assign(d.posterior_a.size(), 0.0);
  double taken = 0.0;
  for (std::size_t g = 0; g + 1 < phi.size(); ++g) {
    phi[g] = (1.0 - taken) * s.dirichlet[j][g].draw_with(s.dirichlet_methods[j][g], 0.0, 1.0, stream);
    taken += phi[g];
  }
  phi.back() = 1.0 - taken;
  const std::size_t k = items_.categories[j];
  double sum = 0.0;
  for (std::size_t c = 0; c + 1 < k; ++c) {
    const std::size_t g = d.merged_of[c];
    theta[c] = g == MergedDirichlet::kHeld ? d.share[c] : d.share[c] * phi[g];
    sum += theta[c];
  }
  theta[k - 1] = std::max(0.0, 1.0 - sum);
}

void PosteriorDraws::observe(std::int64_t counted, const std::vector<double>& state) {
  const bool check = counted % ppp_step_ == 0;
  const bool sample = sample_step_ > 0 && counted % sample_step_ == 0;
  if (!check && !sample) return;
  if (!state_) {
    state_ = std::make_unique<State>(State{CounterStream(seed_, key_, StreamKind::PredictiveReplications, 0),
                                           CounterStream(seed_, key_, StreamKind::PosteriorSamples, 0),
                                           {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}});
    State& s = *state_;
    const std::size_t item_count = items_.categories.size();
    std::vector<bool> drawn(sampled_.shape_a.size(), false);
    for (std::size_t c : drawn_) drawn[c] = true;
    std::vector<bool> needed(sampled_.shape_a.size(), false);
    s.dirichlet.resize(item_count);
    s.dirichlet_methods.resize(item_count);
    s.item_drawn.assign(item_count, false);
    s.aggregate.assign(item_count, kNotAggregated);
    for (std::size_t i = 0; i < sampled_.aggregated.size(); ++i) s.aggregate[sampled_.aggregated[i].item] = i;
    for (std::size_t j = 0; j < item_count; ++j) {
      const std::size_t k = items_.categories[j];
      if (s.aggregate[j] != kNotAggregated) {
        // Its group's coordinate drawn from its beta where the chain does not draw it, and
        // the betas of its Dirichlet share Beta(beta_r, beta_(r+1) + ...).
        const AggregatedItem& a = sampled_.aggregated[s.aggregate[j]];
        if (a.group && !drawn[*a.group]) needed[*a.group] = true;
        for (std::size_t r = 0; r + 1 < a.rest_posterior.size(); ++r) {
          double rest = 0.0;
          for (std::size_t l = r + 1; l < a.rest_posterior.size(); ++l) rest += a.rest_posterior[l];
          s.dirichlet[j].emplace_back(a.rest_posterior[r], rest);
          s.dirichlet_methods[j].push_back(s.dirichlet[j].back().method(0.0, 1.0));
        }
        continue;
      }
      const std::size_t coordinate = sampled_.coordinate_of_item[items_.first[j]];
      const bool free = coordinate != SampledCoordinates::kFixedItem;
      s.item_drawn[j] = free && drawn[coordinate];
      if (k <= 2) {
        if (free && !drawn[coordinate]) needed[coordinate] = true;
        continue;
      }
      if (!sampled_.merged.empty() && !sampled_.merged[j].empty()) {
        set_up_merged(j);
        continue;
      }
      if (!sampled_.reduced_item.empty() && sampled_.reduced_item[j]) {
        // Its one coordinate, if any, drawn from its beta when the chain does not draw it.
        for (std::size_t p = items_.first[j]; p < items_.first[j + 1]; ++p) {
          const std::size_t at = sampled_.coordinate_of_item[p];
          if (at != SampledCoordinates::kFixedItem && !drawn[at]) needed[at] = true;
        }
        continue;
      }
      if (s.item_drawn[j]) continue;
      const double* alpha = items_.posterior.data() + items_.offset[j];
      for (std::size_t c = 0; c + 1 < k; ++c) {
        double rest = 0.0;
        for (std::size_t i = c + 1; i < k; ++i) rest += alpha[i];
        s.dirichlet[j].emplace_back(alpha[c], rest);
        s.dirichlet_methods[j].push_back(s.dirichlet[j].back().method(0.0, 1.0));
      }
    }
    for (std::size_t c = 0; c < needed.size(); ++c) {
      if (!needed[c]) continue;
      s.beta_coordinates.push_back(c);
      s.betas.emplace_back(sampled_.shape_a[c], sampled_.shape_b[c]);
      s.beta_methods.push_back(s.betas.back().method(0.0, 1.0));
    }
    s.theta.assign(items_.counts.size(), 0.0);
    s.replicated.assign(items_.counts.size(), 0);
  }
  State& s = *state_;
  const std::size_t item_count = items_.categories.size();
  if (check) {
    fill(state, s.replications);
    double observed = 0.0;
    double replicated = 0.0;
    for (std::size_t j = 0; j < item_count; ++j) {
      const std::size_t at = items_.offset[j];
      const std::size_t k = items_.categories[j];
      std::int64_t n = 0;
      for (std::size_t c = 0; c < k; ++c) n += items_.counts[at + c];
      multinomial_draw(n, s.theta.data() + at, k, s.replications, s.replicated.data() + at);
      observed += pearson_item(items_.counts.data() + at, s.theta.data() + at, k);
      replicated += pearson_item(s.replicated.data() + at, s.theta.data() + at, k);
    }
    ++draws_;
    if (replicated >= observed) ++exceeded_;
  }
  if (sample) {
    fill(state, s.samples);
    for (std::size_t j = 0; j < item_count; ++j) {
      const double* theta = s.theta.data() + items_.offset[j];
      const std::size_t shown = items_.categorical[j] ? items_.categories[j] : 1;
      samples_.insert(samples_.end(), theta, theta + shown);
    }
  }
}

void PosteriorDraws::observe_all(const std::vector<double>& state) {
  // Only the sweeps some draw is taken at: the multiples of either step.
  std::int64_t counted = 0;
  while (counted < after_) {
    observe(counted, state);
    std::int64_t next = (counted / ppp_step_ + 1) * ppp_step_;
    if (sample_step_ > 0) next = std::min(next, (counted / sample_step_ + 1) * sample_step_);
    counted = next;
  }
}

double PosteriorDraws::ppp() const {
  if (draws_ == 0) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(exceeded_) / static_cast<double>(draws_);
}

}  // namespace propbf::evaluate
