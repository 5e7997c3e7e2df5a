#include "driver/sampler.hpp"

#include <atomic>
#include <cassert>
#include <exception>
#include <functional>
#include <new>
#include <optional>
#include <vector>

#include "textio/textio.hpp"

namespace propbf::driver {

namespace {

const char* progress_text(Phase phase) {
  return phase == Phase::Complexity ? "Completed: Evaluation of Complexity Restriction  "
                                    : "Completed: Evaluation of Fit Restriction  ";
}

// What run_phase does after a stage: the progress line, the hits and the running product.
void finish_stage(const Problem& problem, Phase phase, int32_t stage, float share, float* hits, float& product) {
  textio::write_free(textio::kConsole, {progress_text(phase), stage});
  hits[stage - 1] = share * static_cast<float>(problem.niter);
  product = share * product;
}

// The bounding rows of a group of stages first .. first + count - 1.
int64_t bounding_rows(int32_t first, int32_t count) {
  int64_t rows = 0;
  for (int32_t s = 0; s < count; ++s) rows += first + s - 1;
  return rows;
}

// Stages `first` .. T of a phase with the fast sampler from `stream`, group by group,
// `finished(stage, share)` after each stage of a group once the group is done. Stops
// before a group whose storage cannot be obtained; returns the first stage not run.
template <class Finished>
int32_t fast_stages(const Problem& problem, Phase phase, int32_t first, float* pi, numlib::UniformStream& stream,
                    int64_t group_byte_limit, Finished finished) {
  std::vector<float> shares;
  int32_t t = first;
  while (t <= problem.restrictions()) {
    const int32_t count = fast_group_size(problem, t, group_byte_limit);
    shares.resize(static_cast<size_t>(count));
    if (!fast_stage_shares(problem, phase, t, count, pi, shares.data(), chosen_vector_width(bounding_rows(t, count)),
                           stream)) {
      break;
    }
    for (int32_t s = 0; s < count; ++s) finished(t + s, shares[static_cast<size_t>(s)]);
    t += count;
  }
  return t;
}

// Stages `first` .. T with the fast sampler from `stream`, which stands where the
// thread's generator is meant to be. A group whose storage cannot be obtained runs
// stage by stage with the literal sampler instead, on the thread's generator (handed
// the stream's position and back). Ends with `stream` after the last deviate.
void run_fast_from(const Problem& problem, Phase phase, int32_t first, float* pi, float* hits, float& product,
                   numlib::UniformStream& stream, int64_t group_byte_limit) {
  const bool draws = phase_draws(problem);
  auto finished = [&](int32_t stage, float share) { finish_stage(problem, phase, stage, share, hits, product); };
  for (int32_t t = first; t <= problem.restrictions();) {
    t = fast_stages(problem, phase, t, pi, stream, group_byte_limit, finished);
    if (t > problem.restrictions()) break;
    // No room for the group's working storage: the literal sampler needs less.
    if (draws) numlib::commit_uniforms(stream);
    finished(t, literal_stage_share(problem, phase, t, pi));
    if (draws) stream = numlib::reserve_uniforms();
    ++t;
  }
}

}  // namespace

bool phase_draws(const Problem& problem) {
  return problem.restrictions() >= 1 && problem.niter >= 1 && problem.items() >= 1;
}

int64_t phase_deviates(const Problem& problem) {
  if (!phase_draws(problem)) return 0;
  return int64_t{problem.restrictions()} * problem.niter * problem.items();
}

float run_phase(const Problem& problem, Phase phase, float* pi, float* hits, SamplerChoice choice,
                int64_t group_byte_limit) {
  float product = 1.0f;
  if (choice == SamplerChoice::Literal) {
    for (int32_t t = 1; t <= problem.restrictions(); ++t) {
      finish_stage(problem, phase, t, literal_stage_share(problem, phase, t, pi), hits, product);
    }
    return product;
  }
  // The fast sampler's deviates come from a stream that stands where the thread's
  // generator does; it is handed back after the last stage.
  const bool draws = phase_draws(problem);
  numlib::UniformStream stream;
  if (draws) stream = numlib::reserve_uniforms();
  run_fast_from(problem, phase, 1, pi, hits, product, stream, group_byte_limit);
  if (draws) numlib::commit_uniforms(stream);
  return product;
}

PhaseResults run_phases(const Problem& problem, float* pi, float* chit, float* fhit, concurrency::Executor& executor,
                        bool side_by_side, int64_t group_byte_limit, const concurrency::IdleWork& meanwhile) {
  PhaseResults results{1.0f, 1.0f};
  // Two threads need room for two groups at once, each at least the largest single stage.
  const int32_t stages = problem.restrictions();
  const bool room = stages >= 1 && fast_group_bytes(problem.items(), stages, 1) <= group_byte_limit / 2;
  const bool idle_work = meanwhile && executor.threads() >= 2 && phase_draws(problem);
  if (!side_by_side || executor.threads() < 2 || !phase_draws(problem) || !room) {
    // The helper, where there is one, does the idle work meanwhile.
    std::atomic<bool> swept{false};
    const std::function<void()> idle = [&] { meanwhile([&] { return swept.load(); }); };
    std::optional<concurrency::OfferedJob> offered;
    if (idle_work) offered.emplace(executor, idle);
    std::exception_ptr failure;
    try {
      results.complexity = run_phase(problem, Phase::Complexity, pi, chit, SamplerChoice::Fast, group_byte_limit);
      results.fit = run_phase(problem, Phase::Fit, pi, fhit, SamplerChoice::Fast, group_byte_limit);
    } catch (...) {
      failure = std::current_exception();
    }
    swept.store(true);
    if (offered) offered->finish();
    if (failure) std::rethrow_exception(failure);
    return results;
  }
  const int64_t limit = group_byte_limit / 2;

  // The fit phase starts where the complexity phase's T x niter x J deviates end.
  numlib::UniformStream stream = numlib::reserve_uniforms();
  numlib::UniformStream fit_stream = stream.ahead(phase_deviates(problem));
  std::vector<float> fit_shares;
  std::vector<float> fit_pi;
  int32_t fit_next = 1;  // the first fit stage the second thread did not run
  std::exception_ptr failure;
  // The thread that finishes its phase first does the idle work until the other has
  // finished too.
  std::atomic<int> finished{0};
  const auto finish = [&] {
    if (finished.fetch_add(1) == 0 && meanwhile) meanwhile([&] { return finished.load() == 2; });
  };
  // The fit, silently, on the second thread: its progress lines follow the complexity's.
  const std::function<void()> fit_part = [&] {
    try {
      fit_shares.resize(static_cast<size_t>(stages));
      fit_pi.resize(static_cast<size_t>(problem.items()));
      fit_next = fast_stages(problem, Phase::Fit, 1, fit_pi.data(), fit_stream, limit,
                             [&](int32_t stage, float share) { fit_shares[static_cast<size_t>(stage - 1)] = share; });
    } catch (const std::bad_alloc&) {
      // Storage refused: the calling thread runs the rest of the fit below.
    }
    finish();
  };
  {
    concurrency::OfferedJob offered = executor.offer(fit_part);
    // The complexity on the calling thread, which owns the generator and the console.
    try {
      run_fast_from(problem, Phase::Complexity, 1, pi, chit, results.complexity, stream, limit);
    } catch (...) {
      failure = std::current_exception();
    }
    // A fit the second thread has not started is run below instead.
    if (!offered.take_back()) {
      finish();
      offered.wait();
    }
  }
  if (failure) std::rethrow_exception(failure);

  // The fit's progress lines, hits and product as the calling thread would have made
  // them; the stages the second thread did not run follow here, from where it stopped.
  assert(fit_next >= 1 && fit_next <= stages + 1);
  if (fit_next > 1) stream = fit_stream;
  for (int32_t t = 1; t < fit_next; ++t) {
    finish_stage(problem, Phase::Fit, t, fit_shares[static_cast<size_t>(t - 1)], fhit, results.fit);
  }
  if (fit_next > stages) {
    for (size_t j = 0; j < fit_pi.size(); ++j) pi[j] = fit_pi[j];  // the fit's last state, as in one thread
  }
  run_fast_from(problem, Phase::Fit, fit_next, pi, fhit, results.fit, stream, limit);
  numlib::commit_uniforms(stream);
  return results;
}

}  // namespace propbf::driver
