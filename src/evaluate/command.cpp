// The only file that includes CLI11.
#include "evaluate/command.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>

#include "evaluate/batch.hpp"
#include "evaluate/evaluation.hpp"
#include "evaluate/problem.hpp"
#include "evaluate/report.hpp"

#ifndef PROPBF_VERSION
#define PROPBF_VERSION "unknown"
#endif

namespace propbf::evaluate {
namespace {

// The most threads --threads may ask: far beyond the processors of any machine this
// runs on; more would only exhaust the thread and memory limits.
constexpr int kMaxThreads = 1024;

struct WriteError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Writes `bytes` to a temporary file beside `path`, then renames it over `path`: the
// file appears whole or not at all.
void write_whole_file(const std::string& path, const std::string& bytes) {
  std::string temporary = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) throw WriteError(path + ": cannot create a temporary file beside it: " + std::strerror(errno));
  int failure = write_all(fd, bytes);
  if (failure == 0 && ::fchmod(fd, 0644) != 0) failure = errno;
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    ::unlink(temporary.c_str());
    throw WriteError(path + ": cannot write: " + std::strerror(failure));
  }
}

// Whether `a` and `b` name one existing file (a link to it included).
bool same_file(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

}  // namespace

int run_command_line(int argc, char** argv) {
  CLI::App app{"propbf: Bayes factors for informative hypotheses about proportions.\n"
               "Without arguments, runs input.txt in the working directory and writes output.txt.",
               "propbf"};
  app.set_version_flag("--version", std::string("propbf ") + PROPBF_VERSION);
  CLI::App* evaluate = app.add_subcommand("evaluate", "Evaluate the hypotheses of a problem file (TOML)");
  BatchInputs inputs;
  std::string json_file;
  std::string jsonl_file;
  EvaluateOptions options;
  options.threads = default_thread_count();
  SettingOverrides& overrides = options.overrides;
  evaluate->add_option("PROBLEM", inputs.arguments,
                       "problem files ([items], [hypotheses], optional [sampling]) or folders of them (their *.toml "
                       "files); more than one problem writes JSON lines");
  evaluate->add_option("--list", inputs.list_file, "also evaluate the problems named in FILE, one path a line ('-': "
                                                   "standard input); writes JSON lines")
      ->type_name("FILE");
  evaluate->add_option("--json", json_file, "also write the results as JSON to FILE (one problem)")->type_name("FILE");
  evaluate->add_option("--jsonl", jsonl_file, "write the JSON lines, one record per problem, to FILE instead of "
                                              "standard output")
      ->type_name("FILE");
  evaluate->add_option("--niter", overrides.niter, "sweeps per stage (overrides [sampling] niter)")
      ->type_name("N")
      ->check(CLI::Range(std::int64_t{1}, std::numeric_limits<std::int64_t>::max()));
  evaluate->add_option("--seed", overrides.seed, "seed of the random streams (overrides [sampling] seed)")
      ->type_name("S")
      ->check(CLI::Range(std::int64_t{0}, std::numeric_limits<std::int64_t>::max()));
  evaluate->add_option("--precision", overrides.precision,
                       "double each hypothesis's sweeps per stage, from niter, until both its corrected intervals "
                       "have a half-width of at most R times the factor (overrides [sampling] precision)")
      ->type_name("R")
      ->check(CLI::Validator(
          [](std::string& text) {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            const bool number = end != text.c_str() && *end == '\0';
            return number && value > 0.0 && value < 1.0 ? std::string()
                                                         : "must be a number between 0 and 1 (both excluded)";
          },
          "0 < R < 1"));
  evaluate->add_option("--max-niter", overrides.max_niter,
                       "with a precision, at most M sweeps per stage (default 4194304, or niter if larger; overrides "
                       "[sampling] max_niter)")
      ->type_name("M")
      ->check(CLI::Range(std::int64_t{1}, std::numeric_limits<std::int64_t>::max()));
  evaluate->add_option("--threads", options.threads, "threads to run on (default: one per processor; at most 1024); the "
                                             "results do not depend on it")
      ->type_name("N")
      ->check(CLI::Range(1, kMaxThreads));
  try {
    app.parse(argc, argv);
    if (!evaluate->parsed()) throw CLI::RequiredError("a command (evaluate)");
    if (inputs.arguments.empty() && inputs.list_file.empty()) throw CLI::RequiredError("PROBLEM (or --list)");
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(error);
    std::cerr << "propbf: " << error.what() << "\n\n" << app.help("", CLI::AppFormatMode::Normal);
    return 2;
  }
  const bool batch = inputs.arguments.size() != 1 || !inputs.list_file.empty() || !jsonl_file.empty() ||
                     std::filesystem::is_directory(inputs.arguments[0]);
  if (batch) {
    if (!json_file.empty()) {
      std::cerr << "propbf: --json writes the document of one problem; with several use the JSON lines (--jsonl FILE "
                   "or standard output)\n";
      return 2;
    }
    std::vector<std::string> paths;
    try {
      paths = gather_problem_paths(inputs);
    } catch (const InputError& error) {
      std::cerr << error.what() << "\n";
      return 2;
    }
    if (!jsonl_file.empty()) {
      for (const std::string& path : paths) {
        if (same_file(jsonl_file, path)) {
          std::cerr << "propbf: --jsonl " << jsonl_file << " is the problem file " << path << "; choose another file\n";
          return 2;
        }
      }
      if (same_file(jsonl_file, inputs.list_file)) {
        std::cerr << "propbf: --jsonl " << jsonl_file << " is the list of problems; choose another file\n";
        return 2;
      }
    }
    return run_batch(paths, options, jsonl_file, PROPBF_VERSION);
  }
  const std::string& problem_file = inputs.arguments[0];
  if (!json_file.empty() && same_file(json_file, problem_file)) {
    std::cerr << "propbf: --json " << json_file << " is the problem file itself; choose another file\n";
    return 2;
  }
  try {
    const Evaluation evaluation = evaluate_file(problem_file, options);
    const std::string table = format_table(evaluation);
    if (!json_file.empty()) write_whole_file(json_file, format_json(evaluation, PROPBF_VERSION));
    std::cout << table << std::flush;
    return std::cout ? 0 : 1;
  } catch (const InputError& error) {
    std::cerr << error.what() << "\n";
    return 2;
  } catch (const WriteError& error) {
    std::cerr << "propbf: " << error.what() << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    std::cerr << out_of_memory_message(problem_file) << "\n";
    return 1;
  }
}

}  // namespace propbf::evaluate
