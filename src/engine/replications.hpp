// The replicated stage shares behind the factors' intervals: each stage share redrawn
// from its beta distribution kReplications times, the factors formed per replication
// and their order statistics selected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/results.hpp"
#include "engine/run_control.hpp"
#include "sampling/stream.hpp"

namespace propbf::evaluate {

// The kLowerPosition-th and kUpperPosition-th smallest of kReplications values, NaNs
// counted as larger than any number (values.size() == kReplications).
Interval order_interval(std::vector<double> values);

// Replications are drawn in blocks of this many, each block of a stage from its own
// stream, so that blocks can run on any thread.
inline constexpr std::size_t kReplicationBlock = 6250;

// One kind of interval (corrected or independent) of one hypothesis (`key`, its
// hypothesis_key, part of its streams' keys), from the result's stage counts and niter.
struct IntervalJob {
  HypothesisResult* result;
  std::uint64_t key;
  bool corrected;
};

// Sets the jobs' intervals (the factor against the unconstrained hypothesis and against
// the complement) from kReplications replications of the stage shares, on up to
// `threads` threads; the same bytes for any number of threads. Throws Cancelled when
// `stop`, asked before each block, says so.
void replication_intervals(const std::vector<IntervalJob>& jobs, StreamSeed seed, int threads,
                           const StopCheck& stop = {});
// The same, done literally on one thread (the reference in tests).
void replication_intervals_plain(const std::vector<IntervalJob>& jobs, StreamSeed seed);

}  // namespace propbf::evaluate
