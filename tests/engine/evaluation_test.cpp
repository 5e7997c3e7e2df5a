// Whole evaluations through the engine alone: a hypothesis's numbers are its own,
// whatever stands beside it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "engine/evaluation.hpp"

namespace propbf::evaluate {
namespace {

CountsProblem problem_of(const std::vector<std::pair<std::string, std::string>>& hypotheses, std::int64_t niter,
                         std::optional<double> precision = std::nullopt) {
  CountsProblem problem;
  problem.file_name = "test.toml";
  const std::vector<std::string> names{"first", "second", "third", "crew"};
  const std::vector<std::int64_t> successes{14, 9, 4, 3};
  for (std::size_t j = 0; j < names.size(); ++j) problem.items.push_back({names[j], successes[j], 20, 1.0, 1.0});
  for (const auto& [name, text] : hypotheses) problem.hypotheses.push_back({name, text, {}, ""});
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

}  // namespace
}  // namespace propbf::evaluate
