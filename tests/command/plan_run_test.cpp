// Whole runs of `propbf plan`: the same bytes on any number of threads and from parts
// merged; hostile plans, parts and options refused with their place, status 2, nothing
// written.
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "command/run_evaluate.hpp"

namespace propbf::testing {
namespace {

const std::string kPlan =
    "[items]\nnames = [\"a\", \"b\", \"c\"]\n[hypotheses]\nordered = \"a > b > c\"\nsame = \"a = b = c\"\n"
    "[truth]\na = 0.7\nb = 0.5\nc = { beta = [3, 7] }\n"
    "[design]\nn = [8, 16, 32]\ndatasets = 60\nthresholds = [3, 10]\ntarget = 0.9\n";

// Items of categories, the truth drawn from the prior restricted to a hypothesis (inside
// each item's simplex), each factor against its complement.
const std::string kMultinomialPlan =
    "[items]\nnames = [\"x\", \"y\"]\ncategories = [[\"lo\", \"mid\", \"hi\"], 4]\nprior = [[1, 1, 2], 1]\n"
    "[hypotheses]\nrising = \"x[lo] < x[mid] < x[hi]\"\nlast = \"y[4] > y[1]\"\n"
    "[truth]\nfrom_hypothesis = \"rising\"\n"
    "[design]\nn = [6, 24]\ndatasets = 40\nagainst = \"complement\"\ntarget = 0.5\n";

std::vector<std::string> names_in(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PlanRun, SameBytesOnAnyThreadsAndFromMergedParts) {
  for (const std::string& plan : {kPlan, kMultinomialPlan}) {
  TemporaryFolder folder;
  write_file(folder.path() / "plan.toml", plan);
  const RunResult one = run_propbf_with_arguments(folder.path(), {"plan", "plan.toml", "--threads", "1", "--json", "one.json"});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.err, "");
  EXPECT_NE(one.out.find("Smallest size with P(BF > 10) >= "), std::string::npos) << one.out;
  const RunResult two = run_propbf_with_arguments(folder.path(), {"plan", "plan.toml", "--threads", "2", "--json", "two.json"});
  EXPECT_EQ(two.out, one.out);
  EXPECT_EQ(read_file(folder.path() / "two.json"), read_file(folder.path() / "one.json"));
  for (const char* part : {"1/3", "2/3", "3/3"}) {
    const std::string file = std::string("part") + part[0] + ".jsonl";
    const RunResult run = run_propbf_with_arguments(folder.path(), {"plan", "plan.toml", "--shard", part, "--jsonl", file});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
  }
  const RunResult merged = run_propbf_with_arguments(
      folder.path(), {"plan", "merge", "part3.jsonl", "part1.jsonl", "part2.jsonl", "--json", "merged.json"});
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(merged.out, one.out);
  EXPECT_EQ(read_file(folder.path() / "merged.json"), read_file(folder.path() / "one.json"));
  }
}

struct PlanRefusal {
  const char* what;
  std::string plan;  // written as plan.toml ("" keeps kPlan)
  std::vector<std::string> arguments;
  std::string message;  // standard error, byte for byte
};

TEST(PlanRun, HostilePlansAndPartsAreRefusedWithTheirPlace) {
  const auto with_design = [](const std::string& design) {
    return "[items]\nnames = [\"a\", \"b\"]\n[hypotheses]\nH = \"a > b\"\n[truth]\na = 0.6\nb = 0.4\n[design]\n" + design;
  };
  // Item a of two categories, b of three (K as given), a hypothesis on b's third.
  const auto with_categories = [](const std::string& categories, const std::string& truth) {
    return "[items]\nnames = [\"a\", \"b\"]\ncategories = " + categories +
           "\n[hypotheses]\nH = \"b[3] > a\"\n[truth]\n" + truth + "[design]\nn = [10]\n";
  };
  const std::vector<PlanRefusal> cases{
      {"a size of 0", with_design("n = [10, 0]\n"), {"plan", "plan.toml", "--json", "out.json"},
       "plan.toml:9:10: trials must be a whole number from 1 to 1000000000\n"},
      {"10^12 data sets", with_design("n = [10]\ndatasets = 1000000000000\n"), {"plan", "plan.toml"},
       "plan.toml:10:12: 'datasets' must be a whole number from 1 to 10000000\n"},
      {"too many in all", with_design("n = [10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110]\ndatasets = 10000000\n"),
       {"plan", "plan.toml"}, "plan.toml:10:12: the plan asks for 10000000 data sets at each of 11 sizes; at most 100000000 in all\n"},
      {"a truth outside [0, 1]",
       "[items]\nnames = [\"a\", \"b\"]\n[hypotheses]\nH = \"a > b\"\n[truth]\na = 1.5\nb = 0.4\n[design]\nn = [10]\n",
       {"plan", "plan.toml"}, "plan.toml:6:5: the true proportion of item 'a' must be in [0, 1]\n"},
      {"an item without truth",
       "[items]\nnames = [\"a\", \"b\"]\n[hypotheses]\nH = \"a > b\"\n[truth]\na = 0.5\n[design]\nn = [10]\n",
       {"plan", "plan.toml"}, "plan.toml:5:1: [truth] gives no proportion for item 'b'\n"},
      {"a truth from no hypothesis",
       "[items]\nnames = [\"a\", \"b\"]\n[hypotheses]\nH = \"a > b\"\n[truth]\nfrom_hypothesis = \"G\"\n[design]\nn = [10]\n",
       {"plan", "plan.toml"}, "plan.toml:6:19: 'from_hypothesis' names no hypothesis of [hypotheses]: \"G\"\n"},
      {"a threshold below 1", with_design("n = [10]\nthresholds = [0.5]\n"), {"plan", "plan.toml"},
       "plan.toml:10:15: a threshold must be a finite number of at least 1\n"},
      {"counts in a plan",
       "[items]\nnames = [\"a\"]\nsuccesses = [3]\n[hypotheses]\nH = \"a > 0.5\"\n[truth]\na = 0.5\n[design]\nn = [10]\n",
       {"plan", "plan.toml"},
       "plan.toml:3:1: unknown key 'successes' in [items] of a plan; expected categories, names, prior, prior_a, "
       "prior_b, tied_prior\n"},
      {"proportions not summing to 1", with_categories("[2, 3]", "a = [0.5, 0.5]\nb = [0.5, 0.3, 0.1]\n"),
       {"plan", "plan.toml"}, "plan.toml:8:5: the true proportions of item 'b' sum to 0.9; they must sum to 1\n"},
      {"a truth of the wrong number of categories", with_categories("[2, 3]", "a = [0.5, 0.5]\nb = [0.5, 0.5]\n"),
       {"plan", "plan.toml"}, "plan.toml:8:5: the truth of item 'b' has 2 proportions but the item has 3 categories\n"},
      {"a proportion for an item of categories", with_categories("[2, 3]", "a = [0.5, 0.5]\nb = 0.5\n"),
       {"plan", "plan.toml"},
       "plan.toml:8:5: item 'b' has 3 categories: its truth is a list of 3 proportions summing to 1 ([0.5, 0.3, 0.2]), "
       "or { dirichlet = [...] }\n"},
      {"a Dirichlet shape of 0", with_categories("[2, 3]", "a = [0.5, 0.5]\nb = { dirichlet = [1, 0, 1] }\n"),
       {"plan", "plan.toml"}, "plan.toml:8:23: a Dirichlet shape of the truth must be from 0.001 to 1e10\n"},
      {"Dirichlet shapes of too large a sum",
       with_categories("[2, 3]", "a = [0.5, 0.5]\nb = { dirichlet = [1, 1e10, 1] }\n"), {"plan", "plan.toml"},
       "plan.toml:8:19: the shapes of a Dirichlet truth must sum to at most 1e10\n"},
      {"a Dirichlet of too few shapes", with_categories("[2, 3]", "a = [0.5, 0.5]\nb = { dirichlet = [1, 1] }\n"),
       {"plan", "plan.toml"},
       "plan.toml:8:19: the truth of item 'b' is 3 proportions or { dirichlet = [3 shapes] }, one per category\n"},
      {"one category", with_categories("[1, 3]", "a = [1]\nb = [0.5, 0.3, 0.2]\n"), {"plan", "plan.toml"},
       "plan.toml:3:15: item 'a' has 1 category; an item needs at least 2\n"},
      {"a million categories", with_categories("[2, 1000000]", "a = [0.5, 0.5]\nb = [1]\n"), {"plan", "plan.toml"},
       "plan.toml:3:18: item 'b' has more than 1000 categories\n"},
      {"names of the wrong number", with_categories("[2, [\"u\", \"v\"]]", "a = [0.5, 0.5]\nb = [0.5, 0.5]\n"),
       {"plan", "plan.toml", "--json", "out.json"},
       "plan.toml:5:8: hypothesis H: item 'b' has categories 1 to 2; '3' is none of them\n    b[3] > a\n      ^\n"},
      {"a Dirichlet prior without categories",
       "[items]\nnames = [\"a\"]\nprior = 2\n[hypotheses]\nH = \"a > 0.5\"\n[truth]\na = 0.5\n[design]\nn = [10]\n",
       {"plan", "plan.toml"},
       "plan.toml:3:9: 'prior' gives Dirichlet priors to items of categories; give 'categories' too (one list of "
       "names, or the number of categories, per item), or 'prior_a' and 'prior_b' for items of two outcomes\n"},
      {"a shard out of range", "", {"plan", "plan.toml", "--shard", "5/4", "--jsonl", "p.jsonl"},
       "propbf: --shard 5/4: give I/N, a part I from 1 to N of N parts (N from 1 to 1000000)\n"},
      {"a shard without --jsonl", "", {"plan", "plan.toml", "--shard", "1/2"},
       "propbf plan: --shard writes its part with --jsonl FILE; give one\n"},
      {"a part that is not one", "", {"plan", "merge", "plan.toml"},
       "plan.toml:1: not a line of JSON (a part of a plan holds JSON lines)\n"},
  };
  for (const PlanRefusal& c : cases) {
    TemporaryFolder folder;
    write_file(folder.path() / "plan.toml", c.plan.empty() ? kPlan : c.plan);
    const RunResult run = run_propbf_with_arguments(folder.path(), c.arguments);
    EXPECT_EQ(run.status, 2) << c.what;
    EXPECT_EQ(run.err, c.message) << c.what;
    EXPECT_EQ(run.out, "") << c.what;
    EXPECT_EQ(names_in(folder.path()), std::vector<std::string>{"plan.toml"}) << c.what;
  }
}

TEST(PlanRun, MergeRefusesPartsOfDifferentPlansAndMissingParts) {
  TemporaryFolder folder;
  write_file(folder.path() / "plan.toml", kPlan);
  write_file(folder.path() / "other.toml", kPlan + "seed = 2\n");
  for (const auto& [plan, part, file] : {std::tuple{"plan.toml", "1/2", "a1.jsonl"}, std::tuple{"plan.toml", "2/2", "a2.jsonl"},
                                         std::tuple{"other.toml", "2/2", "b2.jsonl"}}) {
    ASSERT_EQ(run_propbf_with_arguments(folder.path(), {"plan", plan, "--shard", part, "--jsonl", file}).status, 0);
  }
  const RunResult mixed = run_propbf_with_arguments(folder.path(), {"plan", "merge", "a1.jsonl", "b2.jsonl", "--json", "m.json"});
  EXPECT_EQ(mixed.status, 2);
  EXPECT_EQ(mixed.err, "propbf plan merge: the parts come from different plans (or versions, or shard counts)\n");
  const RunResult missing = run_propbf_with_arguments(folder.path(), {"plan", "merge", "a1.jsonl", "--json", "m.json"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "propbf plan merge: part 2 of 2 is missing\n");
  const RunResult twice = run_propbf_with_arguments(folder.path(), {"plan", "merge", "a1.jsonl", "a1.jsonl", "a2.jsonl"});
  EXPECT_EQ(twice.status, 2);
  EXPECT_EQ(twice.err, "propbf plan merge: part 1 of 2 is given twice\n");
  // A part cut short: its last record lost.
  std::string cut = read_file(folder.path() / "a2.jsonl");
  cut.erase(cut.rfind('\n', cut.size() - 2) + 1);
  write_file(folder.path() / "cut.jsonl", cut);
  const RunResult short_part = run_propbf_with_arguments(folder.path(), {"plan", "merge", "a1.jsonl", "cut.jsonl"});
  EXPECT_EQ(short_part.status, 2);
  EXPECT_EQ(short_part.err, "propbf plan merge: data set 60 of size 3 is missing (a part cut short?)\n");
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "m.json"));
  // Parts are read a line at a time: a last line without its line feed is whole, one cut
  // inside is refused at its line; a part that cannot be opened or read is named.
  const std::string second = read_file(folder.path() / "a2.jsonl");
  const std::size_t lines = static_cast<std::size_t>(std::count(second.begin(), second.end(), '\n'));
  write_file(folder.path() / "open.jsonl", second.substr(0, second.size() - 1));
  write_file(folder.path() / "torn.jsonl", second.substr(0, second.size() - 20));
  std::filesystem::create_directory(folder.path() / "folder.jsonl");
  const RunResult whole = run_propbf_with_arguments(folder.path(), {"plan", "merge", "a1.jsonl", "a2.jsonl"});
  EXPECT_EQ(run_propbf_with_arguments(folder.path(), {"plan", "merge", "a1.jsonl", "open.jsonl"}).out, whole.out);
  for (const auto& [part, message] :
       {std::pair{"torn.jsonl", "torn.jsonl:" + std::to_string(lines) +
                                    ": not a line of JSON (a part of a plan holds JSON lines)\n"},
        std::pair{"absent.jsonl", std::string("absent.jsonl: cannot open the part of a plan\n")},
        std::pair{"folder.jsonl", std::string("folder.jsonl: cannot read the part of a plan: Is a directory\n")}}) {
    const RunResult refused = run_propbf_with_arguments(folder.path(), {"plan", "merge", "a1.jsonl", part});
    EXPECT_EQ(refused.status, 2) << part;
    EXPECT_EQ(refused.err, message) << part;
  }
}

}  // namespace
}  // namespace propbf::testing
