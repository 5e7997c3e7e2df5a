// Fuzz target: the program's run on problems of up to 40 restrictions, with hostile
// numbers everywhere, checking the fast sampler against the literal one bit for bit.
//
// Input layout:
//   byte 0   nitem from small and extreme values (at most 12 when the storage is obtained)
//   byte 1   nrestr: 0 to 40, or -1, -2^31, 2^31 - 1
//   byte 2   niter from small and extreme values (at most 20)
//   byte 3   bit 0: the rest is text (0) or chosen values (1);
//            bit 1: a whole run, with the replications and the report (only for at most
//                   3 restrictions: the replications take 2 x T x 100000 beta deviates);
//            bits 2-4: size of the stage groups of the regrouped check below, 1 to 8;
//            bit 5: the program's phases on two threads (it takes two only for problems
//                   larger than these)
//   rest     text: the file from the restriction heading on, as it comes;
//            values: one byte per number of the file (restrictions, start, observations),
//                    each choosing from a table of plain and extreme numbers; missing
//                    bytes choose 0.
// 40 restrictions cross the fast sampler's group boundaries: its groups take stages
// while they hold at most 256 bounding rows, so stages 1-23, 24-32, 33-39 and 40.
//
// Properties checked for every input:
//   - reading ends only with the fatal report (-1); a whole run ends through the text
//     layer with status 0, 1 (a negative niter rejected by the beta generator) or -1;
//   - a completed run leaves exactly the 15 report records in output.txt; anything else
//     leaves it empty;
//   - both phases give the literal sampler's hit counts, phase products, final state
//     (any NaN as any other) and generator position, bit for bit, run as the program runs
//     them (run_phases, with the same progress lines) and with the fast sampler in groups
//     of the size byte 3 chooses;
//   - after the phases a completed run writes just "Analysis Completed" on the console.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "concurrency/executor.hpp"
#include "driver/problem.hpp"
#include "driver/replications.hpp"
#include "driver/report.hpp"
#include "driver/run.hpp"
#include "driver/sampler.hpp"
#include "harness.hpp"
#include "random/random.hpp"
#include "textio/textio.hpp"

