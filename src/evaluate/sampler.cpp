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

std::vector<StageCount> run_stage_chain(const std::vector<Restriction>& restrictions, const std::vector<double>& start,
                                        const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                                        const ChainSettings& settings) {
  const std::size_t items = start.size();
  const std::size_t stages = restrictions.size();
  // The number of batches is the integer cube root of niter, so a batch holds about
  // niter^(2/3) sweeps: long enough to outlast the correlation of slow chains.
  std::int64_t batches = 0;
  while ((batches + 1) * (batches + 1) * (batches + 1) <= settings.niter) ++batches;
  const std::int64_t batch_size = batches > 0 ? settings.niter / batches : 0;
  std::vector<StageCount> counts(stages);
  std::vector<double> state(items);
  std::vector<std::int64_t> batch_hits(static_cast<std::size_t>(std::max<std::int64_t>(batches, 0)));
  for (std::size_t stage = 0; stage < stages; ++stage) {
    UniformStream stream(settings.seed, settings.hypothesis, settings.phase, stage + 1);
    state = start;
    std::fill(batch_hits.begin(), batch_hits.end(), 0);
    std::int64_t hits = 0;
    for (std::int64_t sweep = 0; sweep < settings.niter; ++sweep) {
      for (std::size_t j = 0; j < items; ++j) {
        // The interval the earlier restrictions leave item j, given the other items:
        // restriction k reads g_kj x_j + s_k > c_k with s_k = sum over i != j of g_ki x_i.
        double low = 0.0;
        double up = 1.0;
        for (std::size_t k = 0; k < stage; ++k) {
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
      for (std::size_t k = 0; k <= stage && hit; ++k) {
        double value = 0.0;
        for (std::size_t i = 0; i < items; ++i) value += restrictions[k].coefficients[i] * state[i];
        hit = value > restrictions[k].constant;
      }
      if (hit) {
        ++hits;
        const std::int64_t batch = sweep / batch_size;
        if (batch < batches) ++batch_hits[static_cast<std::size_t>(batch)];
      }
    }
    counts[stage].hits = hits;
    counts[stage].effective_sweeps = batch_means_effective_sweeps(batch_hits, batch_size, settings.niter);
  }
  return counts;
}

}  // namespace propbf::evaluate
