// The whole analysis run, start to end.
#pragma once

#include <cstdint>

#include "driver/problem.hpp"

namespace propbf::driver {

// How a run uses a second thread: decided once, here, for the whole run.
struct Schedule {
  bool helper = false;               // a helper thread is started at all
  bool phases_side_by_side = false;  // the fit runs beside the complexity (run_phases)
  bool logs_ahead = false;           // the replications' attempts' logarithms are made while a thread would wait
  bool split_replications = false;   // the replications' attempts split between the two threads
};

// Below this much work (T x niter x J deviates, times T) a phase takes a few
// milliseconds: handing the fit to another thread would cost about what it saves.
inline constexpr int64_t kTwoThreadWork = int64_t{1} << 20;

// The schedule for `problem` when a second CPU is free (see concurrency::second_cpu_free)
// or not. One thread (no helper) when no CPU is free or the problem draws nothing. The
// replications' split pays for the helper on its own: 2 x T x 100000 beta deviates, some
// 7 ms of attempts per stage on one thread, against about 0.1 ms to start and end a
// thread; it needs shapes of the log-logistic method, which take 2 sweeps or more.
Schedule plan_schedule(const Problem& problem, bool second_cpu_free);

// Opens input.txt and output.txt in the working directory, reads the problem, runs the
// complexity and fit evaluations and the replications, writes the report and ends the
// process with status 0. Failures end the process from inside (status -1 for the text
// layer's fatal report, 1 after a library error).
[[noreturn]] void run_analysis();

}  // namespace propbf::driver
