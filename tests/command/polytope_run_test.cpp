// Whole runs of hypotheses given as polytopes: a restriction matrix gives the bytes of the
// same restrictions written in the language, vertices the factor of their facets, and
// every mistake in a matrix or vertex file ends with its place, status 2 and nothing
// written.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "command/run_evaluate.hpp"

namespace propbf::testing {
namespace {

using Json = nlohmann::json;

const std::string kItems = "[items]\nnames = [\"a\", \"b\", \"c\"]\nsuccesses = [7, 5, 2]\ntrials = [10, 10, 10]\n";

struct Ran {
  RunResult run;
  Json json;
  std::vector<std::string> files;  // what the folder holds after the run
};

Ran run_with_files(const std::string& toml, const std::vector<std::pair<std::string, std::string>>& files,
                   const std::vector<std::string>& more = {}) {
  TemporaryFolder folder;
  write_file(folder.path() / "problem.toml", toml);
  for (const auto& [name, content] : files) write_file(folder.path() / name, content);
  Ran ran;
  std::vector<std::string> arguments{"evaluate", "problem.toml", "--json", "result.json"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  ran.run = run_propbf_with_arguments(folder.path(), arguments);
  if (std::filesystem::exists(folder.path() / "result.json")) {
    ran.json = Json::parse(read_file(folder.path() / "result.json"));
  }
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    ran.files.push_back(entry.path().filename().string());
  }
  return ran;
}

// The table without its hypotheses' heading lines (which say how each was given).
std::string without_headings(const std::string& table) {
  std::string kept;
  std::size_t at = 0;
  while (at < table.size()) {
    std::size_t end = table.find('\n', at);
    end = end == std::string::npos ? table.size() : end + 1;
    const std::string line = table.substr(at, end - at);
    if (!line.starts_with("H: ")) kept += line;
    at = end;
  }
  return kept;
}

// a > b > c as a matrix: the restrictions, their order and so the stages of the language's
// "a > b > c", hence the same streams and the same numbers; its complexity is 1/6.
TEST(PolytopeRun, MatrixGivesTheBytesOfTheSameRestrictionsInTheLanguage) {
  const std::string sampling = "[sampling]\nniter = 20000\n";
  const Ran language = run_with_files(kItems + "[hypotheses]\nH = \"a > b > c\"\n" + sampling, {});
  const Ran matrix = run_with_files(kItems + "[hypotheses.H]\nmatrix = \"order.csv\"\n" + sampling,
                                    {{"order.csv", "a[1],b[1],c[1],b\n-1,1,0,0\n0,-1,1,0\n"}});
  ASSERT_EQ(language.run.status, 0) << language.run.err;
  ASSERT_EQ(matrix.run.status, 0) << matrix.run.err;
  EXPECT_EQ(without_headings(matrix.run.out), without_headings(language.run.out));
  EXPECT_NE(matrix.run.out.find("H: matrix \"order.csv\"\n"), std::string::npos) << matrix.run.out;
  const Json& h = matrix.json["hypotheses"][0];
  EXPECT_EQ(h["complexity"], language.json["hypotheses"][0]["complexity"]);
  EXPECT_EQ(h["bf_unconstrained_interval"], language.json["hypotheses"][0]["bf_unconstrained_interval"]);
  EXPECT_NEAR(h["complexity"].get<double>(), 1.0 / 6.0, 0.01);
  EXPECT_EQ(h["restrictions"][0]["text"], "order.csv line 2");
  EXPECT_FALSE(h.contains("facets"));
  // Beside restrictions in the language: theirs come first.
  const Ran both = run_with_files(kItems + "[hypotheses.H]\nrestrictions = \"a > b\"\nmatrix = \"order.csv\"\n" + sampling,
                                  {{"order.csv", "b,c,b\n-1,1,0\n"}});
  ASSERT_EQ(both.run.status, 0) << both.run.err;
  EXPECT_EQ(without_headings(both.run.out), without_headings(language.run.out));
  EXPECT_EQ(both.json["hypotheses"][0]["hypothesis"], "a > b; matrix \"order.csv\"");
  // --no-polytope-rows: the file's rows leave the JSON, counted; nothing else changes.
  const Ran short_json = run_with_files(kItems + "[hypotheses.H]\nrestrictions = \"a > b\"\nmatrix = \"order.csv\"\n" + sampling,
                                        {{"order.csv", "b,c,b\n-1,1,0\n"}}, {"--no-polytope-rows"});
  ASSERT_EQ(short_json.run.status, 0) << short_json.run.err;
  EXPECT_EQ(short_json.run.out, both.run.out);
  Json expected = both.json;
  Json& kept = expected["hypotheses"][0]["restrictions"];
  kept.erase(1);
  ASSERT_EQ(kept.size(), 1u);
  expected["hypotheses"][0]["polytope_rows"] = 1;
  expected["explanations"]["polytope_rows"] = short_json.json["explanations"]["polytope_rows"];
  EXPECT_TRUE(short_json.json["explanations"]["polytope_rows"].is_string());
  EXPECT_EQ(short_json.json, expected);
}

// Over an item of three categories the header names its first two free parameters, by
// number or by category name (x[3] = 1 - x[1] - x[2]): x[1] > x[2] > x[3] as rows gives
// the language's numbers, and a bare name is refused for such an item.
TEST(PolytopeRun, MatrixOverCategoriesGivesTheLanguagesNumbers) {
  const std::string items = "[items]\nnames = [\"x\", \"y\"]\ncounts = [[4, 3, 1], [2, 2]]\n"
                            "categories = [[\"p\", \"q\", \"r\"], [\"u\", \"v\"]]\n";
  const std::string sampling = "[sampling]\nniter = 4000\n";
  const Ran language = run_with_files(items + "[hypotheses]\nH = \"x[1] > x[2] > x[3]\"\n" + sampling, {});
  ASSERT_EQ(language.run.status, 0) << language.run.err;
  for (const char* header : {"x[1],x[2],y,b", "x[p],x[q],y[u],b"}) {
    const Ran matrix = run_with_files(items + "[hypotheses.H]\nmatrix = \"order.csv\"\n" + sampling,
                                      {{"order.csv", std::string(header) + "\n-1,1,0,0\n-1,-2,0,-1\n"}});
    ASSERT_EQ(matrix.run.status, 0) << header << matrix.run.err;
    EXPECT_EQ(without_headings(matrix.run.out), without_headings(language.run.out)) << header;
  }
  const Ran bare = run_with_files(items + "[hypotheses.H]\nmatrix = \"order.csv\"\n" + sampling,
                                  {{"order.csv", "x,b\n-1,0\n"}});
  EXPECT_EQ(bare.run.status, 2);
  EXPECT_NE(bare.run.err.find("'x'"), std::string::npos) << bare.run.err;
}

// a >= b >= c with a + b + c <= 1.5 as rows and as the vertices of its hull: the factors
// of the two runs (whose facets come in another order, so other stages) lie within each
// other's intervals.
TEST(PolytopeRun, VerticesAndFacetsOfOnePolytopeAgree) {
  const std::string sampling = "[sampling]\nniter = 40000\n";
  const Ran facets = run_with_files(kItems + "[hypotheses.H]\nmatrix = \"A.csv\"\n" + sampling,
                                    {{"A.csv", "a,b,c,b\n-1,1,0,0\n0,-1,1,0\n1,1,1,1.5\n"}});
  const Ran vertices = run_with_files(
      kItems + "[hypotheses.H]\nvertices = \"V.csv\"\n" + sampling,
      {{"V.csv", "a,b,c\n0,0,0\n1,0,0\n1,0.5,0\n0.75,0.75,0\n0.5,0.5,0.5\n1,0.25,0.25\n0.6,0.3,0.1\n"}});
  ASSERT_EQ(facets.run.status, 0) << facets.run.err;
  ASSERT_EQ(vertices.run.status, 0) << vertices.run.err;
  const Json& f = facets.json["hypotheses"][0];
  const Json& v = vertices.json["hypotheses"][0];
  EXPECT_EQ(v["facets"], 5) << vertices.run.out;  // a <= 1 and c >= 0 among them, left out as always holding
  EXPECT_EQ(v["restrictions"].size(), 3u);
  EXPECT_NE(vertices.run.out.find("  facets of the vertices' hull   5\n"), std::string::npos) << vertices.run.out;
  for (const auto& [x, y] : {std::pair{&f, &v}, std::pair{&v, &f}}) {
    const double factor = (*x)["bf_unconstrained"].get<double>();
    EXPECT_GE(factor, (*y)["bf_unconstrained_interval"][0].get<double>());
    EXPECT_LE(factor, (*y)["bf_unconstrained_interval"][1].get<double>());
  }
}

// Vertices on the plane a = b: the equality collapses as the language's does, with the
// same closed-form factor and, for the rest, the same numbers.
TEST(PolytopeRun, ImplicitEqualityOfVerticesIsTheLanguagesEquality) {
  const std::string sampling = "[sampling]\nniter = 20000\n";
  const Ran language = run_with_files(kItems + "[hypotheses]\nH = \"a = b > c\"\n" + sampling, {});
  const Ran vertices = run_with_files(kItems + "[hypotheses.H]\nvertices = \"V.csv\"\n" + sampling,
                                      {{"V.csv", "a,b,c\n0,0,0\n1,1,0\n1,1,1\n"}});
  ASSERT_EQ(language.run.status, 0) << language.run.err;
  ASSERT_EQ(vertices.run.status, 0) << vertices.run.err;
  const Json& l = language.json["hypotheses"][0];
  const Json& v = vertices.json["hypotheses"][0];
  EXPECT_EQ(v["equalities"], Json::array({"-a + b = 0 (V.csv)"}));
  EXPECT_EQ(v["bf_equalities"], l["bf_equalities"]);
  EXPECT_EQ(v["bf_unconstrained"], l["bf_unconstrained"]);
  EXPECT_EQ(v["bf_unconstrained_interval"], l["bf_unconstrained_interval"]);
}

// Vertices on the line x[1] = x[2] of a trinomial: the equality ties the item's categories
// as the language's does (the same closed form), and u = x[1] + x[2], uniform under the
// tie, lies in (0.2, 0.6): a complexity of 0.4.
TEST(PolytopeRun, ImplicitEqualityOfCategoriesIsTheLanguagesTie) {
  const std::string items = "[items]\nnames = [\"x\"]\ncounts = [[1, 2, 3]]\n[sampling]\nniter = 20000\n";
  const Ran language = run_with_files(items + "[hypotheses]\nH = \"x[1] = x[2]; x[1] > 0.1; x[1] < 0.3\"\n", {});
  const Ran vertices = run_with_files(items + "[hypotheses.H]\nvertices = \"V.csv\"\n",
                                      {{"V.csv", "x[1],x[2]\n0.1,0.1\n0.2,0.2\n0.3,0.3\n"}});
  ASSERT_EQ(language.run.status, 0) << language.run.err;
  ASSERT_EQ(vertices.run.status, 0) << vertices.run.err;
  const Json& l = language.json["hypotheses"][0];
  const Json& v = vertices.json["hypotheses"][0];
  EXPECT_EQ(v["bf_equalities"], l["bf_equalities"]);
  for (const Json* h : {&l, &v}) {
    const double complexity = (*h)["complexity"].get<double>();
    EXPECT_NEAR(complexity, 0.4, 0.01);
  }
  const double factor = v["bf_unconstrained"].get<double>();
  EXPECT_GE(factor, l["bf_unconstrained_interval"][0].get<double>() * 0.98);
  EXPECT_LE(factor, l["bf_unconstrained_interval"][1].get<double>() * 1.02);
  // A triangle in the plane x[1] = x[2] of four categories leaves three merged categories
  // under its facets, drawn on their simplex: (u, x[3]) = (x[1] + x[2], x[3]) uniform
  // under the tie, in u > 0.2, x[3] > 0.1, u + x[3] < 0.7, a complexity of 2 x 0.08.
  const std::string four = "[items]\nnames = [\"x\"]\ncounts = [[12, 9, 4, 7]]\n[sampling]\nniter = 20000\n";
  const Ran triangle = run_with_files(four + "[hypotheses.H]\nvertices = \"V.csv\"\n",
                                      {{"V.csv", "x[1],x[2],x[3]\n0.3,0.3,0.1\n0.1,0.1,0.1\n0.1,0.1,0.5\n"}});
  ASSERT_EQ(triangle.run.status, 0) << triangle.run.err;
  const Json& t = triangle.json["hypotheses"][0];
  EXPECT_EQ(t["facets"], 3);
  EXPECT_NEAR(t["complexity"].get<double>(), 0.16, 0.01);
  const Json& x4 = t["estimates"][3];
  EXPECT_NEAR(t["estimates"][0]["mean"].get<double>() * 2 + t["estimates"][2]["mean"].get<double>() +
                  x4["mean"].get<double>(), 1.0, 1e-9);
}

TEST(PolytopeRun, MistakesEndWithTheirPlaceAndStatusTwoWritingNothing) {
  struct Case {
    const char* what;
    std::string hypothesis;  // the [hypotheses] part
    std::string file;        // A.csv
    std::string message;     // the first line of standard error
  };
  const std::string m = "[hypotheses.H]\nmatrix = \"A.csv\"\n";
  const std::string v = "[hypotheses.H]\nvertices = \"A.csv\"\n";
  std::string many = "a,b\n";
  for (int k = 0; k < 10001; ++k) many += "0.5,0.5\n";
  const std::vector<Case> cases{
      {"unknown parameter", m, "a,d,b\n1,1,1\n",
       "A.csv:1:3: the header names 'd', which is no free parameter of the items; the parameters are a[1], b[1], c[1]"},
      {"a parameter twice", m, "a,a[1],b\n1,1,1\n",
       "A.csv:1:3: the header names parameter 'a[1]' twice (as 'a' and 'a[1]'); give each column once"},
      {"no b", m, "a,c\n1,1\n",
       "A.csv:1:3: the header's last column must be 'b', the right-hand side of A θ <= b; found 'c'"},
      {"ragged row", m, "a,c,b\n1,1,1\n1,1\n", "A.csv:3:4: this row has 2 fields but the header has 3; expected a value here"},
      {"not a number", m, "a,c,b\n1,one,1\n", "A.csv:2:3: expected a finite number for 'c', but found 'one'"},
      {"NaN", m, "a,c,b\nnan,1,1\n", "A.csv:2:1: expected a finite number for 'a', but found 'nan'"},
      {"empty", m, "", "A.csv:1:1: the file is empty; expected a header naming the parameters and then 'b'"},
      {"header only", m, "a,b\n", "A.csv:2:1: the file has no rows after its header; expected one row per restriction A θ <= b"},
      {"empty polytope", m, "a,b\n-1,-0.6\n1,0.4\n",
       "problem.toml:5:1: hypothesis H has no interior point: these restrictions cannot hold together with every "
       "proportion in [0, 1]"},
      {"restricts nothing", m, "a,b\n-1,0\n",
       "problem.toml:5:1: hypothesis H: every row of its polytope holds for every proportion in [0, 1]; it restricts "
       "nothing"},
      {"lower dimension", v, "a,b\n0,1\n1,0\n0.5,0.5\n",
       "A.csv: the vertices' hull has a lower dimension than the 2 parameters the header names: every vertex "
       "satisfies a + b = 1; a polytope with a linear equality other than one of two items or of an item and a "
       "number cannot be sampled yet"},
      {"too many vertices", v, many,
       "A.csv:10002:1: the file holds more than 10000 vertices, the most a hypothesis may have: the facets of a "
       "hull can number exponentially many in its vertices; give the polytope as a restriction matrix (matrix = "
       "\"FILE.csv\") instead"},
      {"no file named", "[hypotheses.H]\nrestrictions = \"a > b\"\n", "",
       "problem.toml:5:1: [hypotheses.H] names no 'matrix' or 'vertices' file; write a hypothesis in the language as "
       "H = \"a > b\""},
      {"unknown key", "[hypotheses.H]\nmatrix = \"A.csv\"\nsteps = 3\n", "a,b\n1,0.5\n",
       "problem.toml:7:1: unknown key 'steps' in [hypotheses.H]; expected matrix, restrictions, vertices"},
      {"missing file", "[hypotheses.H]\nmatrix = \"B.csv\"\n", "", "B.csv: cannot open the matrix file: No such file or directory"},
      {"language beside it", "[hypotheses.H]\nmatrix = \"A.csv\"\nrestrictions = \"a >\"\n", "a,b\n1,0.5\n",
       "problem.toml:7:20: hypothesis H: expected an item name, a number or '(', but found the end of the hypothesis"},
  };
  for (const Case& c : cases) {
    const Ran ran = run_with_files(kItems + c.hypothesis, {{"A.csv", c.file}});
    EXPECT_EQ(ran.run.status, 2) << c.what;
    EXPECT_EQ(ran.run.err.substr(0, ran.run.err.find('\n')), c.message) << c.what;
    EXPECT_EQ(ran.run.out, "") << c.what;
    EXPECT_EQ(ran.files.size(), 2u) << c.what << ": nothing may be written";
  }
}

}  // namespace
}  // namespace propbf::testing
