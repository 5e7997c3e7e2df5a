// Whole runs of `propbf evaluate` on CSV data (--data, [items] data) and with a stream
// per problem: every mistake of a CSV file and of the command line with its message and
// place, the same JSON as the problem file with the same counts, and the streams of
// --seed-per-problem.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "command/run_evaluate.hpp"

namespace propbf::testing {
namespace {

using Json = nlohmann::ordered_json;

struct CsvMistake {
  const char* what;
  std::string csv;
  std::string message;  // standard error, byte for byte
};

TEST(CsvData, MistakesEndWithFileLineColumnAndStatusTwo) {
  const std::string counts = "name,successes,trials\n";
  const std::string forms =
      "'name,successes,trials' (one row per item) or 'name,outcome' (one row per observation, outcome 0 or 1)\n";
  const std::vector<CsvMistake> cases{
      {"empty file", "", "data.csv:1:1: the CSV file is empty; expected a header, " + forms},
      {"header only", counts, "data.csv:2:1: the CSV file has no rows after its header; expected one row per item "
                              "(counts) or per observation\n"},
      {"no header", "a,1,3\n", "data.csv:1:1: the header (the first line) has no 'name' column; expected " + forms},
      {"no trials column", "name,successes\na,1\n", "data.csv:1:1: the header has no 'trials' column; expected " + forms},
      {"both forms", "name,successes,trials,outcome\na,1,3,1\n",
       "data.csv:1:23: the header names both 'outcome' and 'successes'; expected one of the two forms, " + forms},
      {"missing field", counts + "a,1\n",
       "data.csv:2:4: this row has 2 fields but the header has 3; expected a value for 'trials' here\n"},
      {"extra field", counts + "a,1,3,4\n",
       "data.csv:2:7: this row has 4 fields but the header has 3; expected the end of the line (quote a field that "
       "holds a ',')\n"},
      {"not an integer", counts + "a, 1.5 ,3\n",
       "data.csv:2:4: expected a whole number from 0 to 10000000000 for 'successes', but found '1.5'\n"},
      {"negative", counts + "a,1,-3\n",
       "data.csv:2:5: expected a whole number from 0 to 10000000000 for 'trials', but found '-3'\n"},
      {"empty count, CRLF lines", "name,successes,trials\r\nb,,3\r\n",
       "data.csv:2:3: expected a whole number from 0 to 10000000000 for 'successes', but found an empty field\n"},
      {"count beyond the limit", counts + "a,1,10000000001\n",
       "data.csv:2:5: expected a whole number from 0 to 10000000000 for 'trials', but found '10000000001'\n"},
      {"more successes than trials", counts + "a,1,3\nb,4,3\n", "data.csv:3:3: item 'b' has more successes (4) than trials (3)\n"},
      {"duplicate name", counts + "a,1,3\nb,1,3\na,2,3\n",
       "data.csv:4:1: item name \"a\" is given twice (first on line 2); the counts form has one row per item\n"},
      {"outcome not 0/1", "name,outcome\na,1\na,yes\n", "data.csv:3:3: expected 0 or 1 for 'outcome', but found 'yes'\n"},
      {"name with a control character", "name,outcome\n\"a\tb\",1\n",
       "data.csv:2:1: item name \"a\\tb\" is not a name the hypotheses can use: start with a letter or '_', then "
       "letters, digits or '_'\n"},
      {"stray quote", counts + "a\"x,1,3\n",
       "data.csv:2:2: malformed CSV: a '\"' may only open a field, and a closing '\"' must be followed by ',' or the "
       "end of the line (write a quote inside a quoted field as \"\")\n"},
      {"unclosed quote", counts + "a,1,3\n\"b,1,3\n",
       "data.csv:3:1: malformed CSV: this quoted field is not closed (expected a '\"' before the end of the file)\n"},
      {"shape beyond the limit", counts + "a,1,10000000000\n",
       "data.csv:2:5: item 'a' has a beta shape (prior, or prior plus count) above 1e+10, the largest the beta "
       "functions invert accurately\n"},
  };
  for (const CsvMistake& c : cases) {
    TemporaryFolder folder;
    write_file(folder.path() / "data.csv", c.csv);
    const RunResult run = run_propbf_with_arguments(
        folder.path(), {"evaluate", "--data", "data.csv", "--hypothesis", "H1: a > 0.5", "--prior-b", "2", "--json",
                        "result.json"});
    EXPECT_EQ(run.status, 2) << c.what;
    EXPECT_EQ(run.err, c.message) << c.what;
    EXPECT_EQ(run.out, "") << c.what;
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "result.json")) << c.what;
  }
}

