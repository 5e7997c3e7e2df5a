// A run's controls from outside: its stop flag and its progress line.
#pragma once

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>

namespace propbf::evaluate {

// What a caller embedding the engine (the R package) may ask of a run besides the
// problem: a flag that stops it, and a receiver of the progress line in place of
// standard error (called from any thread, at most five times a second once the run has
// taken a second; "" clears the line at the end). The flag is looked at between the
// pieces of every long step: before each hypothesis's start point and between the
// linear programmes of its search, between chunks of sweeps of every chain (stage and
// estimate chains), between blocks of replications. evaluate_problem then throws
// Cancelled once every thread has stopped. `stop`, when given, is asked at the same
// places, from any thread: a raised flag by other means than an atomic.
struct RunControl {
  const std::atomic<bool>* cancel = nullptr;
  std::function<void(const std::string&)> progress;
  std::function<bool()> stop;
};

// Whether a run is to stop, as the steps ask it between pieces of their work (empty:
// never).
using StopCheck = std::function<bool()>;

class Cancelled : public std::runtime_error {
 public:
  Cancelled() : std::runtime_error("the evaluation was cancelled") {}
};

}  // namespace propbf::evaluate
