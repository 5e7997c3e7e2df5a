#include "evaluate/sampler.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "evaluate/beta_functions.hpp"

namespace propbf::evaluate {

double batch_means_effective_sweeps(const std::vector<std::int64_t>& batch_hits, std::int64_t batch_size,
                                    std::int64_t niter) {
  const double sweeps = static_cast<double>(niter);
  const std::size_t batches = batch_hits.size();
  if (batches < 2 || batch_size < 1) return sweeps;
  std::int64_t total = 0;
  for (std::int64_t hits : batch_hits) total += hits;
  const double m = static_cast<double>(batch_size);
  const double p = static_cast<double>(total) / (m * static_cast<double>(batches));
  double squares = 0.0;
  for (std::int64_t hits : batch_hits) {
    const double deviation = static_cast<double>(hits) / m - p;
    squares += deviation * deviation;
  }
  const double batch_variance = m * squares / static_cast<double>(batches - 1);
  const double sweep_variance = p * (1.0 - p);
  if (!(batch_variance > 0.0) || !(sweep_variance > 0.0)) return sweeps;
  // The batch variance is itself an estimate with B - 1 degrees of freedom: the effective
  // sweeps shrink by (z / t)^2 so that the normal-width interval has the t interval's width.
  const double widening = student_to_normal_ratio(static_cast<double>(batches - 1));
  return std::min(sweeps, sweeps * sweep_variance / batch_variance / (widening * widening));
}

namespace {

// One sweep of stage `stage` (1-based): each item in turn from its beta distribution
// truncated to the interval restrictions 1 ... stage-1 leave it, given the other items.
// Returns whether restrictions 1 ... stage all hold (strictly) afterwards.
bool sweep(const std::vector<Restriction>& restrictions, std::size_t stage, const std::vector<double>& shape_a,
           const std::vector<double>& shape_b, std::vector<double>& state, UniformStream& stream) {
  const std::size_t items = state.size();
  for (std::size_t j = 0; j < items; ++j) {
    // Restriction k reads g_kj x_j + s_k > c_k with s_k = sum over i != j of g_ki x_i.
    double low = 0.0;
    double up = 1.0;
    for (std::size_t k = 0; k + 1 < stage; ++k) {
      const std::vector<double>& g = restrictions[k].coefficients;
      if (g[j] == 0.0) continue;
      double rest = 0.0;
      for (std::size_t i = 0; i < items; ++i) {
        if (i != j) rest += g[i] * state[i];
      }
      const double bound = (restrictions[k].constant - rest) / g[j];
      if (g[j] > 0.0) {
        low = std::max(low, bound);
      } else {
        up = std::min(up, bound);
      }
    }
    const double v = stream.next();
    // Rounding can leave an interval of width 0 (or just below) when the state sits on
    // a boundary; the item then takes the middle of the two bounds.
    state[j] = low < up ? truncated_beta(shape_a[j], shape_b[j], low, up, v) : 0.5 * (low + up);
  }
  bool hit = true;
  for (std::size_t k = 0; k < stage && hit; ++k) {
    double value = 0.0;
    for (std::size_t i = 0; i < items; ++i) value += restrictions[k].coefficients[i] * state[i];
    hit = value > restrictions[k].constant;
  }
  return hit;
}

}  // namespace

std::int64_t batch_count(std::int64_t niter) {
  std::int64_t batches = 0;
  while ((batches + 1) * (batches + 1) * (batches + 1) <= niter) ++batches;
  return batches;
}

std::vector<StageCount> run_stage_chain(const std::vector<Restriction>& restrictions, const std::vector<double>& start,
                                        const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                                        const ChainSettings& settings) {
  const std::size_t stages = restrictions.size();
  const std::int64_t batches = batch_count(settings.niter);
  const std::int64_t batch_size = batches > 0 ? settings.niter / batches : 0;
  std::vector<StageCount> counts(stages);
  std::vector<double> state;
  std::vector<std::int64_t> batch_hits(static_cast<std::size_t>(batches));
  for (std::size_t stage = 1; stage <= stages; ++stage) {
    UniformStream stream(settings.seed, settings.hypothesis, settings.phase, stage);
    state = start;
    std::fill(batch_hits.begin(), batch_hits.end(), 0);
    std::int64_t hits = 0;
    for (std::int64_t s = 0; s < settings.niter; ++s) {
      if (sweep(restrictions, stage, shape_a, shape_b, state, stream)) {
        ++hits;
        const std::int64_t batch = s / batch_size;
        if (batch < batches) ++batch_hits[static_cast<std::size_t>(batch)];
      }
    }
    counts[stage - 1].hits = hits;
    counts[stage - 1].effective_sweeps = batch_means_effective_sweeps(batch_hits, batch_size, settings.niter);
  }
  return counts;
}

StageChain::StageChain(const std::vector<Restriction>& restrictions, std::size_t stage, const std::vector<double>& start,
                       const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                       const ChainSettings& settings)
    : restrictions_(&restrictions),
      shape_a_(&shape_a),
      shape_b_(&shape_b),
      stage_(stage),
      stream_(settings.seed, settings.hypothesis, settings.phase, stage),
      state_(start) {}

void StageChain::run_to(std::int64_t niter) {
  if (niter <= sweeps_) return;
  for (; sweeps_ < niter; ++sweeps_) {
    // The hit bits grow as the chain runs: memory follows the sweeps run, not those asked.
    if (sweeps_ % 64 == 0) hit_bits_.push_back(0);
    if (sweep(*restrictions_, stage_, *shape_a_, *shape_b_, state_, stream_)) {
      ++hits_;
      hit_bits_[static_cast<std::size_t>(sweeps_ / 64)] |= std::uint64_t{1} << (sweeps_ % 64);
    }
  }
}

StageCount StageChain::count() const {
  const std::int64_t batches = batch_count(sweeps_);
  const std::int64_t batch_size = batches > 0 ? sweeps_ / batches : 0;
  std::vector<std::int64_t> batch_hits(static_cast<std::size_t>(batches), 0);
  for (std::int64_t b = 0; b < batches; ++b) {
    std::int64_t hits = 0;
    for (std::int64_t s = b * batch_size; s < (b + 1) * batch_size; ++s) {
      hits += static_cast<std::int64_t>((hit_bits_[static_cast<std::size_t>(s / 64)] >> (s % 64)) & 1u);
    }
    batch_hits[static_cast<std::size_t>(b)] = hits;
  }
  StageCount result;
  result.hits = hits_;
  result.effective_sweeps = batch_means_effective_sweeps(batch_hits, batch_size, sweeps_);
  return result;
}

}  // namespace propbf::evaluate