struct CommandMistake {
  const char* what;
  std::vector<std::string> arguments;
  std::string message;  // the first line of standard error
};

TEST(CsvData, CommandLineMistakesEndWithStatusTwo) {
  TemporaryFolder folder;
  write_file(folder.path() / "data.csv", "name,successes,trials\na,1,3\nb,2,3\n");
  write_file(folder.path() / "problem.toml", "[items]\nnames = [\"a\"]\nsuccesses = [1]\ntrials = [2]\n[hypotheses]\n"
                                             "H = \"a > 0.5\"\n");
  const std::vector<CommandMistake> cases{
      {"no name", {"--data", "data.csv", "--hypothesis", "a > b"},
       "propbf: --hypothesis \"a > b\" has no name; write NAME: TEXT, e.g. --hypothesis \"H1: a > b\""},
      {"empty name", {"--data", "data.csv", "--hypothesis", " : a > b"},
       "propbf: --hypothesis \" : a > b\" has an empty name before ':'; write NAME: TEXT, e.g. --hypothesis \"H1: a > b\""},
      {"name twice", {"--data", "data.csv", "--hypothesis", "H: a > b", "--hypothesis", "H : b > 0.2"},
       "propbf: hypothesis name 'H' is given twice (--hypothesis #1 and --hypothesis #2)"},
      {"language", {"--data", "data.csv", "--hypothesis", "H1: a > b", "--hypothesis", "H2: a > > b"},
       "propbf: --hypothesis #2: hypothesis H2: expected an item name, a number or '(', but found '>'"},
      {"no hypothesis", {"--data", "data.csv"},
       "propbf: --data needs at least one --hypothesis \"NAME: TEXT\", e.g. --hypothesis \"H1: a > b\""},
      {"with a problem file", {"problem.toml", "--data", "data.csv", "--hypothesis", "H: a > b"},
       "propbf: --data evaluates one CSV file with the hypotheses of --hypothesis; it cannot be combined with a "
       "PROBLEM file, --list or --jsonl"},
      {"hypothesis without data", {"problem.toml", "--hypothesis", "H: a > b"},
       "propbf: --hypothesis, --prior-a and --prior-b apply only with --data FILE.csv; a problem file gives its "
       "hypotheses in [hypotheses] and its priors in [items]"},
      {"missing file", {"--data", "none.csv", "--hypothesis", "H: a > b"},
       "none.csv: cannot open the CSV file: No such file or directory"},
  };
  for (const CommandMistake& c : cases) {
    std::vector<std::string> arguments{"evaluate"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const RunResult run = run_propbf_with_arguments(folder.path(), arguments);
    EXPECT_EQ(run.status, 2) << c.what;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.message) << c.what;
    EXPECT_EQ(run.out, "") << c.what;
  }
}

// The document without the file it was read from.
std::string without_problem(const std::string& json) {
  Json document = Json::parse(json);
  document.erase("problem");
  return document.dump(2);
}

