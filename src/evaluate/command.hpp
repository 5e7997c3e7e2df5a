// The command line with arguments: `propbf evaluate PROBLEM.toml [--json FILE]
// [--niter N] [--seed S] [--precision R] [--max-niter M] [--threads N]`, `propbf --help`,
// `propbf --version`.
#pragma once

namespace propbf::evaluate {

// Runs the command line and returns the exit status: 0 on success (and for --help and
// --version), 2 for a usage error or a mistake in the problem (message on standard
// error, nothing written), 1 when the JSON file cannot be written.
int run_command_line(int argc, char** argv);

}  // namespace propbf::evaluate
