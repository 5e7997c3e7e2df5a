// The one owner of a run's threads.
//
// A run creates one Executor and hands it to the algorithms that can use a second
// thread; they offer it jobs and never start threads themselves. An executor of one
// thread takes every offered job back at once, so the same code runs on one thread or
// two, and a helper that starts late or is busy elsewhere only costs the caller the work
// it takes back. Whether a helper is started at all is the run's decision (see
// second_cpu_free), made once, before the work begins.
#pragma once

#include <functional>
#include <optional>

#include "concurrency/job_handoff.hpp"

namespace propbf::concurrency {

// Work for a thread that would otherwise wait: runs piece by piece until `stop` (asked
// between pieces) returns true or nothing is left.
using IdleWork = std::function<void(const std::function<bool()>& stop)>;

// Whether a second thread could run beside the calling one now: this process may run on
// two or more CPUs (its affinity mask), OpenMP allows two threads (OMP_NUM_THREADS, the
// thread limit, not already inside a parallel region), and the machine's runnable tasks
// at this moment (the kernel's count, the caller included) are fewer than its CPUs
// online. On a machine whose CPUs are all busy, a second thread would only take turns
// with the other work and make the run slower.
bool second_cpu_free();

class Executor;

// A job offered to an executor's helper. By the time the guard is gone the job has
// either run to its end on the helper or been taken back unrun: the destructor waits for
// a job the helper has started, so no job outlives the objects it refers to.
class OfferedJob {
 public:
  // Offers `job`, which must stay valid while the guard lives. One job at a time per
  // executor: the last guard must be settled (or gone) first.
  OfferedJob(Executor& executor, const std::function<void()>& job);
  OfferedJob(const OfferedJob&) = delete;
  OfferedJob& operator=(const OfferedJob&) = delete;
  ~OfferedJob() {
    if (!settled_) finish();
  }

  // Takes the job back if the helper has not started it: true then (the caller runs
  // it or drops it). False: the helper has it; wait() for it.
  bool take_back();
  // Waits for the helper to finish the job (after take_back returned false).
  void wait();
  // True when the helper ran the job (finished by now), false when it was taken back.
  bool finish() {
    if (take_back()) return false;
    wait();
    return true;
  }

 private:
  JobHandoff* jobs_;  // null: no helper, taken back at once
  bool settled_ = false;
};

class Executor {
 public:
  // The calling thread alone.
  Executor() = default;
  // With `threads` >= 2, a helper thread started now (where the system grants one).
  explicit Executor(int threads);
  // Jobs go to `jobs`, served by a thread the caller owns, or by none (every job is
  // then taken back). For tests and benchmarks of late and missing helpers.
  explicit Executor(JobHandoff& jobs) : jobs_(&jobs) {}
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  // 2 when an offered job may run beside the caller, else 1.
  int threads() const { return jobs_ != nullptr ? 2 : 1; }

  // Offers `job`: see OfferedJob.
  [[nodiscard]] OfferedJob offer(const std::function<void()>& job) { return OfferedJob(*this, job); }

 private:
  friend class OfferedJob;
  std::optional<HelperThread> helper_;
  JobHandoff* jobs_ = nullptr;
};

}  // namespace propbf::concurrency
