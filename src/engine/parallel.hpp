// Tasks spread over a team of threads.
#pragma once

#include <cstddef>
#include <exception>

namespace propbf::evaluate {

// Runs task(i) for i = 0 ... count - 1 on up to `threads` threads, handing out one index
// at a time in increasing order, so the tasks listed first start first. The first
// exception a task throws is rethrown once every task has ended.
template <class Task>
void run_in_parallel(std::size_t count, int threads, const Task& task) {
  std::exception_ptr failure;
  const auto total = static_cast<std::ptrdiff_t>(count);
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
  for (std::ptrdiff_t i = 0; i < total; ++i) {
    try {
      task(static_cast<std::size_t>(i));
    } catch (...) {
#pragma omp critical(propbf_evaluate_task_failure)
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace propbf::evaluate
