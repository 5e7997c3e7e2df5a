// The whole analysis run, start to end.
#pragma once

namespace propbf::driver {

// Opens input.txt and output.txt in the working directory, reads the problem, runs the
// complexity and fit evaluations and the replications, writes the report and ends the
// process with status 0. Failures end the process from inside (status -1 for the text
// layer's fatal report, 1 after a library error).
[[noreturn]] void run_analysis();

}  // namespace propbf::driver
