// The command line with arguments: `propbf evaluate PROBLEM... [--list FILE] [--json FILE]
// [--jsonl FILE] [--niter N] [--seed S] [--precision R] [--max-niter M] [--threads N]`,
// `propbf --help`, `propbf --version`.
#pragma once

namespace propbf::evaluate {

// Runs the command line and returns the exit status: 0 on success (and for --help and
// --version), 2 for a usage error, a mistake in the problem or memory running out
// (message on standard error, nothing written), 1 when the JSON file or the table cannot be written (standard
// output closed or refusing it). With several problems (more than one PROBLEM, a folder,
// --list or --jsonl) see run_batch. Closed descriptors 0-2 are first connected to
// /dev/null, and SIGXFSZ is ignored so that a file-size limit is a reported write error.
int run_command_line(int argc, char** argv);

}  // namespace propbf::evaluate
