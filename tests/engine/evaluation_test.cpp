// Whole evaluations through the engine alone: a hypothesis's numbers are its own,
// whatever stands beside it; a run stops wherever it is asked to.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <cstddef>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "engine/evaluation.hpp"
#include "engine/parallel.hpp"
#include "engine/progress.hpp"
#include "engine/start_point.hpp"

namespace propbf::evaluate {
namespace {

CountsProblem problem_of(const std::vector<std::pair<std::string, std::string>>& hypotheses, std::int64_t niter,
                         std::optional<double> precision = std::nullopt) {
  CountsProblem problem;
  problem.file_name = "test.toml";
  const std::vector<std::string> names{"first", "second", "third", "crew"};
  const std::vector<std::int64_t> successes{14, 9, 4, 3};
  for (std::size_t j = 0; j < names.size(); ++j) problem.items.push_back({names[j], successes[j], 20, 1.0, 1.0});
  for (const auto& [name, text] : hypotheses) {
    HypothesisText hypothesis;
    hypothesis.name = name;
    hypothesis.text = text;
    problem.hypotheses.push_back(hypothesis);
  }
  problem.settings.niter = niter;
  problem.settings.seed = 3;
  problem.settings.precision = precision;
  if (precision) problem.settings.max_niter = 4 * niter;
  return problem;
}

// Equal numbers, or both NaN.
std::vector<double> numbers(const HypothesisResult& r) {
  std::vector<double> all{r.bf_unconstrained, r.bf_complement};
  for (const Interval& i : {r.bf_unconstrained_interval, r.bf_complement_interval,
                            r.bf_unconstrained_interval_independent, r.bf_complement_interval_independent}) {
    all.insert(all.end(), i.begin(), i.end());
  }
  return all;
}

void expect_same(const HypothesisResult& a, const HypothesisResult& b, const std::string& where) {
  EXPECT_EQ(a.niter, b.niter) << where;
  const std::vector<double> x = numbers(a);
  const std::vector<double> y = numbers(b);
  for (std::size_t i = 0; i < x.size(); ++i) {
    EXPECT_TRUE(x[i] == y[i] || (std::isnan(x[i]) && std::isnan(y[i]))) << where << ": " << x[i] << " " << y[i];
  }
  ASSERT_EQ(a.estimates.size(), b.estimates.size()) << where;
  for (std::size_t j = 0; j < a.estimates.size(); ++j) {
    EXPECT_EQ(a.estimates[j].mean, b.estimates[j].mean) << where;
    EXPECT_EQ(a.estimates[j].sd, b.estimates[j].sd) << where;
    EXPECT_EQ(a.estimates[j].lower, b.estimates[j].lower) << where;
    EXPECT_EQ(a.estimates[j].upper, b.estimates[j].upper) << where;
  }
}

// One hypothesis alone, among others, and among them in reverse order (under another
// name), in fixed and in precision mode: the same numbers. Two copies of a hypothesis
// in one set get the same numbers too, also with equalities.
TEST(HypothesisKey, NumbersDoNotDependOnTheOtherHypotheses) {
  const std::pair<std::string, std::string> alone{"H", "first > second > (third + crew)"};
  const std::vector<std::pair<std::string, std::string>> others{
      {"A", "first > 0.5"}, {"B", "second = third; first > second"}, {"C", "crew < third"}};
  for (const std::optional<double> precision : {std::optional<double>{}, std::optional<double>{0.05}}) {
    std::vector<std::pair<std::string, std::string>> set = others;
    set.insert(set.begin() + 1, alone);
    std::vector<std::pair<std::string, std::string>> reversed(set.rbegin(), set.rend());
    reversed[2].first = "renamed";
    const Evaluation one = evaluate_problem(problem_of({alone}, 2000, precision), 2);
    const Evaluation many = evaluate_problem(problem_of(set, 2000, precision), 1);
    const Evaluation back = evaluate_problem(problem_of(reversed, 2000, precision), 2);
    expect_same(one.hypotheses[0], many.hypotheses[1], "in a set");
    expect_same(one.hypotheses[0], back.hypotheses[2], "in the reversed set");
    const Evaluation twice = evaluate_problem(problem_of({others[1], others[1]}, 2000, precision), 2);
    expect_same(twice.hypotheses[0], twice.hypotheses[1], "two copies");
    expect_same(twice.hypotheses[0], many.hypotheses[2], "with equalities");
  }
}

// A partial order on items with one prior (first > second, first > third): complexity
// exactly 2 / 3! = 1/3, no complexity stage, the fit sampled as before and the factor's
// intervals those of the fit alone, over 1/3. An order beside a bound is estimated.
TEST(ExactComplexity, PartialOrderIsOneThird) {
  const Evaluation run = evaluate_problem(
      problem_of({{"H", "first > second; first > third"}, {"Bound", "first > second; third > 0.5"}}, 4000), 2);
  const HypothesisResult& h = run.hypotheses[0];
  EXPECT_TRUE(h.complexity_exact);
  EXPECT_EQ(h.complexity, 1.0 / 3.0);
  EXPECT_TRUE(h.complexity_stages.empty());
  ASSERT_EQ(h.fit_stages.size(), 2u);
  EXPECT_EQ(h.bf_unconstrained, h.fit / h.complexity);
  EXPECT_LT(h.bf_unconstrained_interval[0], h.bf_unconstrained);
  EXPECT_GT(h.bf_unconstrained_interval[1], h.bf_unconstrained);
  // The fit alone: its stage shares' spread, not the complexity's.
  EXPECT_LT(h.bf_unconstrained_interval[1] - h.bf_unconstrained_interval[0], 0.1 * h.bf_unconstrained);
  EXPECT_FALSE(h.fit_exact);
  const HypothesisResult& bound = run.hypotheses[1];
  EXPECT_FALSE(bound.complexity_exact);
  EXPECT_EQ(bound.complexity_stages.size(), 2u);
  // Equal counts: the posteriors are the same too, so the fit is exact (1/3) and no chain
  // runs; the factors are 1 without Monte Carlo error.
  CountsProblem equal = problem_of({{"H", "first > second; first > third"}}, 4000);
  for (Item& item : equal.items) item.successes = 7;
  const HypothesisResult both = evaluate_problem(equal, 2).hypotheses[0];
  EXPECT_TRUE(both.complexity_exact);
  EXPECT_TRUE(both.fit_exact);
  EXPECT_EQ(both.fit, 1.0 / 3.0);
  EXPECT_TRUE(both.fit_stages.empty());
  EXPECT_EQ(both.bf_unconstrained, 1.0);
  EXPECT_EQ(both.bf_unconstrained_interval, (Interval{1.0, 1.0}));
  EXPECT_EQ(both.bf_complement_interval_independent, (Interval{1.0, 1.0}));
}

// Ties of the categories of a trinomial, x = (12, 9, 4) under Dirichlet(1, 1, 1): x[1] =
// x[2] leaves u = x[1] + x[2], uniform a priori and Beta(22, 5) a posteriori; x[2] > x[3]
// is then u > 2/3, complexity 1/3 and fit P(u > 2/3) by quadrature; all three tied are
// 1/3 each, exactly. The estimates follow the tied proportion.
TEST(CategoryEqualities, WholeRunsMatchTheirClosedForms) {
  CountsProblem problem = problem_of({{"mixed", "x[1] = x[2] > x[3]"}, {"pair", "x[1] = x[2]"},
                                      {"all", "x[1] = x[2] = x[3]"}, {"point", "x[1] = 0.2; x[2] > x[3]"}},
                                     20000);
  Item x;
  x.name = "x";
  x.counts = {12, 9, 4};
  x.categories = {"1", "2", "3"};
  x.concentration = {1.0, 1.0, 1.0};
  problem.items = {x};
  const Evaluation run = evaluate_problem(problem, 2);
  const double ln_pair = -21.0 * std::log(2.0) + (std::lgamma(22.0) + std::lgamma(5.0) - std::lgamma(27.0)) -
                         (std::lgamma(13.0) + std::lgamma(10.0) + std::lgamma(5.0) - std::lgamma(28.0) - std::log(0.5));
  const auto beta_tail = [](double t, double a, double b) {  // P(u > t), Simpson on [t, 1]
    const int n = 20000;
    const double h = (1.0 - t) / n;
    const auto f = [&](double u) { return std::pow(u, a - 1.0) * std::pow(1.0 - u, b - 1.0); };
    double sum = f(t) + f(1.0);
    for (int i = 1; i < n; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * f(t + i * h);
    return sum * h / 3.0 * std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b));
  };
  const HypothesisResult& mixed = run.hypotheses[0];
  EXPECT_NEAR(mixed.log_bf_equalities, ln_pair, 1e-12);
  EXPECT_NEAR(mixed.complexity, 1.0 / 3.0, 0.015);
  const double fit = beta_tail(2.0 / 3.0, 22.0, 5.0);
  const double exact = std::exp(ln_pair) * fit * 3.0;
  EXPECT_LT(mixed.bf_unconstrained_interval[0], exact);
  EXPECT_GT(mixed.bf_unconstrained_interval[1], exact);
  const HypothesisResult& pair = run.hypotheses[1];
  EXPECT_EQ(pair.bf_unconstrained, std::exp(pair.log_bf_equalities));
  ASSERT_EQ(pair.estimates.size(), 3u);
  EXPECT_NEAR(pair.estimates[0].mean, 11.0 / 27.0, 1e-12);
  EXPECT_EQ(pair.estimates[1].mean, pair.estimates[0].mean);
  EXPECT_NEAR(pair.estimates[2].mean, 5.0 / 27.0, 1e-12);
  EXPECT_NEAR(pair.estimates[2].lower, 1.0 - 2.0 * pair.estimates[0].upper, 1e-12);
  const HypothesisResult& all = run.hypotheses[2];
  const double ln_all = -25.0 * std::log(3.0) - (std::lgamma(13.0) + std::lgamma(10.0) + std::lgamma(5.0) -
                                                 std::lgamma(28.0) - std::log(0.5));
  EXPECT_NEAR(all.log_bf_equalities, ln_all, 1e-12);
  for (const ItemEstimate& e : all.estimates) EXPECT_NEAR(e.mean, 1.0 / 3.0, 1e-15);
  EXPECT_GE(all.ppp, 0.0);
  EXPECT_LE(all.ppp, 1.0);
  // x[2] = 0.8 w, x[3] = 0.8 (1 - w), w ~ Beta(1 + 9, 1 + 4): x[2] > x[3] is w > 1/2.
  const HypothesisResult& point = run.hypotheses[3];
  EXPECT_NEAR(point.complexity, 0.5, 0.015);
  const double point_exact = std::exp(point.log_bf_equalities) * beta_tail(0.5, 10.0, 5.0) * 2.0;
  EXPECT_LT(point.bf_unconstrained_interval[0], point_exact);
  EXPECT_GT(point.bf_unconstrained_interval[1], point_exact);
  EXPECT_EQ(point.estimates[0].mean, 0.2);
  EXPECT_NEAR(point.estimates[1].mean + point.estimates[2].mean, 0.8, 1e-12);
}

// A stop that says yes from its `from`-th look on, counting every look.
struct CountedStop {
  std::shared_ptr<std::atomic<int>> looks = std::make_shared<std::atomic<int>>(0);
  int from = 0;  // 0: never
  bool operator()() const { return looks->fetch_add(1) + 1 >= from && from > 0; }
};

// On one thread a run looks at its stop once per hypothesis before its start point, once
// per pilot of a stage (rare_stages.hpp; one per stage and phase here, none rare), once
// per chunk of kProgressStep sweeps of each chain (stage and estimate chains) and once
// per block of replications: a stop raised at any of these looks (every fifth of the
// blocks') ends the run with Cancelled, whichever step is running.
TEST(Cancel, EveryLookOfARunStopsItOnOneOrTwoThreads) {
  const std::int64_t niter = 2 * kProgressStep + 5;  // three chunks per chain
  const CountsProblem problem = problem_of({{"A", "first > second > third"}, {"B", "crew < 0.5"}}, niter);
  RunControl control;
  const CountedStop count;
  control.stop = count;
  evaluate_problem(problem, 1, control);
  // Per hypothesis: two per stage (one for A, whose complexity 1/3! is exact) and its estimate chain.
  const int chains = 2 + 1 + 2 * 1 + 1;
  const int blocks = 2 * 2 * static_cast<int>(kReplications / kReplicationBlock);  // two kinds of interval each
  const int pilots = 2 + 2;  // A's two fit stages, B's complexity and fit stage
  ASSERT_EQ(count.looks->load(), 2 + pilots + 3 * chains + blocks);
  for (int from = 1; from <= count.looks->load(); from += from < 2 + pilots + 3 * chains ? 1 : 5) {
    control.stop = CountedStop{std::make_shared<std::atomic<int>>(0), from};
    EXPECT_THROW(evaluate_problem(problem, from % 2 + 1, control), Cancelled) << from;
  }
}

// The search for a start point stops between its linear programmes: here in the
// deletion filter over twelve restrictions of which two cannot hold together.
TEST(Cancel, StartPointSearchStopsInside) {
  std::vector<Restriction> restrictions;
  for (int k = 0; k < 12; ++k) restrictions.push_back({{1.0, k == 5 ? 0.0 : 1.0}, k == 5 ? 0.9 : 0.01 * k, ""});
  restrictions.push_back({{-1.0, 0.0}, -0.8, ""});  // a < 0.8 against a > 0.9
  const StartPoint found = find_start_point(restrictions, 2);
  ASSERT_FALSE(found.interior);
  EXPECT_EQ(found.conflict, (std::vector<std::size_t>{5, 12}));
  const CountedStop never;
  find_start_point(restrictions, 2, never);
  ASSERT_EQ(never.looks->load(), 3);  // before the filter's programmes, and between them
  EXPECT_THROW(find_start_point(restrictions, 2, CountedStop{std::make_shared<std::atomic<int>>(0), 2}), Cancelled);
}

// A task that fails hands its exception to the calling thread, and the others of its
// round stop: those not started are skipped, a running one sees the failure.
TEST(ParallelThreads, AFailingTaskStopsTheOthers) {
  for (const int threads : {1, 2}) {
    std::atomic<int> finished{0};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(run_in_parallel(20, threads,
                                 [&](std::size_t i, const ParallelRound& round) {
                                   if (i == 0) throw std::runtime_error("chain failed");
                                   while (!round.failed()) {
                                     if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20)) {
                                       ++finished;
                                       return;
                                     }
                                   }
                                 }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 0) << threads;
  }
}

}  // namespace
}  // namespace propbf::evaluate
