// A plan's run: its data sets (all, or one part of N) evaluated on the run's threads in
// grid order (size, then data set), each record handed on in that order.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/run_control.hpp"
#include "plan/plan_report.hpp"
#include "plan/planner.hpp"

namespace propbf::evaluate {

struct PlanRunOptions {
  int threads = 1;
  // Part `shard` of `shards` (1-based): the data sets whose place in the grid,
  // size * datasets + dataset, leaves remainder shard - 1 on division by shards.
  std::int64_t shard = 1;
  std::int64_t shards = 1;
  std::function<void(const DatasetRecord&)> on_record;  // in grid order; may be empty
  // The share of the run's data sets done (0 to 1), after each block of them.
  std::function<void(double)> progress;
  StopCheck stop;  // asked between blocks: Cancelled
};

// Data sets handed to the threads at a time (the records of a block are passed on once
// all of it is done, in order).
inline constexpr std::int64_t kPlanBlock = 256;

// Runs the part; with the whole plan (shards = 1) returns the summary of every size,
// otherwise the summaries of what the part held.
std::vector<SizeSummary> run_plan(const Planner& planner, const PlanHeader& header, const PlanRunOptions& options);

}  // namespace propbf::evaluate
