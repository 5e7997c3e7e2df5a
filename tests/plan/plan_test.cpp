// Plans against answers known without them: the class probabilities of an equality's
// closed-form factor summed over every outcome (within four standard errors), the factors of `propbf evaluate` on the
// same data sets, and the pieces of the summary.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/evaluation.hpp"
#include "input/plan_file.hpp"
#include "plan/plan_report.hpp"
#include "plan/plan_run.hpp"
#include "plan/planner.hpp"
#include "problem/prepare.hpp"

namespace propbf::evaluate {
namespace {

PlanFile plan_of(const std::string& text) { return read_plan_text("plan.toml", text); }

double log_binomial(int n, int k) { return std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0); }
double log_beta_function(double a, double b) { return std::lgamma(a) + std::lgamma(b) - std::lgamma(a + b); }

// a = b under uniform priors: the factor against the unconstrained hypothesis is
// B(k + 1, N - k + 1) / (B(k1 + 1, n - k1 + 1) B(k2 + 1, n - k2 + 1)). The exact
// probability that it exceeds `above` (or falls below 1 / below) when both items have
// proportion p and n trials.
double exact_probability(int n, double p, double threshold, bool above) {
  double probability = 0.0;
  for (int k1 = 0; k1 <= n; ++k1) {
    for (int k2 = 0; k2 <= n; ++k2) {
      const double log_factor = log_beta_function(k1 + k2 + 1.0, 2.0 * n - k1 - k2 + 1.0) -
                                log_beta_function(k1 + 1.0, n - k1 + 1.0) - log_beta_function(k2 + 1.0, n - k2 + 1.0);
      const double factor = std::exp(log_factor);
      if (above ? factor > threshold : factor < 1.0 / threshold) {
        probability += std::exp(log_binomial(n, k1) + log_binomial(n, k2) + (k1 + k2) * std::log(p) +
                                (2.0 * n - k1 - k2) * std::log1p(-p));
      }
    }
  }
  return probability;
}

TEST(PlanExact, EqualityClassProbabilitiesHoldTheSumOverOutcomes) {
  const PlanFile plan = plan_of(
      "[items]\nnames = [\"a\", \"b\"]\n[hypotheses]\nsame = \"a = b\"\n[truth]\na = 0.4\nb = 0.4\n"
      "[design]\nn = [4, 12, 30]\ndatasets = 2000\nthresholds = [2, 3]\nseed = 7\n");
  const Planner planner(plan);
  const PlanHeader header = plan_header(plan, planner, "test");
  std::vector<SizeSummary> sizes = run_plan(planner, header, PlanRunOptions{});
  ASSERT_EQ(sizes.size(), 3u);
  for (const SizeSummary& summary : sizes) {
    const int n = static_cast<int>(plan.design.sizes[summary.size()][0]);
    for (std::size_t k = 0; k < header.thresholds.size(); ++k) {
      for (const bool above : {true, false}) {
        const std::int64_t hits = above ? summary.hypotheses()[0].above[k] : summary.hypotheses()[0].below[k];
        // Twelve probabilities: each within four of its standard errors (a 95% interval
        // would miss one of twelve about half the time).
        const double exact = exact_probability(n, 0.4, header.thresholds[k], above);
        const double share = static_cast<double>(hits) / static_cast<double>(summary.count());
        const double error = std::sqrt(exact * (1.0 - exact) / static_cast<double>(summary.count()));
        EXPECT_LE(std::abs(share - exact), 4.0 * error + 1e-12)
            << "n " << n << " threshold " << header.thresholds[k] << (above ? " above" : " below");
      }
    }
    // Equalities alone run no chain.
    EXPECT_EQ(summary.hypotheses()[0].sweeps_sum, 0.0);
  }
}

// The plan's factor of each data set against `propbf evaluate` on the same counts at its
// default settings: the evaluation's factor lies in the plan's interval (19 of 20 or more).
TEST(PlanAgreement, FactorsOfTheSameDataSetsAsEvaluate) {
  const std::string items = "[items]\nnames = [\"a\", \"b\", \"c\"]\n";
  const std::string hypotheses = "[hypotheses]\nordered = \"a > b > c\"\nbound = \"a > 0.5; c < b\"\n";
  const PlanFile plan = plan_of(items + hypotheses +
                                "[truth]\na = 0.6\nb = 0.5\nc = { beta = [4, 6] }\n[design]\nn = [15]\ndatasets = 20\n");
  const Planner planner(plan);
  int inside = 0;
  int total = 0;
  for (std::int64_t d = 0; d < 20; ++d) {
    const DatasetRecord record = planner.evaluate(0, d);
    CountsProblem problem = plan.problem;
    for (std::size_t j = 0; j < problem.items.size(); ++j) {
      problem.items[j].successes = record.successes[j];
      problem.items[j].trials = 15;
    }
    problem.settings.seed = 1000 + d;
    const Evaluation evaluation = evaluate_problem(prepare_problem(problem, {}), 1);
    for (std::size_t h = 0; h < 2; ++h) {
      const double factor = evaluation.hypotheses[h].bf_unconstrained;
      ++total;
      if (record.intervals[h][0] <= factor && factor <= record.intervals[h][1]) ++inside;
    }
  }
  EXPECT_GE(inside, total - 2) << inside << " of " << total;
}

TEST(PlanSummary, QuantilesIntervalsAndDataSetKeys) {
  EXPECT_EQ(sorted_quantile({1.0, 2.0, 3.0, 4.0}, 0.5), 2.5);
  EXPECT_EQ(sorted_quantile({1.0, 2.0, 3.0, 4.0}, 0.25), 1.75);
  EXPECT_EQ(sorted_quantile({0.0, INFINITY, INFINITY}, 0.75), INFINITY);
  EXPECT_EQ(sorted_quantile({5.0}, 0.25), 5.0);
  const std::array<double, 2> none = clopper_pearson(0, 10);
  EXPECT_EQ(none[0], 0.0);
  EXPECT_NEAR(none[1], 0.30849710781876083, 1e-12);  // 1 - 0.025^(1/10)
  const std::array<double, 2> all = clopper_pearson(10, 10);
  EXPECT_NEAR(all[0], 0.69150289218123917, 1e-12);
  EXPECT_EQ(all[1], 1.0);
  // A data set keeps its numbers when sizes are added before it or the order changes.
  const std::string head = "[items]\nnames = [\"a\", \"b\"]\n[hypotheses]\nH = \"a > b\"\n[truth]\na = 0.6\nb = 0.4\n";
  const Planner one(plan_of(head + "[design]\nn = [20]\ndatasets = 3\n"));
  const PlanFile two_plan = plan_of(head + "[design]\nn = [5, 20]\ndatasets = 3\n");
  const Planner two(two_plan);
  const DatasetRecord x = one.evaluate(0, 2);
  const DatasetRecord y = two.evaluate(1, 2);
  EXPECT_EQ(x.successes, y.successes);
  EXPECT_EQ(x.factors, y.factors);
}

}  // namespace
}  // namespace propbf::evaluate
