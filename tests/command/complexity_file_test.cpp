// A complexity computed once and reused: a batch's records are the bytes of separate runs,
// a saved and loaded complexity gives the bytes of a computed one, and a complexity file
// that does not fit the problem or is not well formed is refused with a message, status 2
// and nothing written.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "command/complexity_file.hpp"
#include "command/run_evaluate.hpp"
#include "engine/evaluation.hpp"
#include "problem/prepare.hpp"
#include "report/report.hpp"

namespace propbf::testing {
namespace {

using evaluate::ComplexityCache;

// Four items with the successes given; H1 sampled, H2 an order (exact complexity).
evaluate::CountsProblem data_set(const std::vector<std::int64_t>& successes, std::int64_t niter = 2000) {
  evaluate::CountsProblem problem;
  problem.file_name = "data.toml";
  const std::vector<std::string> names{"a", "b", "c", "d"};
  for (std::size_t j = 0; j < names.size(); ++j) problem.items.push_back({names[j], successes[j], 20, 1.0, 1.0});
  problem.hypotheses.push_back({});
  problem.hypotheses.back().name = "H1";
  problem.hypotheses.back().text = "a + b > c + d; (a + b) / 2 > 0.3; c > 0.2 * d";
  problem.hypotheses.push_back({});
  problem.hypotheses.back().name = "H2";
  problem.hypotheses.back().text = "a > b";
  problem.settings.niter = niter;
  problem.settings.seed = 5;
  return evaluate::prepare_problem(problem, {});
}

std::string json_of(const evaluate::CountsProblem& problem, ComplexityCache* cache) {
  return evaluate::format_json(evaluate::evaluate_problem(problem, 2, false, cache), "test");
}

// Three data sets against the same hypotheses, in fixed mode and in precision mode with
// a complexity_niter: with one cache, every document is the bytes of its run alone, and
// the one sampled complexity was computed once.
TEST(ComplexityCache, DataSetsSharingACacheGiveTheBytesOfSeparateRuns) {
  for (const bool precision : {false, true}) {
    ComplexityCache cache;
    for (const std::vector<std::int64_t>& successes :
         {std::vector<std::int64_t>{14, 9, 4, 3}, {10, 12, 8, 2}, {3, 5, 17, 11}}) {
      evaluate::CountsProblem problem = data_set(successes);
      if (precision) {
        problem.settings.precision = 0.05;
        problem.settings.max_niter = 8000;
        problem.settings.complexity_niter = 3000;
      }
      EXPECT_EQ(json_of(problem, &cache), json_of(problem, nullptr)) << precision;
    }
    ASSERT_EQ(cache.records().size(), 1U) << precision;
    EXPECT_EQ(cache.records().front().hypothesis_name, "H1");
    EXPECT_EQ(cache.reused(), 2U);
  }
  // Another seed, prior or niter is another complexity; precision mode without a
  // complexity_niter keeps none.
  ComplexityCache cache;
  evaluate::CountsProblem base = data_set({14, 9, 4, 3});
  json_of(base, &cache);
  evaluate::CountsProblem seed = base;
  seed.settings.seed = 6;
  evaluate::CountsProblem prior = base;
  prior.items[0].prior_a = 2.0;
  evaluate::CountsProblem niter = data_set({14, 9, 4, 3}, 1000);
  for (const evaluate::CountsProblem* other : {&seed, &prior, &niter}) json_of(*other, &cache);
  // (With a's prior changed, H2's complexity is no longer exact: two records.)
  EXPECT_EQ(cache.records().size(), 5U);
  EXPECT_EQ(cache.reused(), 0U);
  evaluate::CountsProblem doubling = base;
  doubling.settings.precision = 0.05;
  json_of(doubling, &cache);
  EXPECT_EQ(cache.records().size(), 5U);
}

// A complexity with a rare stage (the thin tube a > b > c; a < c + 0.002), its levels
// run to complexity_niter once while precision mode doubles the fit: two data sets
// sharing a cache give the bytes of separate runs, and the record keeps the levels.
TEST(ComplexityCache, RareLevelsAreKeptAndReusedWithTheirOwnSweeps) {
  ComplexityCache cache;
  for (const std::vector<std::int64_t>& successes : {std::vector<std::int64_t>{14, 12, 10}, {9, 8, 7}}) {
    evaluate::CountsProblem problem;
    problem.file_name = "tube.toml";
    for (std::size_t j = 0; j < 3; ++j) problem.items.push_back({std::string(1, "abc"[j]), successes[j], 20, 1.0, 1.0});
    problem.hypotheses.push_back({});
    problem.hypotheses.back().name = "T";
    problem.hypotheses.back().text = "a > b > c; a < c + 0.002";
    problem.settings.niter = 1000;
    problem.settings.seed = 4;
    problem.settings.precision = 0.2;
    problem.settings.max_niter = 4000;
    problem.settings.complexity_niter = 1500;
    problem = evaluate::prepare_problem(problem, {});
    EXPECT_EQ(json_of(problem, &cache), json_of(problem, nullptr));
  }
  ASSERT_EQ(cache.records().size(), 1U);
  EXPECT_EQ(cache.reused(), 1U);
  const evaluate::ComplexityRecord& record = cache.records().front();
  ASSERT_EQ(record.levels.size(), 3U);
  ASSERT_TRUE(record.levels[2].split());
  EXPECT_EQ(record.levels[2].bounds.back(), -0.002);
  for (const evaluate::StageCount& count : record.levels[2].counts) EXPECT_LE(count.hits, 1500);
}

// complexity_niter equal to niter changes no number, only the settings that say so.
TEST(ComplexityCache, ComplexityNiterOfNiterChangesNoNumber) {
  evaluate::CountsProblem problem = data_set({14, 9, 4, 3});
  const evaluate::Evaluation plain = evaluate::evaluate_problem(problem, 2);
  problem.settings.complexity_niter = problem.settings.niter;
  const evaluate::Evaluation own = evaluate::evaluate_problem(problem, 2);
  for (std::size_t h = 0; h < plain.hypotheses.size(); ++h) {
    EXPECT_EQ(plain.hypotheses[h].bf_unconstrained, own.hypotheses[h].bf_unconstrained);
    EXPECT_EQ(plain.hypotheses[h].bf_unconstrained_interval, own.hypotheses[h].bf_unconstrained_interval);
    EXPECT_EQ(plain.hypotheses[h].bf_complement_interval_independent,
              own.hypotheses[h].bf_complement_interval_independent);
  }
}

const std::string kProblem =
    "[items]\nnames = [\"a\", \"b\", \"c\"]\ncounts = [[5, 3, 2], [2, 6, 2], [1, 1, 8]]\n\n"
    "[hypotheses]\nH = \"a[1] > b[1] > c[1]; a[2] < 0.6\"\nO = \"a[1] > a[2]\"\n\n[sampling]\nniter = 3000\nseed = 2\n";

// Seventy rows on three items, each a little weaker than the one before: more rows than
// kGroupedStages, so the stage ends come from the pilots.
std::string grouped_problem() {
  std::string text = "[items]\nnames = [\"a\", \"b\", \"c\"]\nsuccesses = [9, 7, 4]\ntrials = [12, 12, 12]\n\n"
                     "[hypotheses]\nG = \"";
  for (int k = 0; k < 70; ++k) {
    text += (k == 0 ? "" : "; ") + std::string(k % 2 == 0 ? "a > b - 0." : "b > c - 0.") + std::to_string(100 + k);
  }
  return text + "\"\n\n[sampling]\nniter = 2000\nseed = 3\n";
}

// Saved, then loaded: the same JSON and table, byte for byte, for a hypothesis over
// categories, one whose rare stage is split into levels (the thin tube a > b > c;
// a < c + 0.002), and one with grouped stages; the file holds the levels and the pilots'
// stage ends, and the loaded counts are the ones used (one hit fewer changes the JSON).
// A batch's record of a data set is the record of its batch alone.
TEST(ComplexityFile, SavedThenLoadedGivesTheSameBytes) {
  struct Case {
    std::string name;
    std::string problem;
    bool levels;        // a complexity stage split into levels
    bool pilot_ends;    // fewer stages than one per restriction
  };
  const std::vector<Case> cases{
      {"categories", kProblem, false, false},
      {"rare", "[items]\nnames = [\"a\", \"b\", \"c\"]\nsuccesses = [14, 12, 10]\ntrials = [20, 20, 20]\n"
               "[hypotheses]\nH = \"a > b > c; a < c + 0.002\"\n[sampling]\nniter = 2000\n",
       true, false},
      {"grouped", grouped_problem(), false, true},
  };
  for (const Case& c : cases) {
    TemporaryFolder folder;
    write_file(folder.path() / "problem.toml", c.problem);
    const RunResult saved = run_propbf_with_arguments(
        folder.path(), {"evaluate", "problem.toml", "--json", "a.json", "--save-complexity", "c.json"});
    ASSERT_EQ(saved.status, 0) << c.name << saved.err;
    const RunResult loaded = run_propbf_with_arguments(
        folder.path(), {"evaluate", "problem.toml", "--json", "b.json", "--load-complexity", "c.json"});
    ASSERT_EQ(loaded.status, 0) << c.name << loaded.err;
    EXPECT_EQ(read_file(folder.path() / "a.json"), read_file(folder.path() / "b.json")) << c.name;
    EXPECT_EQ(saved.out, loaded.out) << c.name;
    // A run without complexity files keeps no cache: the same bytes.
    ASSERT_EQ(run_propbf_with_arguments(folder.path(), {"evaluate", "problem.toml", "--json", "plain.json"}).status, 0);
    EXPECT_EQ(read_file(folder.path() / "plain.json"), read_file(folder.path() / "a.json")) << c.name;
    const std::string file = read_file(folder.path() / "c.json");
    EXPECT_TRUE(file.starts_with("{\"format\":\"propbf complexities\",\"version\":2,")) << file;
    nlohmann::json document = nlohmann::json::parse(file);
    nlohmann::json& record = document["complexities"][0];
    bool split = false;
    for (const nlohmann::json& stage : record["levels"]) split = split || !stage["bounds"].empty();
    EXPECT_EQ(split, c.levels) << c.name << file;
    EXPECT_EQ(record["key"]["stage_ends"].size() < record["key"]["stage_ends"].back().get<std::size_t>(), c.pilot_ends)
        << c.name << file;
    // Saving what was loaded writes the same file.
    ASSERT_EQ(run_propbf_with_arguments(folder.path(), {"evaluate", "problem.toml", "--load-complexity", "c.json",
                                                        "--save-complexity", "d.json"})
                  .status,
              0);
    EXPECT_EQ(read_file(folder.path() / "d.json"), file) << c.name;
    nlohmann::json& hits = record["stages"][0]["hits"];
    hits = hits.get<std::int64_t>() > 0 ? hits.get<std::int64_t>() - 1 : 1;
    write_file(folder.path() / "e.json", document.dump());
    ASSERT_EQ(run_propbf_with_arguments(folder.path(), {"evaluate", "problem.toml", "--json", "e-out.json",
                                                        "--load-complexity", "e.json"})
                  .status,
              0);
    EXPECT_NE(read_file(folder.path() / "e-out.json"), read_file(folder.path() / "a.json")) << c.name;
  }

  TemporaryFolder folder;
  write_file(folder.path() / "problem.toml", kProblem);
  std::string other = kProblem;
  other.replace(other.find("[5, 3, 2]"), 9, "[1, 8, 1]");
  write_file(folder.path() / "other.toml", other);
  ASSERT_EQ(run_propbf_with_arguments(folder.path(), {"evaluate", "problem.toml", "other.toml", "--jsonl", "both.jsonl"})
                .status,
            0);
  ASSERT_EQ(run_propbf_with_arguments(folder.path(), {"evaluate", "other.toml", "--jsonl", "alone.jsonl"}).status, 0);
  const std::string both = read_file(folder.path() / "both.jsonl");
  EXPECT_EQ(both.substr(both.find('\n') + 1), read_file(folder.path() / "alone.jsonl"));
}

// A file that does not fit the problem: status 2, a message saying what differs, no
// JSON written.
TEST(ComplexityFile, FileOfAnotherKeyIsRefused) {
  TemporaryFolder folder;
  write_file(folder.path() / "problem.toml", kProblem);
  ASSERT_EQ(run_propbf_with_arguments(folder.path(), {"evaluate", "problem.toml", "--save-complexity", "c.json"}).status,
            0);
  struct Case {
    std::string problem;
    std::vector<std::string> options;
    std::string message;
  };
  std::string prior = kProblem;
  prior.replace(prior.find("[hypotheses]"), 0, "prior = 2\n\n");
  std::string polytope = kProblem.substr(0, kProblem.find("[hypotheses]")) + "[hypotheses]\nX = \"b[1] > c[2]\"\n";
  const std::vector<Case> cases{
      {kProblem, {"--niter", "1000"}, "another number of sweeps per stage (3000 in the file, 1000 here"},
      {kProblem, {"--seed", "3"}, "another seed (2 in the file, 3 here)"},
      {kProblem, {"--precision", "0.1"}, "in precision mode a complexity is reused only at a fixed number"},
      {prior, {}, "another prior (coordinate 1: shapes 1, 1 in the file, 2, 2 here)"},
      {polytope, {}, "holds no complexity of a hypothesis of this problem"},
  };
  for (const Case& c : cases) {
    write_file(folder.path() / "p.toml", c.problem);
    std::vector<std::string> arguments{"evaluate", "p.toml", "--json", "out.json", "--load-complexity", "c.json"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const RunResult run = run_propbf_with_arguments(folder.path(), arguments);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_NE(run.err.find("complexity file c.json: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << c.message;
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "out.json")) << c.message;
  }
  // A file that cannot be read or parsed ends a batch before it writes anything.
  write_file(folder.path() / "bad.json", "{\"format\": \"propbf complexities\", \"version\": 1, \"complexities\": [");
  const RunResult batch = run_propbf_with_arguments(
      folder.path(), {"evaluate", "problem.toml", "p.toml", "--jsonl", "out.jsonl", "--load-complexity", "bad.json"});
  EXPECT_EQ(batch.status, 2);
  EXPECT_NE(batch.err.find("bad.json: not a usable complexity file: not JSON"), std::string::npos) << batch.err;
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "out.jsonl"));
}

// Malformed, truncated and hostile files: each refused with its place, the cache left
// as it was.
TEST(ComplexityFile, MalformedFilesAreRefusedWithTheirPlace) {
  ComplexityCache made;
  evaluate::ComplexityRecord record;
  record.key.hypothesis = 0x0123456789abcdef;
  record.key.prior_a = {1.0, 2.5};
  record.key.prior_b = {1.0, 0.5};
  record.key.start = {0.25, 0.75};
  record.key.stage_ends = {1, 3};
  record.key.seed = 7;
  record.key.niter = 100;
  record.hypothesis_name = "H";
  record.stages = {{40, 31.5, 0.125, true}, {99, 100.0, -0.25, false}};
  // Stage 1 unsplit, stage 2 in three levels.
  record.levels = {{}, {{-0.5, -0.125, 0.0}, {{20, 18.0, 0.5, true}, {21, 19.0, 0.25, true}}}};
  made.add(record);
  const std::string good = evaluate::format_complexity_file(made, "test");
  {
    ComplexityCache cache;
    evaluate::parse_complexity_file("c.json", good, cache);
    ASSERT_EQ(cache.records().size(), 1U);
    EXPECT_TRUE(cache.records().front().key == record.key);
    EXPECT_EQ(cache.records().front().stages[0].effective_sweeps, 31.5);
    EXPECT_FALSE(cache.records().front().stages[1].error_measured);
    ASSERT_EQ(cache.records().front().levels.size(), 2U);
    EXPECT_EQ(cache.records().front().levels[1].bounds, record.levels[1].bounds);
    EXPECT_EQ(cache.records().front().levels[1].counts[1].hits, 21);
    EXPECT_EQ(evaluate::format_complexity_file(cache, "test"), good);
  }
  const auto changed = [&good](const std::string& from, const std::string& to) {
    std::string text = good;
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases{
      {"", "not JSON (at byte 1)"},
      {good.substr(0, good.size() / 2), "not JSON"},
      {"[1, 2]", "the document: must be an object"},
      {std::string(100000, '[') + std::string(100000, ']'), "nested deeper than the format"},
      {changed("propbf complexities", "other"), "format: must be \"propbf complexities\""},
      {changed("\"version\":2", "\"version\":3"), "version: this program reads version 2"},
      {changed("\"version\":2", "\"version\":1"), "version: version 1 of the format"},
      {changed("\"bounds\":[-0.5,-0.125,0.0]", "\"bounds\":[-0.5,-0.5,0.0]"), "levels[1].bounds[1]: must be above"},
      {changed("\"bounds\":[-0.5,-0.125,0.0]", "\"bounds\":[0.0]"), "levels[1].bounds: must be empty or hold"},
      {changed("\"bounds\":[-0.5,-0.125,0.0]", "\"bounds\":[-0.5,0.0]"), "levels[1].counts: must be a list of one"},
      {changed("\"levels\":[{\"bounds\":[],\"counts\":[]},", "\"levels\":["), "levels: must be an empty list or one"},
      {changed("\"hits\":21", "\"hits\":101"), "levels[1].counts[1].hits: must be a whole number from 0 to 100"},
      {changed("\"seed\":7", "\"seed\":7,\"extra\":1"), "complexities[0].key: unknown key 'extra'"},
      {changed("\"hits\":40", "\"hits\":101"), "complexities[0].stages[0].hits: must be a whole number from 0 to 100"},
      {changed("\"hits\":40", "\"hits\":-1"), "stages[0].hits: must be a whole number"},
      {changed("\"hits\":40", "\"hits\":40.5"), "stages[0].hits: must be a whole number"},
      {changed("\"sweeps\":100", "\"sweeps\":99"), "stages[0].sweeps: must be a whole number from 100 to 100"},
      {changed("\"effective_sweeps\":31.5", "\"effective_sweeps\":null"), "stages[0].effective_sweeps: must be a number"},
      {changed("\"effective_sweeps\":31.5", "\"effective_sweeps\":1e999"), "a number out of range"},
      {changed("\"batch_correlation\":0.125", "\"batch_correlation\":2"), "batch_correlation: must be a number from -1"},
      {changed("\"error_measured\":true", "\"error_measured\":1"), "error_measured: must be true or false"},
      {changed("\"stage_ends\":[1,3]", "\"stage_ends\":[3,1]"), "key.stage_ends[1]: must be a whole number from 4"},
      {changed("\"stage_ends\":[1,3]", "\"stage_ends\":[1,3,5]"), "stages: must be a list of one record per stage"},
      {changed("\"prior_b\":[1.0,0.5]", "\"prior_b\":[1.0]"), "key.prior_b: must have as many numbers as prior_a"},
      {changed("\"prior_a\":[1.0,2.5]", "\"prior_a\":[]"), "key.prior_a: must be a list of numbers, not empty"},
      {changed("\"start\":[0.25,0.75]", "\"start\":[0.25,1.5]"), "key.start[1]: must be a number from 0 to 1"},
      {changed("0123456789abcdef", "0123456789abcdeg"), "key.hypothesis_key: must be 16 hex digits"},
      {changed("\"niter\":100", "\"niter\":0"), "key.niter: must be a whole number from 1"},
      {changed("\"hypothesis\":\"H\"", "\"hypothesis\":[]"), "hypothesis: must be a name"},
      {changed("\"key\":", "\"kex\":"), "complexities[0]: unknown key 'kex'"},
      {"{\"format\":\"propbf complexities\",\"version\":2,\"program_version\":\"x\",\"complexities\":[]}",
       "complexities: holds no complexity"},
  };
  for (const Case& c : cases) {
    ComplexityCache cache;
    try {
      evaluate::parse_complexity_file("c.json", c.text, cache);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const evaluate::InputError& error) {
      const std::string message = error.what();
      EXPECT_TRUE(message.starts_with("propbf: c.json: not a usable complexity file: ")) << message;
      EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
    EXPECT_TRUE(cache.records().empty()) << c.message;
    EXPECT_TRUE(cache.source().empty()) << c.message;
  }
}

}  // namespace
}  // namespace propbf::testing
