// What a plan reports: per size and hypothesis the probabilities of each class of
// factor with their intervals, the factors' median and quartiles, the mean posterior
// model probability; the smallest size that reaches the target. Also the JSON lines of
// its parts (a header, then one record per data set) and their merge.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "input/plan_file.hpp"
#include "plan/planner.hpp"

namespace propbf::evaluate {

// What every part of a plan carries, and all the summary needs beside the records.
struct PlanHeader {
  std::string version;
  std::uint64_t key = 0;
  std::vector<std::string> items;
  std::vector<std::string> hypotheses;
  std::vector<double> complexities;
  std::vector<bool> complexities_exact;
  std::vector<std::vector<std::int64_t>> sizes;
  std::int64_t datasets = 0;
  std::int64_t seed = 0;
  std::vector<double> thresholds;
  std::vector<std::string> threshold_names;
  std::string against;  // "unconstrained", "complement" or a hypothesis's name
  std::optional<double> target;
  std::size_t target_threshold = 0;
};

PlanHeader plan_header(const PlanFile& plan, const Planner& planner, const std::string& version);

// The running summary of one size: records are added in data-set order.
class SizeSummary {
 public:
  SizeSummary(const PlanHeader& header, std::size_t size);
  void add(const DatasetRecord& record);
  std::int64_t count() const { return count_; }

  struct Hypothesis {
    std::vector<std::int64_t> above;  // per threshold k: factors > k
    std::vector<std::int64_t> below;  // factors < 1 / k
    std::vector<double> factors;      // for the quantiles, until finish()
    std::array<double, 3> quartiles{};  // after finish(): the factors' 0.25, 0.5, 0.75 quantiles
    double pmp_sum = 0.0;
    double sweeps_sum = 0.0;
  };
  const std::vector<Hypothesis>& hypotheses() const { return hypotheses_; }
  std::size_t size() const { return size_; }
  // Forms each hypothesis's quartiles and lets its factors go, so that a plan holds the
  // factors of one size at a time; no record may be added after it. Done once.
  void finish();

 private:
  const PlanHeader* header_;
  std::size_t size_;
  std::int64_t count_ = 0;
  bool finished_ = false;
  std::vector<Hypothesis> hypotheses_;
};

// The 95% Clopper-Pearson interval of x successes in n.
std::array<double, 2> clopper_pearson(std::int64_t x, std::int64_t n);
// The progress of a run: "37% of 5000 data sets, about 1 min 4 s left" (`done` the share
// done after `elapsed` seconds).
std::string plan_progress_text(double done, std::int64_t datasets, double elapsed);
// The p-quantile of sorted values, interpolated between neighbours (R's type 7); equal
// neighbours (infinities included) give their value.
double sorted_quantile(const std::vector<double>& sorted, double p);

// Where hypothesis h first reaches the plan's target, P(BF > k) >= target (header.target
// set): the first size that does (its index among `sizes`), and its trials over all items,
// interpolated linearly in the trials from the size before when that one lies below
// (and its P is smaller). Not reached: no size does.
struct TargetReach {
  bool reached = false;
  bool interpolated = false;
  double total = 0.0;  // trials over all items
  std::size_t size = 0;
};
TargetReach target_reach(const PlanHeader& header, const std::vector<SizeSummary>& sizes, std::size_t h);

// The table and the JSON document of a finished plan (summaries in size order; their
// factors are sorted here).
std::string format_plan_table(const PlanHeader& header, std::vector<SizeSummary>& sizes);
std::string format_plan_json(const PlanHeader& header, std::vector<SizeSummary>& sizes);

// JSON lines: the header of part `shard` of `shards` (1-based), and one record.
std::string format_part_header(const PlanHeader& header, std::int64_t shard, std::int64_t shards);
std::string format_part_record(const DatasetRecord& record);

// A part's header read back: the plan it belongs to and which part it is.
struct PlanPart {
  PlanHeader header;
  std::int64_t shard = 1;
  std::int64_t shards = 1;
};

// The longest line a part may hold (a record is a few hundred bytes per item).
inline constexpr std::size_t kMaxPartLineBytes = std::size_t{64} << 20;

// Reads a part one line at a time: its header, then each record handed to `on_record`
// (with the header read so far). Throws InputError (file and line) for a part that is not
// one.
PlanPart read_plan_part(const std::string& file_name, std::istream& in,
                        const std::function<void(const PlanPart&, const DatasetRecord&)>& on_record);

// The parts of one plan, read one after another. Of each record only what the summaries
// need is kept (per hypothesis its factor, model probability and sweeps: 24 bytes), so a
// merge holds neither whole files nor whole records.
class PlanMerge {
 public:
  // Throws InputError for a part that is not one, of another plan (or version, or shard
  // count), or given twice.
  void add_part(const std::string& file_name, std::istream& in);
  // The summaries in size order, and the plan's header; throws InputError when a part, or
  // a data set, is missing or a data set is given twice.
  std::vector<SizeSummary> summaries(PlanHeader& header);

 private:
  bool have_plan_ = false;
  PlanHeader header_;
  std::int64_t shards_ = 0;
  std::set<std::int64_t> parts_;
  std::vector<std::uint64_t> places_;  // per record read: size index x datasets + data set index
  std::vector<double> values_;         // per record and hypothesis: factor, model probability
  std::vector<std::int64_t> sweeps_;   // per record and hypothesis
};

}  // namespace propbf::evaluate
