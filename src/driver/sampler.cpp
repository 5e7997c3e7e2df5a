#include "driver/sampler.hpp"

#include "textio/textio.hpp"

namespace propbf::driver {

float stage_share(const Problem& problem, Phase phase, int32_t stage, float* pi) {
  return literal_stage_share(problem, phase, stage, pi);
}

float run_phase(const Problem& problem, Phase phase, float* pi, float* hits, StageSampler sampler) {
  const char* progress = phase == Phase::Complexity ? "Completed: Evaluation of Complexity Restriction  "
                                                    : "Completed: Evaluation of Fit Restriction  ";
  const float sweeps = static_cast<float>(problem.niter);
  float product = 1.0f;
  for (int32_t t = 1; t <= problem.restrictions(); ++t) {
    const float share = sampler(problem, phase, t, pi);
    textio::write_free(textio::kConsole, {progress, t});
    hits[t - 1] = share * sweeps;
    product = share * product;
  }
  return product;
}

}  // namespace propbf::driver
