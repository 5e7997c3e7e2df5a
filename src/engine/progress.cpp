#include "engine/progress.hpp"

#include <unistd.h>

#include <cstdio>
#ifndef PROPBF_PROGRESS_CALLER_ONLY
#include <iostream>
#endif

namespace propbf::evaluate {

// A build that embeds the engine in a program with an output of its own (the R package)
// defines PROPBF_PROGRESS_CALLER_ONLY: the line then goes only to the run control's
// receiver, and the engine never touches standard error.
#ifdef PROPBF_PROGRESS_CALLER_ONLY
Progress::Progress(bool, const RunControl& control)
    : shown_(static_cast<bool>(control.progress)), control_(control), start_(Clock::now()) {}
#else
Progress::Progress(bool wanted, const RunControl& control)
    : shown_((wanted && ::isatty(STDERR_FILENO) == 1) || control.progress), control_(control), start_(Clock::now()) {}
#endif

void Progress::start_round(double total_cost) {
  round_start_ = Clock::now();
  round_cost_ = total_cost;
  done_cost_.store(0.0);
}

void Progress::advance(double cost, const std::string& hypothesis, std::size_t stage, std::size_t stages,
                       std::int64_t sweeps, std::int64_t niter) {
  if (!shown_) return;
  done_cost_.fetch_add(cost);
  const std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return;
  const Clock::time_point now = Clock::now();
  if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(200)) return;
  last_ = now;
  const double elapsed = std::chrono::duration<double>(now - round_start_).count();
  std::string line = hypothesis + ": " +
                     (stage == 0 ? std::string("estimates")
                                 : "stage " + std::to_string(stage) + " of " + std::to_string(stages)) +
                     ", " + std::to_string(sweeps) + " of " + std::to_string(niter) + " sweeps";
  const double done = done_cost_.load();
  if (done > 0.0 && round_cost_ > done) {
    const auto left = static_cast<long>(elapsed * (round_cost_ - done) / done);
    char text[48];
    std::snprintf(text, sizeof text, ", ~%ld:%02ld:%02ld left", left / 3600, left / 60 % 60, left % 60);
    line += text;
  }
  put(line);
}

void Progress::clear() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (width_ > 0) put("");
}

void Progress::put(const std::string& line) {
  std::string bytes = "\r" + line;
  if (line.size() < width_) bytes += std::string(width_ - line.size(), ' ') + "\r" + line;
  width_ = line.size();
  if (control_.progress) {
    control_.progress(line);
    return;
  }
#ifndef PROPBF_PROGRESS_CALLER_ONLY
  std::cerr << bytes << std::flush;
#endif
}

}  // namespace propbf::evaluate
