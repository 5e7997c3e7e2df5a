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

  // The complexity and the fit, on two threads where a second CPU is free.
  const PhaseResults phases = run_phases(problem, workspace.pi.data(), workspace.chit.data(), workspace.fhit.data(),
                                         phase_threads(problem), workspace.group_byte_limit);
  const float c = phases.complexity;
  const float f = phases.fit;

  BayesFactors factors{};
  replicate_factors(problem, workspace, c, f, factors);
  write_report(c, f, factors);

  // Release the storage before the files are closed and the process ends.
  problem = Problem{};
  workspace = Workspace{};
  textio::end_run(0);
}

}  // namespace propbf::driver
