// Reading a plan file (TOML): the items and hypotheses as a problem file has them, a
// data-generating truth and a design of sample sizes (`propbf plan`).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "problem/problem.hpp"

namespace propbf::evaluate {

// An item's true proportion: fixed, or drawn per data set from Beta(a, b). An item of
// categories has instead its K true category proportions (fixed, summing to 1) or, not
// fixed, the K shapes of the Dirichlet each data set draws them from.
struct ItemTruth {
  bool fixed = true;
  double proportion = 0.5;
  double beta_a = 1.0;
  double beta_b = 1.0;
  std::vector<double> proportions{};
  std::vector<double> dirichlet{};
};

// How far a categorical item's true proportions may sum from 1.
inline constexpr double kTruthSumTolerance = 1e-6;

// What the data sets are drawn from: one entry per item, or (from_hypothesis not empty)
// the prior restricted to that hypothesis.
struct PlanTruth {
  std::vector<ItemTruth> items;
  std::string from_hypothesis;
};

// Which factor a plan counts for each hypothesis.
enum class PlanFactor { Unconstrained, Complement, Hypothesis };

// The limits of a plan: each refused with its place.
inline constexpr std::int64_t kMaxPlanDatasets = 10'000'000;
// data sets over all sizes (sizes x datasets)
inline constexpr std::int64_t kMaxPlanGrid = 100'000'000;
inline constexpr std::int64_t kMaxPlanTrials = 1'000'000'000;
inline constexpr std::size_t kMaxPlanSizes = 1000;
inline constexpr std::size_t kMaxPlanThresholds = 20;
// Defaults: data sets per size, thresholds, the sweeps per stage each data set's chains
// start with and may reach, the relative half-width they stop at.
inline constexpr std::int64_t kDefaultPlanDatasets = 1000;
inline constexpr std::int64_t kDefaultPlanNiter = 500;
// With an item of more than two categories: its coupled categories mix more slowly, and
// batch means of 500 sweeps understate their chains' error.
inline constexpr std::int64_t kDefaultPlanSimplexNiter = 2000;
inline constexpr std::int64_t kDefaultPlanMaxNiter = 1 << 16;
inline constexpr double kDefaultPlanPrecision = 0.1;
// Sweeps of the restricted prior's chain before a truth is taken from it.
inline constexpr std::int64_t kDefaultTruthSweeps = 200;

struct PlanDesign {
  // Per size, the trials of each item (in item order).
  std::vector<std::vector<std::int64_t>> sizes;
  std::int64_t datasets = kDefaultPlanDatasets;
  // The thresholds as numbers and as the plan wrote them (the keys of the JSON).
  std::vector<double> thresholds{3.0, 10.0};
  std::vector<std::string> threshold_names{"3", "10"};
  std::int64_t seed = 1;
  // Fixed sweeps per stage (precision empty), or the start of doubling to precision.
  std::int64_t niter = kDefaultPlanNiter;
  std::optional<double> precision = kDefaultPlanPrecision;
  std::int64_t max_niter = kDefaultPlanMaxNiter;
  // Stop a data set's chains once the factor's interval holds no threshold (and no
  // inverse of one): its class is then decided.
  bool stop_when_decided = true;
  PlanFactor factor = PlanFactor::Unconstrained;
  std::string against;  // PlanFactor::Hypothesis: the hypothesis each is set against
  // The target: the smallest size at which P(BF > target_threshold) >= target.
  std::optional<double> target;
  std::size_t target_threshold = 0;  // index into thresholds
  std::int64_t truth_sweeps = kDefaultTruthSweeps;
  // The complexity of hypotheses whose complexity is not known exactly: sweeps per stage.
  std::int64_t complexity_niter = 20000;
};

struct PlanFile {
  CountsProblem problem;  // items without counts, the hypotheses
  PlanTruth truth;
  PlanDesign design;
  // A 64-bit hash of the file's content: parts of one plan carry it, merging checks it.
  std::uint64_t key = 0;
};

// Reads and checks a plan file. Throws InputError with the file, line and column.
PlanFile read_plan_file(const std::string& file_name);
PlanFile read_plan_text(const std::string& file_name, std::string content);

}  // namespace propbf::evaluate
