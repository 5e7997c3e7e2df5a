#include "driver/run.hpp"

#include <memory>
#include <optional>

#include "driver/problem.hpp"
#include "driver/replications.hpp"
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

  PhaseResults phases{};
  BayesFactors factors{};
  {
    // A second thread where a second CPU is free: it runs the fit beside the complexity
    // (for phases worth a thread), makes the replications' attempts' logarithms while it
    // would otherwise wait, and takes its part of the replications' draws.
    std::optional<numlib::HelperThread> helper;
    if (second_thread_allowed()) helper.emplace();
    numlib::JobHandoff* jobs = helper ? &helper->jobs() : nullptr;
    const std::unique_ptr<numlib::AttemptLogsAhead> ahead = replication_logs_ahead(problem);
    phases = run_phases(problem, workspace.pi.data(), workspace.chit.data(), workspace.fhit.data(),
                        phase_threads(problem), workspace.group_byte_limit, ahead.get(), jobs);
    replicate_factors(problem, workspace, phases.complexity, phases.fit, factors, ahead.get(), jobs);
  }
  write_report(phases.complexity, phases.fit, factors);

  // Release the storage before the files are closed and the process ends.
  problem = Problem{};
  workspace = Workspace{};
  textio::end_run(0);
}

}  // namespace propbf::driver
