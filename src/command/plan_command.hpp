// `propbf plan PLAN.toml` and `propbf plan merge PART...`: the work behind the options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace propbf::evaluate {

// The parts a plan may be cut into.
inline constexpr std::int64_t kMaxPlanShards = 1000000;

struct PlanCommand {
  std::string plan_file;
  std::string json_file;   // the summary as JSON (empty: none)
  std::string jsonl_file;  // one record per data set, after a header line (empty: none)
  std::int64_t shard = 1;  // with shards > 1: this part only (needs jsonl_file)
  std::int64_t shards = 1;
  int threads = 0;
  bool merge = false;               // merge `parts` instead of running a plan
  std::vector<std::string> parts;
};

// Runs the plan or the merge; returns the exit status: 0 done, 2 a mistake in the plan or
// the parts (message with its place, nothing written), 1 a file that cannot be written.
int run_plan_command(const PlanCommand& command, bool output_closed, const std::string& version);

}  // namespace propbf::evaluate
