// Whole runs with --samples: the CSV byte for byte (a pinned file) on any number of
// threads, every row inside its hypothesis, and the refusals and failed writes that
// leave files as they were.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "command/run_evaluate.hpp"

namespace propbf::testing {
namespace {

using Json = nlohmann::json;

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
  return fields;
}

// tests/command/pinned/example-samples.csv: examples' two hypotheses at 200 sweeps,
// every 20th of the 180 after the burn-in (9 rows each).
TEST(SamplesRun, PinnedCsvOnEveryThreadCountWithRowsInsideTheirHypothesis) {
  const std::string pinned = std::string(PROPBF_SOURCE_DIR) + "/tests/command/pinned/";
  const std::string expected = read_file(pinned + "example-samples.csv");
  TemporaryFolder folder;
  write_file(folder.path() / "problem.toml", read_file(pinned + "example.toml"));
  for (const char* threads : {"1", "2"}) {
    const RunResult run = run_propbf_with_arguments(
        folder.path(), {"evaluate", "problem.toml", "--niter", "200", "--samples", "draws.csv", "--thin", "20",
                        "--json", "result.json", "--threads", threads});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(folder.path() / "draws.csv"), expected) << threads;
  }
  // Every row satisfies its hypothesis's restrictions, as the JSON gives them.
  const Json document = Json::parse(read_file(folder.path() / "result.json"));
  std::stringstream lines(expected);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "hypothesis,a,b,c,d");
  int rows = 0;
  while (std::getline(lines, line)) {
    const std::vector<std::string> fields = split(line);
    ASSERT_EQ(fields.size(), 5u) << line;
    const Json& hypothesis = document["hypotheses"][fields[0] == "H1" ? 0 : 1];
    ASSERT_EQ(hypothesis["name"], fields[0]);
    for (const Json& restriction : hypothesis["restrictions"]) {
      double sum = 0.0;
      for (std::size_t j = 0; j < 4; ++j) sum += restriction["coefficients"][j].get<double>() * std::stod(fields[j + 1]);
      EXPECT_GT(sum, restriction["constant"].get<double>()) << line;
    }
    ++rows;
  }
  EXPECT_EQ(rows, 18);
}

// A category of a larger item tied to another item (aggregation): the other categories'
// draws come from streams of their own, so the table, the JSON and the samples are the
// same bytes on one thread or two; each row keeps the tie and its item on the simplex.
TEST(SamplesRun, AggregatedCategoriesSameBytesOnEveryThreadCount) {
  TemporaryFolder folder;
  write_file(folder.path() / "problem.toml",
             "[items]\nnames = [\"x\", \"y\", \"z\"]\ncounts = [[12, 9, 4], [7, 10, 8], [5, 6]]\nprior = 1\n"
             "[hypotheses]\ntie = \"x[1] = y[1]\"\nmixed = \"x[3] = 1 - z; z > 0.4\"\n");
  std::string out, json, csv;
  for (const char* threads : {"1", "2"}) {
    const RunResult run = run_propbf_with_arguments(
        folder.path(), {"evaluate", "problem.toml", "--niter", "2000", "--samples", "draws.csv", "--json",
                        "result.json", "--threads", threads});
    ASSERT_EQ(run.status, 0) << run.err;
    if (out.empty()) {
      out = run.out, json = read_file(folder.path() / "result.json"), csv = read_file(folder.path() / "draws.csv");
      continue;
    }
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(read_file(folder.path() / "result.json"), json);
    EXPECT_EQ(read_file(folder.path() / "draws.csv"), csv);
  }
  std::stringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "hypothesis,x[1],x[2],x[3],y[1],y[2],y[3],z[1],z[2]");
  int rows = 0;
  while (std::getline(lines, line)) {
    const std::vector<std::string> f = split(line);
    ASSERT_EQ(f.size(), 9u) << line;
    std::vector<double> v;
    for (std::size_t i = 1; i < 9; ++i) v.push_back(std::stod(f[i]));
    EXPECT_NEAR(v[0] + v[1] + v[2], 1.0, 1e-12) << line;
    EXPECT_NEAR(v[3] + v[4] + v[5], 1.0, 1e-12) << line;
    EXPECT_NEAR(f[0] == "tie" ? v[0] - v[3] : v[2] - v[7], 0.0, 1e-15) << line;  // x[3] = z[2]
    EXPECT_TRUE(f[0] == "tie" || v[6] > 0.4) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 2 * 1800);
}

TEST(SamplesRun, RefusalsAndFailedWritesLeaveFilesAlone) {
  const std::string problem = "[items]\nnames = [\"a\"]\nsuccesses = [1]\ntrials = [2]\n[hypotheses]\nH = \"a > 0.5\"\n";
  TemporaryFolder folder;
  write_file(folder.path() / "problem.toml", problem);
  write_file(folder.path() / "bad.toml", problem + "I = \"a >\"\n");
  write_file(folder.path() / "old.csv", "old\n");
  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    int status;
    std::string err;  // the start of standard error
  };
  const std::vector<Case> cases{
      {"a folder that does not exist", {"evaluate", "problem.toml", "--samples", "missing/draws.csv"}, 1,
       "propbf: missing/draws.csv: cannot create a temporary file beside it: "},
      {"the problem file", {"evaluate", "problem.toml", "--samples", "./problem.toml"}, 2,
       "propbf: --samples ./problem.toml is the problem file itself; choose another file\n"},
      {"the JSON file", {"evaluate", "problem.toml", "--samples", "out", "--json", "./out"}, 2,
       "propbf: --json and --samples name the same file out; choose two files\n"},
      {"an empty name", {"evaluate", "problem.toml", "--samples", ""}, 2,
       "propbf: --samples: the file name is empty; give a file name\n"},
      {"--thin alone", {"evaluate", "problem.toml", "--thin", "3"}, 2,
       "propbf: --thin applies only with --samples FILE\n"},
      {"--thin 0", {"evaluate", "problem.toml", "--samples", "old.csv", "--thin", "0"}, 2, "propbf: --thin: "},
      {"a batch", {"evaluate", "problem.toml", "problem.toml", "--samples", "old.csv"}, 2,
       "propbf: --samples writes the draws of one problem"},
      {"a problem with a mistake", {"evaluate", "bad.toml", "--samples", "old.csv"}, 2, "bad.toml:7:"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.end(), {"--niter", "100"});
    const RunResult run = run_propbf_with_arguments(folder.path(), arguments);
    EXPECT_EQ(run.status, c.status) << c.what << ": " << run.err;
    EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << c.what << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.what;
    EXPECT_EQ(read_file(folder.path() / "old.csv"), "old\n") << c.what;
    EXPECT_EQ(read_file(folder.path() / "problem.toml"), problem) << c.what;
  }
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "out"));
}

}  // namespace
}  // namespace propbf::testing
