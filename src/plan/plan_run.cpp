#include "plan/plan_run.hpp"

#include <algorithm>

#include "engine/parallel.hpp"

namespace propbf::evaluate {

std::vector<SizeSummary> run_plan(const Planner& planner, const PlanHeader& header, const PlanRunOptions& options) {
  const auto datasets = header.datasets;
  const auto total = static_cast<std::int64_t>(header.sizes.size()) * datasets;
  std::vector<SizeSummary> summaries;
  for (std::size_t s = 0; s < header.sizes.size(); ++s) summaries.emplace_back(header, s);
  // The part's places in the grid: shard - 1, shard - 1 + shards, ...
  const std::int64_t first = options.shard - 1;
  const std::int64_t count = first < total ? (total - first + options.shards - 1) / options.shards : 0;
  std::vector<DatasetRecord> block;
  for (std::int64_t from = 0; from < count; from += kPlanBlock) {
    if (options.stop && options.stop()) throw Cancelled();
    const std::int64_t size = std::min(kPlanBlock, count - from);
    block.assign(static_cast<std::size_t>(size), DatasetRecord{});
    run_in_parallel(static_cast<std::size_t>(size), options.threads, [&](std::size_t i) {
      const std::int64_t place = first + (from + static_cast<std::int64_t>(i)) * options.shards;
      block[i] = planner.evaluate(static_cast<std::size_t>(place / datasets), place % datasets);
    });
    for (const DatasetRecord& record : block) {
      summaries[record.size].add(record);
      // The whole plan holds one size's factors at a time.
      if (options.shards == 1 && summaries[record.size].count() == datasets) summaries[record.size].finish();
      if (options.on_record) options.on_record(record);
    }
    if (options.progress) options.progress(static_cast<double>(from + size) / static_cast<double>(count));
  }
  return summaries;
}

}  // namespace propbf::evaluate
