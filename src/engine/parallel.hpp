// Tasks spread over a team of threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <type_traits>

namespace propbf::evaluate {

// What a task of run_in_parallel may ask between pieces of its work: whether another
// task has failed, so that it can stop early (its work is not used then).
class ParallelRound {
 public:
  bool failed() const { return failed_.load(std::memory_order_relaxed); }

 private:
  template <class Task>
  friend void run_in_parallel(std::size_t count, int threads, const Task& task);
  std::atomic<bool> failed_{false};
};

// Runs task(i), or task(i, round) with the round's ParallelRound, for i = 0 ... count - 1
// on up to `threads` threads, handing out one index at a time in increasing order, so
// the tasks listed first start first. A task that throws hands its exception to the
// calling thread: the first one thrown is rethrown once every task has ended; the tasks
// not yet started are then skipped, and those running can see it (round.failed()).
template <class Task>
void run_in_parallel(std::size_t count, int threads, const Task& task) {
  std::exception_ptr failure;
  ParallelRound round;
  const auto total = static_cast<std::ptrdiff_t>(count);
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
  for (std::ptrdiff_t i = 0; i < total; ++i) {
    if (round.failed()) continue;
    try {
      if constexpr (std::is_invocable_v<const Task&, std::size_t, const ParallelRound&>) {
        task(static_cast<std::size_t>(i), static_cast<const ParallelRound&>(round));
      } else {
        task(static_cast<std::size_t>(i));
      }
    } catch (...) {
#pragma omp critical(propbf_evaluate_task_failure)
      if (!failure) failure = std::current_exception();
      round.failed_.store(true, std::memory_order_relaxed);
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace propbf::evaluate
