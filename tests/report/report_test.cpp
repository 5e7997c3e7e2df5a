// The report layer: JSON text byte for byte (numbers, strings, layout), the factor matrix
// and its bound, the lines on probabilities that are not numbers, and memory running out
// at every allocation while a report is written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "report/json_writer.hpp"
#include "report/report.hpp"

// ThreadSanitizer's runtime defines the allocation operators itself: its builds leave them
// alone and skip the test of failing allocations.
#if defined(__SANITIZE_THREAD__)
#define PROPBF_OWN_ALLOCATION 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PROPBF_OWN_ALLOCATION 0
#endif
#endif
#ifndef PROPBF_OWN_ALLOCATION
#define PROPBF_OWN_ALLOCATION 1
#endif

// Every allocation of this test program goes through here; with allocations_left at 0
// the next one fails as a full memory would (below 0: none fails).
// (The blocks are taken and given back through functions of their own, which the
// compiler does not see into: it would take the pairing of new with free for a mistake.)
namespace {
long allocations_left = -1;
}  // namespace

#if PROPBF_OWN_ALLOCATION
namespace {
[[gnu::noinline]] void* take(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }
[[gnu::noinline]] void give_back(void* block) { std::free(block); }
}  // namespace

void* operator new(std::size_t size) {
  if (allocations_left == 0) throw std::bad_alloc();
  if (allocations_left > 0) --allocations_left;
  if (void* block = take(size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { give_back(block); }
void operator delete(void* block, std::size_t) noexcept { give_back(block); }
#endif

namespace propbf::evaluate {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(JsonWriter, NumbersInTheirShortestFormWithAPointOrAnExponent) {
  const std::vector<std::pair<double, std::string>> cases{
      {0.0, "0.0"}, {-0.0, "-0.0"}, {0.5, "0.5"}, {-2.25, "-2.25"}, {20000.0, "20000.0"},
      {0.0001, "0.0001"}, {0.00001, "1e-05"}, {0.000123, "0.000123"}, {0.1 + 0.2, "0.30000000000000004"},
      {123456789012345.0, "123456789012345.0"}, {1e15, "1e+15"}, {1.5e300, "1.5e+300"}, {5e-324, "5e-324"},
      {73728891338240.12, "73728891338240.12"}, {1.6872607978221682e15, "1.6872607978221682e+15"},
      {kNaN, "null"}, {kInfinity, "null"}, {-kInfinity, "null"}};
  for (const auto& [value, text] : cases) {
    std::string out;
    append_json_number(out, value);
    EXPECT_EQ(out, text) << text;
  }
}

TEST(JsonWriter, StringsEscapedAndBytesThatAreNotUtf8Replaced) {
  const std::string replacement = "\xEF\xBF\xBD";
  const std::vector<std::pair<std::string, std::string>> cases{
      {"a\"b\\c/", "a\\\"b\\\\c/"},
      {"\b\f\n\r\t", "\\b\\f\\n\\r\\t"},
      {std::string("\x00\x01\x1f\x7f", 4), "\\u0000\\u0001\\u001f\x7f"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xC2\x85", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xC2\x85"},
      {"\xFF", replacement},
      {"a\xC3", "a" + replacement},                                // cut at the end
      {"\xE2\x82x", replacement + "x"},                             // the breaking byte read again
      {"\xE0\x80", replacement + replacement},                      // overlong
      {"\xED\xA0\x80", replacement + replacement + replacement},    // a surrogate
      {"\xF4\x90\x80\x80", replacement + replacement + replacement + replacement},  // above U+10FFFF
      {"\xC0\xAF", replacement + replacement}};
  for (const auto& [text, escaped] : cases) {
    std::string out;
    append_json_escaped(out, text);
    EXPECT_EQ(out, escaped) << escaped;
  }
}

TEST(JsonWriter, IndentedAndCompactLayouts) {
  const auto write = [](JsonWriter& out) {
    out.begin_object();
    out.key("a").integer(-3);
    out.key("b").begin_array();
    out.boolean(true);
    out.null();
    out.begin_object();
    out.end_object();
    out.begin_array();
    out.end_array();
    out.end_array();
    out.key("c").begin_object();
    out.key("d").string("e");
    out.end_object();
    out.end_object();
  };
  std::string indented;
  JsonWriter pretty(indented, 2);
  write(pretty);
  EXPECT_EQ(indented, "{\n  \"a\": -3,\n  \"b\": [\n    true,\n    null,\n    {},\n    []\n  ],\n  \"c\": {\n"
                      "    \"d\": \"e\"\n  }\n}");
  std::string compact;
  JsonWriter line(compact, -1);
  write(line);
  EXPECT_EQ(compact, "{\"a\":-3,\"b\":[true,null,{},[]],\"c\":{\"d\":\"e\"}}");
}

// A run's results as the engine leaves them, `count` hypotheses whose factors against
// the unconstrained hypothesis are 1, 2, 3, ... (the first one `first` instead).
Evaluation results(std::size_t count, double first = 1.0) {
  Evaluation evaluation;
  evaluation.problem.file_name = "p.toml";
  evaluation.problem.items = {{"a", 3, 10, 1.0, 1.0}, {"b", 5, 10, 1.0, 1.0}};
  evaluation.unconstrained_estimates = {{"a", 0.33, 0.13, 0.1, 0.6}, {"b", 0.5, 0.14, 0.2, 0.8}};
  double sum = 0.0;
  for (std::size_t h = 0; h < count; ++h) {
    HypothesisResult result;
    result.name = "H" + std::to_string(h + 1);
    result.text = "a > b";
    result.restrictions = {{{1.0, -1.0}, 0.0, "a > b"}};
    result.start.centre = {0.75, 0.25};
    result.start.radius = 0.2;
    result.complexity_stages = {{5000, 4000.5, 0.01}};
    result.fit_stages = {{h == 0 ? 0 : 2000, 1500.25, 0.02}};
    result.niter = 10000;
    result.bf_unconstrained = h == 0 ? first : static_cast<double>(h + 1);
    result.complexity = 0.5;
    result.fit = result.bf_unconstrained / 2;
    result.bf_unconstrained_interval = {result.bf_unconstrained * 0.9, result.bf_unconstrained * 1.1};
    result.bf_unconstrained_interval_independent = result.bf_unconstrained_interval;
    result.bf_complement_interval = {kNaN, kNaN};
    result.bf_complement_interval_independent = {kNaN, kNaN};
    result.estimates = evaluation.unconstrained_estimates;
    result.notes = {"a note"};
    sum += result.bf_unconstrained;
    evaluation.hypotheses.push_back(result);
  }
  for (HypothesisResult& result : evaluation.hypotheses) {
    result.pmp = result.bf_unconstrained / sum;
    result.pmp_with_unconstrained = result.bf_unconstrained / (sum + 1.0);
  }
  evaluation.pmp_unconstrained = 1.0 / (sum + 1.0);
  return evaluation;
}

TEST(Report, FactorMatrixUpToTwelveHypotheses) {
  const Evaluation twelve = results(kMostMatrixHypotheses);
  EXPECT_NE(format_table(twelve).find("Bayes factors between hypotheses (row against column)\n"), std::string::npos);
  EXPECT_NE(format_json(twelve, "t").find("  \"bf_matrix\": [\n    [\n      1.0,\n      0.5,\n"), std::string::npos);
  const Evaluation thirteen = results(kMostMatrixHypotheses + 1);
  const std::string table = format_table(thirteen, false);
  EXPECT_NE(table.find("\nBayes factors between hypotheses: not shown for more than 12 hypotheses (here 13); the factor "
                       "of one against another is the ratio of their Bayes factors vs unconstrained\n"),
            std::string::npos);
  EXPECT_EQ(table.find("row against column"), std::string::npos);
  EXPECT_NE(format_json(thirteen, "t").find("\n  \"bf_matrix\": null,\n"), std::string::npos);
  EXPECT_EQ(bf_matrix(results(3)), (std::vector<std::vector<double>>{{1.0, 0.5, 1.0 / 3}, {2.0, 1.0, 2.0 / 3}, {3.0, 1.5, 1.0}}));
}

// The samples' CSV: the header, a row per draw in hypothesis order, numbers in their
// shortest exact form, and names holding a comma, a quote or an outer blank quoted.
TEST(Report, SamplesAsCsv) {
  Evaluation evaluation;
  evaluation.sample_columns = {"x[a,b]", "x[c]", "y"};
  HypothesisResult first;
  first.name = "H \"1\"";
  first.samples = {0.5, 0.25, 0.1, 1.0 / 3.0, 2.0 / 3.0, 1e-300};
  HypothesisResult second;
  second.name = " H2";
  second.samples = {1.0, 0.0, 0.125};
  evaluation.hypotheses = {first, second};
  EXPECT_EQ(format_samples_csv(evaluation),
            "hypothesis,\"x[a,b]\",x[c],y\n"
            "\"H \"\"1\"\"\",0.5,0.25,0.1\n"
            "\"H \"\"1\"\"\",0.3333333333333333,0.6666666666666666,1e-300\n"
            "\" H2\",1,0,0.125\n");
}

TEST(Report, ProbabilitiesThatAreNotNumbersAreExplained) {
  struct Case {
    double first;
    std::string note;  // the table's line; the JSON's note is the same sentence
  };
  const std::vector<Case> cases{
      {kNaN, "the Bayes factor against the unconstrained hypothesis of H1 is not a number, so every posterior model "
             "probability, a share of the sum of the factors, is not a number either"},
      {kInfinity, "the Bayes factor against the unconstrained hypothesis of H1 is infinite, so the posterior model "
                  "probabilities, shares of the sum of the factors, are 0 or not a number (infinity / infinity)"}};
  for (const Case& c : cases) {
    const Evaluation evaluation = results(3, c.first);
    EXPECT_NE(format_table(evaluation, false).find("\n  note: " + c.note + "\n\nBayes factors between hypotheses"),
              std::string::npos)
        << format_table(evaluation, false);
    EXPECT_NE(format_json(evaluation, "t").find("    \"" + c.note + "\"\n  ]\n}\n"), std::string::npos) << c.note;
  }
  EXPECT_TRUE(probability_notes(results(3)).empty());
}

TEST(Report, RunNotesEndTheTableAndStartTheDocumentsNotes) {
  const Evaluation evaluation = results(2);
  const std::vector<std::string> notes{"--threads 9 lowered to 2: the process may use 2 processors"};
  const std::string table = format_table(evaluation, false, notes);
  EXPECT_TRUE(table.ends_with("\n\nnote: --threads 9 lowered to 2: the process may use 2 processors\n")) << table;
  EXPECT_NE(format_json(evaluation, "t", notes).find("  \"notes\": [\n    \"--threads 9 lowered to 2: the process may use 2 "
                                                     "processors\"\n  ]\n}\n"),
            std::string::npos);
}

// Whichever allocation fails, writing a report throws std::bad_alloc and nothing else
// (it used to end the process inside a destructor that may not throw); once every
// allocation succeeds it gives the same bytes.
TEST(Report, MemoryRunningOutAtAnyAllocationThrowsBadAlloc) {
  if (!PROPBF_OWN_ALLOCATION) GTEST_SKIP() << "the sanitizer's runtime owns the allocation operators";
  const Evaluation evaluation = results(3, kNaN);
  const std::vector<std::pair<const char*, std::string (*)(const Evaluation&)>> reports{
      {"json", [](const Evaluation& e) { return format_json(e, "t", {"a run note"}); }},
      {"record", [](const Evaluation& e) { return format_json_record("p.toml", e, "t"); }},
      {"table", [](const Evaluation& e) { return format_table(e); }}};
  for (const auto& [name, report] : reports) {
    const std::string whole = report(evaluation);
    long failures = 0;
    for (long allowed = 0;; ++allowed) {
      allocations_left = allowed;
      try {
        const std::string text = report(evaluation);
        allocations_left = -1;
        EXPECT_EQ(text, whole) << name;
        break;
      } catch (const std::bad_alloc&) {
        allocations_left = -1;
        ++failures;
      }
    }
    EXPECT_GT(failures, 20) << name;
  }
}

}  // namespace
}  // namespace propbf::evaluate
