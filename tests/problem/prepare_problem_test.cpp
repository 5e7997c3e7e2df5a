// prepare_problem on problems a caller builds (as the R package does): what it refuses,
// with which message, the overrides and the warnings in their order.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "problem/prepare.hpp"

namespace propbf::evaluate {
namespace {

// Items a, b, c; hypotheses given in "hypotheses", placed as line h + 1, from column 1.
CountsProblem built(std::vector<std::pair<std::string, std::string>> hypotheses) {
  CountsProblem problem;
  problem.file_name = "hypotheses";
  problem.items = {{"a", 7, 10, 1.0, 1.0}, {"b", 5, 10, 1.0, 1.0}, {"c", 3, 10, 1.0, 1.0}};
  for (std::size_t h = 0; h < hypotheses.size(); ++h) {
    HypothesisText text;
    text.name = hypotheses[h].first;
    text.text = hypotheses[h].second;
    for (std::size_t i = 0; i <= text.text.size(); ++i) text.positions.push_back({static_cast<int>(h + 1), static_cast<int>(i + 1)});
    problem.hypotheses.push_back(text);
  }
  return problem;
}

struct Refused {
  const char* what;
  std::function<void(CountsProblem&, SettingOverrides&)> change;
  std::string message;
};

TEST(PrepareProblem, RefusesWithTheMessage) {
  const std::vector<Refused> cases{
      {"unconstrained", [](CountsProblem& p, SettingOverrides&) { p.hypotheses[1].name = "unconstrained"; },
       "hypotheses:2:1: a hypothesis may not be named 'unconstrained', the name of the hypothesis every factor is set "
       "against; give it another name"},
      {"name twice", [](CountsProblem& p, SettingOverrides&) { p.hypotheses[1].name = "H1"; },
       "propbf: hypothesis name 'H1' is given twice (hypotheses:1:1 and hypotheses:2:1)"},
      {"origin", [](CountsProblem& p, SettingOverrides&) { p.hypotheses[0].origin = "propbf: --hypothesis #1"; p.hypotheses[0].name = ""; },
       "propbf: --hypothesis #1: a hypothesis has an empty name (\"\" = ...); give it one, e.g. H1 = \"a > b\""},
      {"no hypothesis", [](CountsProblem& p, SettingOverrides&) { p.hypotheses.clear(); },
       "propbf: the problem has no hypothesis; name at least one"},
      {"no items", [](CountsProblem& p, SettingOverrides&) { p.items.clear(); }, "propbf: the problem has no items"},
      {"item name", [](CountsProblem& p, SettingOverrides&) { p.items[2] = Item{"1", 3, 10, 1.0, 1.0}; },
       "propbf: item name \"1\" is not a name the hypotheses can use: start with a letter or '_', then letters, digits "
       "or '_'"},
      {"item twice", [](CountsProblem& p, SettingOverrides&) { p.items[2] = Item{"a", 3, 10, 1.0, 1.0}; }, "propbf: item name \"a\" is given twice"},
      {"k above n", [](CountsProblem& p, SettingOverrides&) { p.items[1].successes = 11; },
       "propbf: item 'b' has more successes (11) than trials (10)"},
      {"negative", [](CountsProblem& p, SettingOverrides&) { p.items[1].trials = -1; }, "propbf: trials of item 'b' is negative"},
      {"prior NaN", [](CountsProblem& p, SettingOverrides&) { p.items[0].prior_b = std::nan(""); },
       "propbf: 'prior_b' of item 'a' must be positive and finite"},
      {"prior small", [](CountsProblem& p, SettingOverrides&) { p.items[0].prior_a = 1e-4; },
       "propbf: 'prior_a' of item 'a' is below 0.001, the smallest prior shape: nearly every draw would be exactly 0 or 1"},
      {"niter 0", [](CountsProblem&, SettingOverrides& o) { o.niter = 0; }, "propbf: niter (0) must be at least 1"},
      {"niter 2^40 + 1", [](CountsProblem&, SettingOverrides& o) { o.niter = (std::int64_t{1} << 40) + 1; },
       "propbf: niter (1099511627777) is above 1099511627776 (2^40), the most sweeps per stage a run may ask"},
      {"seed", [](CountsProblem&, SettingOverrides& o) { o.seed = -1; }, "propbf: seed (-1) must be a whole number of at least 0"},
      {"precision", [](CountsProblem&, SettingOverrides& o) { o.precision = 1.0; },
       "propbf: precision (1) must be a number between 0 and 1 (both excluded)"},
      {"max_niter alone", [](CountsProblem&, SettingOverrides& o) { o.max_niter = 50000; },
       "propbf: max_niter applies only in precision mode; give a precision too"},
      {"max_niter low", [](CountsProblem&, SettingOverrides& o) { o.precision = 0.1; o.max_niter = 100; },
       "propbf: max_niter (100) must be at least niter (20000), the sweeps per stage precision mode starts with"},
      // Items of categories a caller built (c becomes one: its counts, names, concentrations).
      {"one category", [](CountsProblem& p, SettingOverrides&) { p.items[2].counts = {4}; },
       "propbf: item 'c' has 1 category; an item needs at least 2 (a count per category)"},
      {"names short", [](CountsProblem& p, SettingOverrides&) { p.items[2].counts = {4, 1, 2}; p.items[2].categories = {"u", "v"}; },
       "propbf: item 'c' has 2 category names but 3 counts"},
      {"concentrations short", [](CountsProblem& p, SettingOverrides&) {
         p.items[2].counts = {4, 1};
         p.items[2].categories = {"u", "v"};
         p.items[2].concentration = {1.0};
       }, "propbf: item 'c' has 1 prior concentrations but 2 categories"},
      {"negative category count", [](CountsProblem& p, SettingOverrides&) {
         p.items[2] = Item{"c", 0, 0, 1.0, 1.0, {4, -1}, {"u", "v"}, {1.0, 1.0}};
       }, "propbf: item 'c': the count of category 2 is negative"},
      {"category twice", [](CountsProblem& p, SettingOverrides&) {
         p.items[2] = Item{"c", 0, 0, 1.0, 1.0, {4, 1}, {"u", "u"}, {1.0, 1.0}};
       }, "propbf: item 'c': category name \"u\" is given twice"},
      {"concentration zero", [](CountsProblem& p, SettingOverrides&) {
         p.items[2] = Item{"c", 0, 0, 1.0, 1.0, {4, 1}, {"u", "v"}, {1.0, 0.0}};
       }, "propbf: item 'c': the prior concentration of category 2 must be positive and finite"},
      {"bare name of three categories", [](CountsProblem& p, SettingOverrides&) {
         p.items[2] = Item{"c", 0, 0, 1.0, 1.0, {4, 1, 0}, {"u", "v", "w"}, {1.0, 1.0, 1.0}};
       }, "hypotheses:2:5: hypothesis H2: item 'c' has 3 categories; name the one meant, e.g. c[1] or c[u]\n    b > c\n"
          "        ^"},
      {"language", [](CountsProblem& p, SettingOverrides&) { p.hypotheses[1].text = "a > > b"; },
       "hypotheses:2:5: hypothesis H2: expected an item name, a number or '(', but found '>'\n    a > > b\n        ^"},
  };
  for (const Refused& c : cases) {
    CountsProblem problem = built({{"H1", "a > b"}, {"H2", "b > c"}});
    SettingOverrides overrides;
    c.change(problem, overrides);
    try {
      prepare_problem(problem, overrides);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const InputError& error) {
      EXPECT_EQ(error.what(), c.message) << c.what;
    }
  }
}

TEST(PrepareProblem, SetsTheOverridesAndTheWarningsInOrder) {
  CountsProblem problem = built({{"H1", "a > b; c < 2"}, {"H2", "a = b; a + 0.1 > b"}});
  problem.items[2] = {"c", 0, 10, 0.2, 1.0};
  SettingOverrides overrides;
  overrides.niter = 500;
  overrides.seed = 9;
  const CountsProblem prepared = prepare_problem(problem, overrides);
  EXPECT_EQ(prepared.settings.niter, 500);
  EXPECT_EQ(prepared.settings.seed, 9);
  ASSERT_EQ(prepared.warnings.size(), 3u);
  EXPECT_EQ(prepared.warnings[0].substr(0, 29), "beta shapes below 0.3 (items ");
  EXPECT_EQ(prepared.warnings[1].substr(0, 42), "hypothesis H1: the restriction 'c < 2' hol");
  EXPECT_EQ(prepared.warnings[2].substr(0, 49), "hypothesis H2: the restriction 'a + 0.1 > b' alwa");
  EXPECT_EQ(whole_setting("niter", 3000.0), 3000);
  EXPECT_THROW(whole_setting("niter", 2.5), InputError);
  EXPECT_THROW(whole_setting("seed", 1e19), InputError);
  EXPECT_THROW(checked_threads(kMaxThreads + 1), InputError);
  EXPECT_EQ(checked_threads(0), 0);
}

// A problem's copies share its matrix rows; rows added later go to a new list, so a copy
// made before keeps what it had, in order.
TEST(PrepareProblem, CopiesShareThePolytopeRows) {
  HypothesisText hypothesis;
  EXPECT_TRUE(hypothesis.polytope.empty());
  hypothesis.polytope.append({{{1.0, -1.0}, 0.0, "A.csv line 2"}});
  const HypothesisText before = hypothesis;
  EXPECT_EQ(&before.polytope.rows(), &hypothesis.polytope.rows());
  hypothesis.polytope.append({{{0.0, 1.0}, 0.5, "B.csv line 2"}, {{1.0, 0.0}, 0.25, "B.csv line 3"}});
  ASSERT_EQ(before.polytope.size(), 1u);
  std::vector<std::string> texts;
  for (const Restriction& r : hypothesis.polytope) texts.push_back(r.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"A.csv line 2", "B.csv line 2", "B.csv line 3"}));
}

}  // namespace
}  // namespace propbf::evaluate
