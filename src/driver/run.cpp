#include "driver/run.hpp"

#include "driver/problem.hpp"
#include "driver/report.hpp"
#include "driver/sampler.hpp"
#include "textio/textio.hpp"

namespace propbf::driver {

void run_analysis() {
  textio::open_unit(textio::kInputFile, "input.txt", textio::OpenFor::Reading);
  textio::open_unit(textio::kOutputFile, "output.txt");

  Problem problem;
  Workspace workspace;
  read_problem(problem, workspace);

  const int64_t limit = workspace.group_byte_limit;
  const float c = run_phase(problem, Phase::Complexity, workspace.pi.data(), workspace.chit.data(), SamplerChoice::Fast, limit);
  const float f = run_phase(problem, Phase::Fit, workspace.pi.data(), workspace.fhit.data(), SamplerChoice::Fast, limit);

  BayesFactors factors{};
  replicate_factors(problem, workspace, c, f, factors);
  write_report(c, f, factors);

  // Release the storage before the files are closed and the process ends.
  problem = Problem{};
  workspace = Workspace{};
  textio::end_run(0);
}

}  // namespace propbf::driver