// The counts form, the observations form (rows in another order, an ignored column, a
// byte order mark, quoted fields) and [items] data give the JSON of the problem file
// with the same counts, priors and hypotheses.
TEST(CsvData, BothFormsAndTheDataKeyGiveTheProblemFilesResults) {
  TemporaryFolder folder;
  write_file(folder.path() / "problem.toml",
             "[items]\nnames = [\"young\", \"middle\", \"old\"]\nsuccesses = [2, 3, 1]\ntrials = [3, 4, 2]\n"
             "prior_a = 2\nprior_b = 1.5\n[hypotheses]\nH1 = \"young < middle < old\"\nH2 = \"old > 0.4\"\n");
  write_file(folder.path() / "counts.csv", "trials,name,successes\n3,young,2\n4,middle,3\n2,old,1\n");
  write_file(folder.path() / "raw.csv", "\xEF\xBB\xBFpupil,name,outcome\n1,young,1\n2,middle,0\n3,young,0\n"
                                        "4,old,1\n5,middle,1\n6,\"middle\",1\n7,young,\"1\"\n8,old,0\n9,middle,1\n");
  std::filesystem::create_directory(folder.path() / "sub");
  write_file(folder.path() / "sub/with_data.toml", "[items]\ndata = \"../raw.csv\"\nprior_a = 2\nprior_b = [1.5, 1.5, 1.5]\n"
                                                   "[hypotheses]\nH1 = \"young < middle < old\"\nH2 = \"old > 0.4\"\n");
  const std::vector<std::string> common{"--niter", "500", "--seed", "7"};
  auto run = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "evaluate");
    arguments.insert(arguments.end(), common.begin(), common.end());
    arguments.insert(arguments.end(), {"--json", "result.json"});
    const RunResult result = run_propbf_with_arguments(folder.path(), arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    return without_problem(read_file(folder.path() / "result.json"));
  };
  const std::string expected = run({"problem.toml"});
  for (const char* csv : {"counts.csv", "raw.csv"}) {
    EXPECT_EQ(run({"--data", csv, "--hypothesis", "H1: young < middle < old", "--hypothesis", "H2:old > 0.4",
                   "--prior-a", "2", "--prior-b", "1.5"}),
              expected)
        << csv;
  }
  EXPECT_EQ(run({"sub/with_data.toml"}), expected);
  // A mistake in the CSV file of [items] data is placed in the CSV file.
  write_file(folder.path() / "counts.csv", "trials,name,successes\n3,young,2\n4,middle,3\n2,old,3\n");
  write_file(folder.path() / "sub/with_data.toml", "[items]\ndata = \"../counts.csv\"\n[hypotheses]\nH = \"old > 0.4\"\n");
  const RunResult placed = run_propbf_with_arguments(folder.path(), {"evaluate", "sub/with_data.toml"});
  EXPECT_EQ(placed.status, 2);
  EXPECT_EQ(placed.err, "sub/../counts.csv:4:7: item 'old' has more successes (3) than trials (2)\n");
}

// Items of categories: name,category,count and name,category (categories in order of
// first appearance, numbers in numerical order) and [items] data with 'prior' give the
// JSON of the problem file with the same counts; their mistakes are placed.
TEST(CsvData, CategoryFormsGiveTheProblemFilesResults) {
  TemporaryFolder folder;
  write_file(folder.path() / "problem.toml",
             "[items]\nnames = [\"x\", \"y\"]\ncounts = [[3, 1, 2], [0, 4]]\n"
             "categories = [[\"p\", \"q\", \"r s\"], [\"1\", \"2\"]]\nprior = [2, [1, 0.5]]\n"
             "[hypotheses]\nH1 = \"x[p] > x['r s']; y > 0.3\"\n");
  write_file(folder.path() / "counts.csv", "name,category,count\nx,p,3\ny,2,4\nx,q,1\nx,r s,2\ny,1,0\n");
  write_file(folder.path() / "raw.csv", "name,category\ny,2\nx,p\nx,q\nx,p\nx,\"r s\"\ny,2\ny,1\ny,2\nx,r s\ny,2\nx,p\n");
  // raw.csv counts y's category 1 once: the problem file's counts for it.
  write_file(folder.path() / "raw.toml",
             "[items]\nnames = [\"y\", \"x\"]\ncounts = [[1, 4], [3, 1, 2]]\n"
             "categories = [[\"1\", \"2\"], [\"p\", \"q\", \"r s\"]]\nprior = [[1, 0.5], 2]\n"
             "[hypotheses]\nH1 = \"x[p] > x['r s']; y > 0.3\"\n");
  write_file(folder.path() / "data.toml", "[items]\ndata = \"counts.csv\"\nprior = [2, [1, 0.5]]\n"
                                          "[hypotheses]\nH1 = \"x[p] > x['r s']; y > 0.3\"\n");
  write_file(folder.path() / "raw_data.toml", "[items]\ndata = \"raw.csv\"\nprior = [[1, 0.5], 2]\n"
                                              "[hypotheses]\nH1 = \"x[p] > x['r s']; y > 0.3\"\n");
  auto run = [&](const std::string& file) {
    const RunResult result =
        run_propbf_with_arguments(folder.path(), {"evaluate", file, "--niter", "500", "--json", "result.json"});
    EXPECT_EQ(result.status, 0) << result.err;
    return without_problem(read_file(folder.path() / "result.json"));
  };
  EXPECT_EQ(run("data.toml"), run("problem.toml"));
  EXPECT_EQ(run("raw_data.toml"), run("raw.toml"));
  const std::vector<std::pair<std::string, std::string>> mistakes{
      {"name,category,count\nx,a,1\nx,a,2\n",
       "data.csv:3:3: item 'x' has category \"a\" twice (first on line 2); the form name,category,count has one row per "
       "item and category\n"},
      {"name,category,count\nx,a,1\ny,b,2\ny,c,-1\n",
       "data.csv:4:5: expected a whole number from 0 to 10000000000 for 'count', but found '-1'\n"},
      {"name,category\nx,a\nx,b\ny,b\n",
       "data.csv:4:1: item 'y' has only the category \"b\"; an item needs at least 2 (a category with no observation "
       "is given with count 0 in the form name,category,count)\n"},
      {"name,category\nx,0\nx,1\n",
       "data.csv:2:1: item 'x': category name \"0\" is a number but names category 1; in a hypothesis x[0] is "
       "category 0, so a number may only name its own category\n"},
      {"name,category,successes\nx,a,1\n",
       "data.csv:1:15: the header names both 'category' and 'successes'; expected one form: 'name,category,count', "
       "'name,category', 'name,successes,trials' (one row per item) or 'name,outcome' (one row per observation, "
       "outcome 0 or 1)\n"},
  };
  for (const auto& [csv, message] : mistakes) {
    write_file(folder.path() / "data.csv", csv);
    const RunResult result = run_propbf_with_arguments(
        folder.path(), {"evaluate", "--data", "data.csv", "--hypothesis", "H: x[1] > 0.5", "--json", "out.json"});
    EXPECT_EQ(result.status, 2) << csv;
    EXPECT_EQ(result.err, message) << csv;
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "out.json")) << csv;
  }
}

