// `propbf evaluate` over many problem files: the paths gathered from arguments, folders
// and a list, one JSON lines record per problem written as it finishes, a progress bar
// on a terminal. Also the work for one problem, which a single run shares.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/evaluation.hpp"
#include "report/report.hpp"
#include "problem/problem.hpp"

namespace propbf::evaluate {

// What the command line sets for every problem it evaluates.
struct EvaluateOptions {
  SettingOverrides overrides;
  int threads = 0;  // below 1: one per processor
  bool progress_line = false;  // a single run's progress on a terminal (see evaluate_problem)
  // Complexities to reuse and to keep (evaluate_problem); null: none. A batch without
  // one keeps its own, so that problems of the same hypothesis and prior share theirs.
  ComplexityCache* cache = nullptr;
  JsonOptions json;  // what the JSON leaves out
};

// Reads the problem file, prepares it with the overrides (prepare_problem: the one way
// every front door takes), shows its warnings on standard error and evaluates it. Throws
// InputError for a mistake in the problem (a file that cannot be opened, with the
// system's reason) and std::bad_alloc when memory runs out.
Evaluation evaluate_file(const std::string& path, const EvaluateOptions& options);

// A problem given on the command line instead of a problem file: the items of a CSV file
// (csv_data.hpp), one Beta(prior_a, prior_b) prior for every item, and hypotheses written
// "NAME: TEXT" (the name is what stands before the first ':', blanks dropped).
struct DataInputs {
  std::string csv_file;
  std::vector<std::string> hypotheses;
  double prior_a = 1.0;
  double prior_b = 1.0;
};

// Reads the CSV file, builds the problem, prepares it as evaluate_file does and
// evaluates it. Throws InputError for a hypothesis without a name (no ':' or nothing
// before it), what prepare_problem refuses (a name given twice among them) and every
// mistake of the CSV file (with its place); std::bad_alloc when memory runs out.
Evaluation evaluate_data(const DataInputs& inputs, const EvaluateOptions& options);

// Writes all of `bytes` to `fd`, retrying short writes; returns 0 or the errno.
int write_all(int fd, const std::string& bytes);

struct BatchInputs {
  std::vector<std::string> arguments;  // problem files and folders (a folder: its *.toml files)
  std::string list_file;               // one path per line, "-" for standard input; empty: none
};

// A problem of a batch: its path and, for an entry of a folder that is not a regular
// file (a FIFO, a socket, a device, a dangling link), why it is refused without being
// opened (reading a FIFO would wait for a writer for ever).
struct ProblemPath {
  std::string path;
  std::string refusal;  // empty: evaluate it
};

// The problem paths in input order: each argument (a folder replaced by its *.toml files,
// not starting with '.', sorted bytewise, not recursing), then each line of the list
// (expanded the same way; empty lines skipped, a final '\r' dropped). A path that is
// neither folder nor readable file stays, to fail as a problem. Throws InputError when
// the list or a folder cannot be read, or a folder holds no *.toml file.
std::vector<ProblemPath> gather_problem_paths(const BatchInputs& inputs);

// Evaluates `paths` in order and writes one record per problem (format_json_record or
// format_json_error_record) to `jsonl_file`, or to standard output when it is empty,
// each record whole or not at all as soon as its problem is done (a write cut short is
// taken back in a regular file). A failing problem's message also goes to standard
// error and the batch goes on. Problems share their complexities through options.cache,
// or a cache of the batch's own when it is null. Returns the exit status: 0 when every problem succeeded,
// 2 when any failed, 1 when the records could not be written (the batch stops there).
int run_batch(const std::vector<ProblemPath>& paths, const EvaluateOptions& options, const std::string& jsonl_file,
              const std::string& version);

}  // namespace propbf::evaluate
