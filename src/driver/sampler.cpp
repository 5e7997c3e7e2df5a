#include "driver/sampler.hpp"

#include <vector>

#include "textio/textio.hpp"

namespace propbf::driver {

float stage_share(const Problem& problem, Phase phase, int32_t stage, float* pi) {
  return fast_stage_share(problem, phase, stage, pi);
}

float run_phase(const Problem& problem, Phase phase, float* pi, float* hits, StageSampler sampler,
                int64_t group_byte_limit) {
  const char* progress = phase == Phase::Complexity ? "Completed: Evaluation of Complexity Restriction  "
                                                    : "Completed: Evaluation of Fit Restriction  ";
  const float sweeps = static_cast<float>(problem.niter);
  const int32_t stages = problem.restrictions();
  float product = 1.0f;
  std::vector<float> shares;
  for (int32_t t = 1; t <= stages;) {
    int32_t count = 1;
    if (sampler == stage_share) {
      count = fast_group_size(problem, t, group_byte_limit);
      int64_t rows = 0;
      for (int32_t s = 0; s < count; ++s) rows += t + s - 1;
      shares.resize(static_cast<size_t>(count));
      if (!fast_stage_shares(problem, phase, t, count, pi, shares.data(), chosen_vector_width(rows))) {
        // No room for the group's working storage: the literal sampler needs less.
        count = 1;
        shares[0] = literal_stage_share(problem, phase, t, pi);
      }
    } else {
      shares.assign(1, sampler(problem, phase, t, pi));
    }
    for (int32_t s = 0; s < count; ++s) {
      textio::write_free(textio::kConsole, {progress, t + s});
      hits[t + s - 1] = shares[static_cast<size_t>(s)] * sweeps;
      product = shares[static_cast<size_t>(s)] * product;
    }
    t += count;
  }
  return product;
}

}  // namespace propbf::driver
