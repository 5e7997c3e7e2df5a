#include "driver/sampler.hpp"

#include <vector>

#include "textio/textio.hpp"

namespace propbf::driver {

bool phase_draws(const Problem& problem) {
  return problem.restrictions() >= 1 && problem.niter >= 1 && problem.items() >= 1;
}

int64_t phase_deviates(const Problem& problem) {
  if (!phase_draws(problem)) return 0;
  return int64_t{problem.restrictions()} * problem.niter * problem.items();
}

float run_phase(const Problem& problem, Phase phase, float* pi, float* hits, SamplerChoice choice,
                int64_t group_byte_limit) {
  const char* progress = phase == Phase::Complexity ? "Completed: Evaluation of Complexity Restriction  "
                                                    : "Completed: Evaluation of Fit Restriction  ";
  const float sweeps = static_cast<float>(problem.niter);
  const int32_t stages = problem.restrictions();
  const bool draws = phase_draws(problem);
  // The fast sampler's deviates come from a stream that stands where the thread's
  // generator does; it is handed back after the last group (and around a literal stage).
  numlib::UniformStream stream;
  if (choice == SamplerChoice::Fast && draws) stream = numlib::reserve_uniforms();
  float product = 1.0f;
  std::vector<float> shares;
  for (int32_t t = 1; t <= stages;) {
    int32_t count = 1;
    bool done = false;
    if (choice == SamplerChoice::Fast) {
      count = fast_group_size(problem, t, group_byte_limit);
      int64_t rows = 0;
      for (int32_t s = 0; s < count; ++s) rows += t + s - 1;
      shares.resize(static_cast<size_t>(count));
      done = fast_stage_shares(problem, phase, t, count, pi, shares.data(), chosen_vector_width(rows), stream);
    }
    if (!done) {
      // The reference, or no room for the group's storage: the literal sampler, which
      // needs less, runs the stage.
      count = 1;
      shares.resize(1);
      if (choice == SamplerChoice::Fast && draws) numlib::commit_uniforms(stream);
      shares[0] = literal_stage_share(problem, phase, t, pi);
      if (choice == SamplerChoice::Fast && draws) stream = numlib::reserve_uniforms();
    }
    for (int32_t s = 0; s < count; ++s) {
      textio::write_free(textio::kConsole, {progress, t + s});
      hits[t + s - 1] = shares[static_cast<size_t>(s)] * sweeps;
      product = shares[static_cast<size_t>(s)] * product;
    }
    t += count;
  }
  if (choice == SamplerChoice::Fast && draws) numlib::commit_uniforms(stream);
  return product;
}

}  // namespace propbf::driver