// --seed-per-problem: two identical problems under different names get different
// numbers in one batch, each the numbers it gets alone with the option; the key is
// recorded in the settings. Without the option they share their streams.
TEST(CsvData, SeedPerProblemGivesEachFileItsOwnStreams) {
  TemporaryFolder folder;
  const std::string problem =
      "[items]\nnames = [\"a\", \"b\", \"c\"]\nsuccesses = [3, 5, 8]\ntrials = [10, 10, 10]\n[hypotheses]\n"
      "H = \"a < b < c\"\n";
  std::filesystem::create_directory(folder.path() / "study");
  write_file(folder.path() / "study/first.toml", problem);
  write_file(folder.path() / "study/second.toml", problem);
  auto factors = [](const std::string& jsonl) {
    std::vector<Json> results;
    for (std::size_t start = 0; start < jsonl.size();) {
      const std::size_t end = jsonl.find('\n', start);
      results.push_back(Json::parse(jsonl.substr(start, end - start))["result"]);
      start = end + 1;
    }
    return results;
  };
  const RunResult shared = run_propbf_with_arguments(folder.path(), {"evaluate", "study", "--niter", "400"});
  const RunResult own =
      run_propbf_with_arguments(folder.path(), {"evaluate", "study/second.toml", "study/first.toml", "--niter", "400",
                                                "--seed-per-problem"});
  ASSERT_EQ(shared.status, 0);
  ASSERT_EQ(own.status, 0);
  const auto same = factors(shared.out);
  const auto separate = factors(own.out);
  ASSERT_EQ(same.size(), 2u);
  ASSERT_EQ(separate.size(), 2u);
  EXPECT_EQ(same[0]["hypotheses"], same[1]["hypotheses"]);
  EXPECT_NE(separate[0]["hypotheses"][0]["bf_unconstrained"], separate[1]["hypotheses"][0]["bf_unconstrained"]);
  EXPECT_NE(separate[0]["hypotheses"][0]["bf_unconstrained"], same[0]["hypotheses"][0]["bf_unconstrained"]);
  EXPECT_EQ(separate[0]["settings"]["stream"], Json::parse(R"({"per_problem": "second.toml", "key": "d1bcc283c4eef439"})"));
  EXPECT_FALSE(same[0]["settings"].contains("stream"));
  // Alone, from another folder, asked for by the file itself: the numbers of the batch.
  std::filesystem::create_directory(folder.path() / "elsewhere");
  write_file(folder.path() / "elsewhere/first.toml", problem + "[sampling]\nseed_per_problem = true\n");
  const RunResult alone = run_propbf_with_arguments(
      folder.path(), {"evaluate", "elsewhere/first.toml", "--niter", "400", "--json", "first.json"});
  ASSERT_EQ(alone.status, 0) << alone.err;
  const Json document = Json::parse(read_file(folder.path() / "first.json"));
  EXPECT_EQ(document["hypotheses"], separate[1]["hypotheses"]);
  EXPECT_EQ(document["settings"], separate[1]["settings"]);
}

}  // namespace
}  // namespace propbf::testing
