// Fuzz target: a whole run, from opening the files to the report, with hostile numbers
// everywhere. The first three bytes choose the counts from small and extreme values
// (niter at most 20, T at most 3, so one input runs in milliseconds); the rest of the
// data is the file from the restriction heading on.
//
// Properties checked for every input:
//   - the run ends through the text layer: status 0, 1 (a negative niter rejected by the
//     beta generator) or -1 (the fatal report);
//   - a completed run leaves exactly the 15 report records in output.txt, a run that
//     ends early leaves it empty;
//   - the program's fast sampler gives the same bits as the literal one and leaves the
//     generator at the same place.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "driver/problem.hpp"
#include "driver/report.hpp"
#include "driver/sampler.hpp"
#include "harness.hpp"
#include "random/random.hpp"
#include "textio/textio.hpp"

namespace {

using namespace propbf;

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kItemChoices[] = {0, 1, 2, 3, 4, 5, 6, 8, 12, -1, -7, kMin, kMax};
constexpr int32_t kRestrictionChoices[] = {0, 1, 2, 3, -1, kMin, kMax};
constexpr int32_t kSweepChoices[] = {0, 1, 2, 3, 5, 7, 10, 20, -1, -3, kMin};

template <size_t N>
int32_t choose(const int32_t (&choices)[N], uint8_t byte) {
  return choices[byte % N];
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Run {
  int32_t niter = 0;
  bool sampler_mismatch = false;
};

void whole_run(void* context) {
  Run& run = *static_cast<Run*>(context);
  textio::open_unit(textio::kInputFile, "input.txt");
  textio::open_unit(textio::kOutputFile, "output.txt");
  driver::Problem problem;
  driver::Workspace workspace;
  driver::read_problem(problem, workspace);

  // The literal sampler first, from the same generator state, on its own arrays.
  const numlib::RandomState start = numlib::random_state();
  const int32_t stages = problem.restrictions();
  std::vector<float> pi(static_cast<size_t>(problem.items()) + 1), chit(static_cast<size_t>(stages) + 1),
      fhit(static_cast<size_t>(stages) + 1);
  const float c_literal =
      driver::run_phase(problem, driver::Phase::Complexity, pi.data(), chit.data(), driver::SamplerChoice::Literal);
  const float f_literal =
      driver::run_phase(problem, driver::Phase::Fit, pi.data(), fhit.data(), driver::SamplerChoice::Literal);
  const int32_t seed_after_literal = numlib::random_state().seed;
  numlib::random_state() = start;

  const float c = driver::run_phase(problem, driver::Phase::Complexity, workspace.pi.data(), workspace.chit.data());
  const float f = driver::run_phase(problem, driver::Phase::Fit, workspace.pi.data(), workspace.fhit.data());
  run.sampler_mismatch = !same_bits(c, c_literal) || !same_bits(f, f_literal) ||
                         numlib::random_state().seed != seed_after_literal;
  for (int32_t t = 0; t < stages; ++t) {
    if (!same_bits(workspace.chit[t], chit[static_cast<size_t>(t)]) ||
        !same_bits(workspace.fhit[t], fhit[static_cast<size_t>(t)])) {
      run.sampler_mismatch = true;
    }
  }

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
  if (size < 3) return -1;
  Run run;
  const int32_t nitem = choose(kItemChoices, data[0]);
  const int32_t nrestr = choose(kRestrictionChoices, data[1]);
  run.niter = choose(kSweepChoices, data[2]);
  std::string input = "fuzzed run\n" + std::to_string(nitem) + " " + std::to_string(nrestr) + " " +
                      std::to_string(run.niter) + "\n";
  input.append(reinterpret_cast<const char*>(data) + 3, size - 3);
  fuzzing::prepare_files(input);

  const fuzzing::Ending ending = fuzzing::run_guarded(whole_run, &run);
  fuzzing::require(ending.ended, "every run ends through the text layer");
  fuzzing::require(ending.status == 0 || ending.status == 1 || ending.status == -1, "exit status 0, 1 or -1");
  fuzzing::require(ending.status != 1 || run.niter < 0, "only a negative niter stops the beta generator");
  const std::string output = fuzzing::read_output();
  if (ending.status == 0) {
    fuzzing::require(is_report(output), "a completed run leaves the 15 report records");
  } else {
    fuzzing::require(output.empty(), "a run that ends early leaves output.txt empty");
  }
  fuzzing::require(!run.sampler_mismatch, "the fast sampler gives the literal sampler's bits");
  return 0;
}