namespace {

using namespace propbf;

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kItemChoices[] = {0, 1, 2, 3, 4, 5, 6, 8, 12, -1, -7, kMin, kMax};
constexpr int32_t kSweepChoices[] = {0, 1, 2, 3, 5, 7, 10, 20, -1, -3, kMin};
constexpr int32_t kMostRestrictions = 40;
constexpr int32_t kRestrictionExtremes[] = {-1, kMin, kMax};
constexpr int32_t kWholeRunRestrictions = 3;
constexpr int64_t kMostStorageBytes = int64_t{1} << 30;

constexpr std::string_view kNumbers[] = {
    "0",    "-0",    "1",      "-1",    "0.5",    "-0.5",  "2",       "-2",
    "0.25", "0.75",  "0.1",    "-0.3",  "0.9",    "3",     "-3",      "100",
    "1e38", "-1e38", "3.4e38", "1e-45", "-1e-45", "1e-38", "1e-7",    "-1e-7",
    "NaN",  "Inf",   "-Inf",   "0.6",   "0.4",    "1.5",   "-2.5e-3", "0.333333343"};
constexpr std::string_view kObservations[] = {"0", "1", "0", "1", "0", "1", "2", "-1"};

template <size_t N>
int32_t choose(const int32_t (&choices)[N], uint8_t byte) {
  return choices[byte % N];
}

int32_t choose_restrictions(uint8_t byte) {
  constexpr int32_t kChoices = kMostRestrictions + 1 + 3;
  const int32_t pick = byte % kChoices;
  return pick <= kMostRestrictions ? pick : kRestrictionExtremes[pick - kMostRestrictions - 1];
}

// The file from the restriction heading on, from one byte per number.
std::string chosen_values(int32_t nitem, int32_t nrestr, const uint8_t* data, size_t size) {
  // Extents beyond these end with the allocation report before any of it is read.
  const int32_t items = std::clamp(nitem, 0, 16);
  const int32_t restrictions = std::clamp(nrestr, 0, kMostRestrictions);
  size_t next = 0;
  auto byte = [&]() -> uint8_t { return next < size ? data[next++] : 0; };
  std::string text = "r\n";
  auto line = [&](int32_t count, const std::string_view* table, size_t table_size) {
    for (int32_t k = 0; k < count; ++k) {
      if (k > 0) text += ' ';
      text += table[byte() % table_size];
    }
    text += '\n';
  };
  for (int32_t t = 0; t < restrictions; ++t) line(items + 1, kNumbers, std::size(kNumbers));
  text += "s\n";
  line(items, kNumbers, std::size(kNumbers));
  text += "x\n";
  line(items, kObservations, std::size(kObservations));
  return text;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

// The final states, with every NaN taken as one value: when both operands of a
// commutative operation are NaN, which one's sign and payload the result carries depends
// on the operand order the compiler picks. A NaN state never counts as a hit, so its
// sign never reaches a result; every other value must match to the bit. The state is
// only defined when a stage ran.
bool same_state(const std::vector<float>& a, const std::vector<float>& b, int32_t stages) {
  if (stages <= 0) return true;
  if (a.size() != b.size()) return false;
  for (size_t j = 0; j < a.size(); ++j) {
    if (!(std::isnan(a[j]) && std::isnan(b[j])) && !same_bits(a[j], b[j])) return false;
  }
  return true;
}

struct Run {
  bool whole = false;
  int32_t group_size = 1;
  bool two_threads = false;
  bool sampler_mismatch = false;
};

// What one phase leaves behind.
struct PhaseResult {
  std::vector<float> hits, pi;
  float product = 0.0f;
  int32_t seed_after = 0;
};

bool same_phase(const PhaseResult& a, const PhaseResult& b, int32_t stages) {
  return same_bits(a.hits, b.hits) && same_bits(a.product, b.product) && same_state(a.pi, b.pi, stages) &&
         a.seed_after == b.seed_after;
}

std::vector<float> zeros(int32_t n) { return std::vector<float>(static_cast<size_t>(n), 0.0f); }

// A phase through run_phase, the literal sampler's or the program's own, on arrays of
// its own.
PhaseResult whole_phase(const driver::Problem& problem, driver::Phase phase, driver::SamplerChoice choice,
                        int64_t group_byte_limit) {
  PhaseResult result;
  result.hits = zeros(problem.restrictions());
  result.pi = zeros(problem.items());
  result.product = driver::run_phase(problem, phase, result.pi.data(), result.hits.data(), choice, group_byte_limit);
  result.seed_after = numlib::random_state().seed;
  return result;
}

// The fast sampler with groups of `group_size` stages; hit counts and product formed
// from the shares as run_phase forms them. False when a group's storage could not be
// obtained.
bool regrouped_phase(const driver::Problem& problem, driver::Phase phase, int32_t group_size, PhaseResult& result) {
  const int32_t stages = problem.restrictions();
  std::vector<float> shares = zeros(stages);
  result = PhaseResult{};
  result.pi = zeros(problem.items());
  numlib::UniformStream stream;
  if (driver::phase_draws(problem)) stream = numlib::reserve_uniforms();
  for (int32_t first = 1; first <= stages; first += group_size) {
    const int32_t count = std::min(group_size, stages - first + 1);
    int64_t rows = 0;
    for (int32_t s = 0; s < count; ++s) rows += first + s - 1;
    if (!driver::fast_stage_shares(problem, phase, first, count, result.pi.data(), shares.data() + (first - 1),
                                   driver::chosen_vector_width(rows), stream)) {
      return false;
    }
  }
  if (driver::phase_draws(problem)) numlib::commit_uniforms(stream);
  result.seed_after = numlib::random_state().seed;
  const float sweeps = static_cast<float>(problem.niter);
  result.product = 1.0f;
  for (const float share : shares) {
    result.hits.push_back(share * sweeps);
    result.product = share * result.product;
  }
  return true;
}

void check_samplers(const driver::Problem& problem, driver::Workspace& workspace, Run& run, float& c, float& f) {
  using driver::Phase;
  using driver::SamplerChoice;
  const int32_t stages = problem.restrictions();
  const numlib::RandomState start = numlib::random_state();
  const PhaseResult literal_c = whole_phase(problem, Phase::Complexity, SamplerChoice::Literal, driver::kNoByteLimit);
  const PhaseResult literal_f = whole_phase(problem, Phase::Fit, SamplerChoice::Literal, driver::kNoByteLimit);
  const std::string literal_console = fuzzing::take_console();

  numlib::random_state() = start;
  PhaseResult regrouped;
  if (regrouped_phase(problem, Phase::Complexity, run.group_size, regrouped)) {
    if (!same_phase(regrouped, literal_c, stages)) run.sampler_mismatch = true;
    if (regrouped_phase(problem, Phase::Fit, run.group_size, regrouped) && !same_phase(regrouped, literal_f, stages)) {
      run.sampler_mismatch = true;
    }
  }

  // Last, the program's own path on the workspace, which leaves the generator where the
  // run goes on: both phases through run_phases, on one thread or (as byte 3 chooses)
  // two, which the program only takes for larger problems.
  numlib::random_state() = start;
  const bool side_by_side =
      run.two_threads || driver::plan_schedule(problem, concurrency::second_cpu_free()).phases_side_by_side;
  concurrency::Executor executor(side_by_side ? 2 : 1);
  const driver::PhaseResults program =
      driver::run_phases(problem, workspace.pi.data(), workspace.chit.data(), workspace.fhit.data(), executor,
                         side_by_side, workspace.group_byte_limit);
  const PhaseResult program_c{{workspace.chit.data(), workspace.chit.data() + stages}, {}, program.complexity, 0};
  const PhaseResult program_f{{workspace.fhit.data(), workspace.fhit.data() + stages},
                              {workspace.pi.data(), workspace.pi.data() + problem.items()},
                              program.fit,
                              numlib::random_state().seed};
  const PhaseResult literal_c_hits{literal_c.hits, {}, literal_c.product, 0};
  if (!same_phase(program_c, literal_c_hits, stages) || !same_phase(program_f, literal_f, stages) ||
      fuzzing::take_console() != literal_console) {
    run.sampler_mismatch = true;
  }
  c = program.complexity;
  f = program.fit;
}

void run_body(void* context) {
  Run& run = *static_cast<Run*>(context);
  textio::open_unit(textio::kInputFile, fuzzing::input_path(), textio::OpenFor::Reading);
  textio::open_unit(textio::kOutputFile, fuzzing::output_path());
  driver::Problem problem;
  driver::Workspace workspace;
  driver::read_problem(problem, workspace);

  float c = 0.0f, f = 0.0f;
  check_samplers(problem, workspace, run, c, f);
  if (!run.whole) return;

  driver::BayesFactors factors{};
  driver::replicate_factors(problem, workspace, c, f, factors);
  driver::write_report(c, f, factors);
  problem = driver::Problem{};
  workspace = driver::Workspace{};
  textio::end_run(0);
}

bool is_report(const std::string& text) {
  static constexpr size_t kLengths[15] = {0, 12, 1, 0, 12, 1, 0, 17, 0, 37, 1, 0, 17, 0, 37};
  size_t start = 0;
  for (size_t line = 0; line < 15; ++line) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) return false;
    if (kLengths[line] != 0 && end - start != kLengths[line]) return false;
    start = end + 2;
  }
  return start == text.size();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::set_up_process();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return -1;
  const int32_t nitem = choose(kItemChoices, data[0]);
  const int32_t nrestr = choose_restrictions(data[1]);
  const int32_t niter = choose(kSweepChoices, data[2]);
  // Counts whose storage a machine with much memory would obtain (nitem = 2^31 - 1 with
  // at most one restriction needs 26 to 34 GB) are set aside: the fuzzer counts any
  // allocation beyond its memory limit as a finding. Out of reach, they stay in.
  if (driver::storage_bytes(nitem, nrestr) > kMostStorageBytes) return -1;
  const uint8_t form = data[3];
  Run run;
  run.whole = (form & 2) != 0 && nrestr <= kWholeRunRestrictions;
  run.group_size = 1 + ((form >> 2) & 7);
  run.two_threads = (form & 32) != 0;
  std::string input = "fuzzed run\n" + std::to_string(nitem) + " " + std::to_string(nrestr) + " " +
                      std::to_string(niter) + "\n";
  if ((form & 1) != 0) {
    input += chosen_values(nitem, nrestr, data + 4, size - 4);
  } else {
    input.append(reinterpret_cast<const char*>(data) + 4, size - 4);
  }
  fuzzing::prepare_input(input);

  const fuzzing::Ending ending = fuzzing::run_guarded(run_body, &run);
  const std::string output = fuzzing::take_output();
  const std::string console = fuzzing::take_console();
  if (run.whole) {
    fuzzing::require(ending.ended, "a whole run ends through the text layer");
    fuzzing::require(ending.status == 0 || ending.status == 1 || ending.status == -1, "exit status 0, 1 or -1");
    fuzzing::require(ending.status != 1 || niter < 0, "only a negative niter stops the beta generator");
  } else {
    fuzzing::require(!ending.ended || ending.status == -1, "reading ends only with the fatal report");
  }
  if (ending.ended && ending.status == 0) {
    fuzzing::require(is_report(output), "a completed run leaves the 15 report records");
    fuzzing::require(console == " Analysis Completed\r\n", "a completed run ends its console with Analysis Completed");
  } else {
    fuzzing::require(output.empty(), "a run that does not complete leaves output.txt empty");
  }
  fuzzing::require(!run.sampler_mismatch, "the fast sampler gives the literal sampler's bits");
  return 0;
}
