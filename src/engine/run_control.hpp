// A run's controls from outside: its stop flag and its progress line.
#pragma once

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>

namespace propbf::evaluate {

// What a caller embedding the engine (the R package) may ask of a run besides the
// problem: a flag that stops it, looked at between chunks of sweeps of every chain
// (evaluate_problem then throws Cancelled once every chain has stopped), and a receiver
// of the progress line in place of standard error (called from any thread, at most five
// times a second once the run has taken a second; "" clears the line at the end).
struct RunControl {
  const std::atomic<bool>* cancel = nullptr;
  std::function<void(const std::string&)> progress;
};

class Cancelled : public std::runtime_error {
 public:
  Cancelled() : std::runtime_error("the evaluation was cancelled") {}
};

}  // namespace propbf::evaluate
