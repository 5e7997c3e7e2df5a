#include "driver/run.hpp"

#include <memory>

#include "concurrency/executor.hpp"
#include "driver/replications.hpp"
#include "driver/report.hpp"
#include "driver/sampler.hpp"
#include "textio/textio.hpp"

namespace propbf::driver {

Schedule plan_schedule(const Problem& problem, bool second_cpu_free) {
  Schedule schedule;
  if (!second_cpu_free || !phase_draws(problem)) return schedule;
  schedule.phases_side_by_side = phase_deviates(problem) * problem.restrictions() >= kTwoThreadWork;
  schedule.split_replications = problem.niter >= 2 && problem.restrictions() <= kArrangedStageLimit;
  schedule.logs_ahead = schedule.split_replications;
  schedule.helper = schedule.phases_side_by_side || schedule.split_replications;
  return schedule;
}

void run_analysis() {
  textio::open_unit(textio::kInputFile, "input.txt", textio::OpenFor::Reading);
  textio::open_unit(textio::kOutputFile, "output.txt");

  Problem problem;
  Workspace workspace;
  read_problem(problem, workspace);

  PhaseResults phases{};
  BayesFactors factors{};
  {
    // The run's threads: the calling one, and a helper where the schedule has one. The
    // helper runs the fit beside the complexity, makes the replications' attempts'
    // logarithms while it would otherwise wait, and takes its part of their draws.
    const Schedule schedule = plan_schedule(problem, concurrency::second_cpu_free());
    concurrency::Executor executor(schedule.helper ? 2 : 1);
    const std::unique_ptr<numlib::AttemptLogsAhead> ahead =
        schedule.logs_ahead ? replication_logs_ahead(problem) : nullptr;
    concurrency::IdleWork make_logs;
    if (ahead) make_logs = [&](const std::function<bool()>& stop) { ahead->make_until(stop); };
    phases = run_phases(problem, workspace.pi.data(), workspace.chit.data(), workspace.fhit.data(), executor,
                        schedule.phases_side_by_side, workspace.group_byte_limit, make_logs);
    replicate_factors(problem, workspace, phases.complexity, phases.fit, factors, ahead.get(),
                      schedule.split_replications ? &executor : nullptr);
  }
  write_report(phases.complexity, phases.fit, factors);

  // Release the storage before the files are closed and the process ends.
  problem = Problem{};
  workspace = Workspace{};
  textio::end_run(0);
}

}  // namespace propbf::driver
