// One problem through two front doors of the real program, a problem file and --data
// with --hypothesis (the R package's door is tested from R, r/tests): the same JSON
// document byte for byte but for its "problem" line, the same warnings on standard
// error, and the same refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command/run_evaluate.hpp"

namespace propbf::testing {
namespace {

struct Door {
  std::string toml;                    // the problem file
  std::string csv;                     // the same items as CSV
  std::vector<std::string> arguments;  // --data's other arguments: hypotheses, priors, settings
};

// `text` without the line that names the problem (its file) and with `name` written as
// FILE in messages.
std::string without_name(std::string text, const std::string& name) {
  if (const std::size_t at = text.find("\n  \"problem\": "); at != std::string::npos) {
    text.erase(at, text.find('\n', at + 1) - at);
  }
  for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at)) text.replace(at, name.size(), "FILE");
  return text;
}

struct Doors {
  RunResult file;
  RunResult data;
  std::string file_json;
  std::string data_json;
};

Doors run_both(const Door& door) {
  TemporaryFolder folder;
  write_file(folder.path() / "problem.toml", door.toml);
  write_file(folder.path() / "data.csv", door.csv);
  Doors doors;
  doors.file = run_propbf_with_arguments(folder.path(), {"evaluate", "problem.toml", "--json", "file.json", "--threads", "1"});
  std::vector<std::string> arguments{"evaluate", "--data", "data.csv", "--json", "data.json", "--threads", "1"};
  arguments.insert(arguments.end(), door.arguments.begin(), door.arguments.end());
  doors.data = run_propbf_with_arguments(folder.path(), arguments);
  doors.file_json = read_file(folder.path() / "file.json");
  doors.data_json = read_file(folder.path() / "data.json");
  return doors;
}

const std::string kItems = "[items]\nnames = [\"a\", \"b\", \"c\", \"d\"]\nsuccesses = [7, 5, 0, 9]\ntrials = [10, 10, 10, 10]\n";
const std::string kCsv = "name,successes,trials\na,7,10\nb,5,10\nc,0,10\nd,9,10\n";

TEST(ThreeDoors, ProblemFileAndDataGiveTheSameDocumentAndWarnings) {
  const std::vector<Door> cases{
      {kItems + "[hypotheses]\nH1 = \"a > b > c; d > 0.5\"\nH2 = \"(a + b) / 2 > 0.6 & c < d\"\n[sampling]\nniter = 3000\n",
       kCsv, {"--hypothesis", "H1: a > b > c; d > 0.5", "--hypothesis", "H2: (a + b) / 2 > 0.6 & c < d", "--niter", "3000"}},
      // Warnings: shapes below the tie limit, a restriction that holds everywhere; a seed
      // and one prior for every item.
      {kItems + "prior_a = 0.25\nprior_b = 2\n[hypotheses]\nH1 = \"c < d\"\nroof = \"a < 2; b > c\"\n"
                "[sampling]\nniter = 2000\nseed = 7\n",
       kCsv, {"--hypothesis", "H1: c < d", "--hypothesis", "roof: a < 2; b > c", "--prior-a", "0.25", "--prior-b", "2",
              "--niter", "2000", "--seed", "7"}},
      // Equalities, and a restriction left out once its items are tied.
      {kItems + "[hypotheses]\nH1 = \"a = b; c > d\"\ntied = \"a = b; a + 0.1 > b\"\n[sampling]\nniter = 2000\n", kCsv,
       {"--hypothesis", "H1: a = b; c > d", "--hypothesis", "tied: a = b; a + 0.1 > b", "--niter", "2000"}},
      // Precision mode, one hypothesis against its complement.
      {kItems + "[hypotheses]\nH = \"a > b\"\n[sampling]\nniter = 500\nprecision = 0.3\nmax_niter = 4000\n", kCsv,
       {"--hypothesis", "H: a > b", "--niter", "500", "--precision", "0.3", "--max-niter", "4000"}},
  };
  for (const Door& door : cases) {
    const Doors doors = run_both(door);
    ASSERT_EQ(doors.file.status, 0) << doors.file.err;
    ASSERT_EQ(doors.data.status, 0) << doors.data.err;
    EXPECT_EQ(without_name(doors.data_json, "data.csv"), without_name(doors.file_json, "problem.toml")) << door.toml;
    EXPECT_EQ(without_name(doors.data.err, "data.csv"), without_name(doors.file.err, "problem.toml")) << door.toml;
    EXPECT_NE(doors.file_json.find("\"problem\": \"problem.toml\""), std::string::npos);
  }
  // The second case's warnings, on standard error and in the document's notes alike.
  const Doors warned = run_both(cases[1]);
  EXPECT_EQ(warned.data.err,
            "propbf: data.csv: warning: beta shapes below 0.3 (items a, b, c, d): some draws are exactly 0 or 1, where "
            "items tie and restrictions between them fail; below 0.1 such a restriction is refused, from it on the bias "
            "stays within the Monte Carlo error\n"
            "propbf: data.csv: warning: hypothesis roof: the restriction 'a < 2' holds for every proportion in [0, 1]: it "
            "restricts nothing (its stages count a hit in every sweep)\n");
  EXPECT_NE(warned.data_json.find("\"warning: hypothesis roof: the restriction 'a < 2' holds"), std::string::npos);
}

struct Refusal {
  const char* what;
  Door door;
  std::string file_message;  // standard error, byte for byte
  std::string data_message;
};

TEST(ThreeDoors, BothDoorsRefuseWithThePlace) {
  const std::vector<Refusal> cases{
      {"a hypothesis named unconstrained",
       {kItems + "[hypotheses]\nH1 = \"a > b\"\nunconstrained = \"c < d\"\n", kCsv,
        {"--hypothesis", "H1: a > b", "--hypothesis", "unconstrained: c < d"}},
       "problem.toml:7:18: a hypothesis may not be named 'unconstrained', the name of the hypothesis every factor is set "
       "against; give it another name\n",
       "propbf: --hypothesis #2: a hypothesis may not be named 'unconstrained', the name of the hypothesis every factor "
       "is set against; give it another name\n"},
      {"max_niter without a precision",
       {kItems + "[hypotheses]\nH = \"a > b\"\n[sampling]\nmax_niter = 50000\n", kCsv,
        {"--hypothesis", "H: a > b", "--max-niter", "50000"}},
       "propbf: max_niter applies only in precision mode; give a precision too\n",
       "propbf: max_niter applies only in precision mode; give a precision too\n"},
  };
  for (const Refusal& c : cases) {
    const Doors doors = run_both(c.door);
    EXPECT_EQ(doors.file.status, 2) << c.what;
    EXPECT_EQ(doors.file.err, c.file_message) << c.what;
    EXPECT_EQ(doors.data.status, 2) << c.what;
    EXPECT_EQ(doors.data.err, c.data_message) << c.what;
    EXPECT_EQ(doors.data_json, "") << c.what;
  }
}

}  // namespace
}  // namespace propbf::testing
