// The progress line of a run's chains.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/run_control.hpp"

namespace propbf::evaluate {

// A line on standard error, when it is a terminal and the run has taken more than a
// second, redrawn at most five times a second while chains run: the hypothesis and stage
// a chain has reached, its sweeps, and the time the chains of this round still need,
// from the share of their estimated cost done. Cleared when the run ends. It also
// carries the run's stop flag.
class Progress {
 public:
  Progress(bool wanted, const RunControl& control);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() { clear(); }

  bool cancelled() const {
    return (control_.cancel != nullptr && control_.cancel->load()) || (control_.stop && control_.stop());
  }
  // cancelled() as the steps ask it; empty when the run cannot be stopped.
  StopCheck stop_check() const {
    if (control_.cancel == nullptr && !control_.stop) return {};
    return [this] { return cancelled(); };
  }

  void start_round(double total_cost);
  // A chain has run `cost` more (stage 0: the estimate chain); called from any thread.
  void advance(double cost, const std::string& hypothesis, std::size_t stage, std::size_t stages, std::int64_t sweeps,
               std::int64_t niter);
  void clear();

 private:
  using Clock = std::chrono::steady_clock;

  void put(const std::string& line);

  bool shown_;
  const RunControl& control_;
  Clock::time_point start_;
  Clock::time_point last_{};
  Clock::time_point round_start_{};
  double round_cost_ = 0.0;
  std::atomic<double> done_cost_{0.0};
  std::size_t width_ = 0;
  std::mutex mutex_;
};

// Sweeps a chain runs between two looks at the progress line and the stop flag (the
// counts do not depend on it: a continued chain counts what a straight one does).
inline constexpr std::int64_t kProgressStep = 4096;

}  // namespace propbf::evaluate
