// The only file that includes CLI11.
#include "command/command.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "command/batch.hpp"
#include "command/complexity_file.hpp"
#include "command/files.hpp"
#include "command/plan_command.hpp"
#include "engine/evaluation.hpp"
#include "engine/threads.hpp"
#include "problem/problem.hpp"
#include "report/report.hpp"

#ifndef PROPBF_VERSION
#define PROPBF_VERSION "unknown"
#endif

namespace propbf::evaluate {
namespace {

// kMaxNiter as messages name it.
constexpr const char* kMaxNiterText = "1099511627776 (2^40)";
static_assert(kMaxNiter == std::int64_t{1} << 40);

// Connects each closed one of descriptors 0, 1 and 2 to /dev/null, as the program
// without arguments does: a closed one would be the next descriptor open(2) hands out,
// and messages or the table would land in the --jsonl or --json file. Returns whether
// standard output was closed (nothing written there can reach anyone). Without
// /dev/null no file may be opened safely: the run ends with status 1.
bool connect_closed_standard_descriptors() {
  bool output_closed = false;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) output_closed = true;
    int opened;
    do {
      opened = ::open("/dev/null", O_RDWR);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) {
      const std::string message = std::string("propbf: /dev/null: cannot open: ") + std::strerror(errno) +
                                  " (needed in place of a closed standard descriptor)\n";
      if (fd > STDERR_FILENO || ::fcntl(STDERR_FILENO, F_GETFD) != -1) (void)write_all(STDERR_FILENO, message);
      std::exit(1);
    }
    if (opened != fd) {  // not expected, as every lower descriptor is open
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
  return output_closed;
}

// A check for an integer option: decimal digits only (so "1e3" and "2.0" are refused as
// not integers, not as out of range; leading zeros do not make it octal), from `low` to
// `high`, never clamped. `high_text` names the upper end in messages (e.g. with its power
// of two); empty: its digits.
CLI::Validator integer_in(std::int64_t low, std::int64_t high, const std::string& high_text = {}) {
  const std::string range =
      "an integer from " + std::to_string(low) + " to " + (high_text.empty() ? std::to_string(high) : high_text);
  return CLI::Validator(
      [low, high, range](std::string& text) -> std::string {
        std::int64_t value = 0;
        const char* end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data(), end, value);
        if (text.empty() || stop != end || error == std::errc::invalid_argument) {
          return "'" + text + "' is not an integer; give " + range;
        }
        if (error == std::errc::result_out_of_range || value < low || value > high) {
          return text + " is out of range; give " + range;
        }
        text = std::to_string(value);  // as CLI11 then reads it: "010" is ten, not octal eight
        return {};
      },
      "INT");
}

// Whether `a` and `b` name one existing file (a link to it included).
bool same_file(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

int run_evaluate(int argc, char** argv) {
  const bool output_closed = connect_closed_standard_descriptors();
  // A write beyond the file-size limit (ulimit -f) must fail with EFBIG and be reported,
  // not end the process halfway through a file.
  std::signal(SIGXFSZ, SIG_IGN);
  CLI::App app{"propbf: Bayes factors for informative hypotheses about proportions.\n"
               "Without arguments, runs input.txt in the working directory and writes output.txt.",
               "propbf"};
  app.set_version_flag("--version", std::string("propbf ") + PROPBF_VERSION);
  CLI::App* evaluate = app.add_subcommand("evaluate", "Evaluate the hypotheses of a problem file (TOML), or of a CSV file with --data");
  BatchInputs inputs;
  std::string json_file;
  std::string jsonl_file;
  std::string samples_file;
  EvaluateOptions options;
  bool no_estimates = false;
  bool no_polytope_rows = false;
  SettingOverrides& overrides = options.overrides;
  evaluate->add_option("PROBLEM", inputs.arguments,
                       "problem files ([items], [hypotheses], optional [sampling]) or folders of them (their *.toml "
                       "files); more than one problem writes JSON lines");
  DataInputs data;
  std::optional<double> prior_a;
  std::optional<double> prior_b;
  evaluate->add_option("--data", data.csv_file,
                       "evaluate the items of a CSV file (header name,successes,trials or name,outcome) instead of a "
                       "problem file, with the hypotheses given by --hypothesis")
      ->type_name("FILE.csv");
  evaluate->add_option("--hypothesis", data.hypotheses, "with --data: a hypothesis, \"NAME: TEXT\" (repeat for more)")
      ->type_name("\"NAME: TEXT\"")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  const auto shape = CLI::Validator(
      [](std::string& text) {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        const bool number = end != text.c_str() && *end == '\0';
        return number && value >= kMinShape && value <= kMaxShape
                   ? std::string()
                   : "must be a number from 0.001 to 1e10, a beta prior's shape";
      },
      "0.001 to 1e10");
  evaluate->add_option("--prior-a", prior_a, "with --data: every item's prior is Beta(A, B) (default 1)")
      ->type_name("A")
      ->check(shape);
  evaluate->add_option("--prior-b", prior_b, "with --data: the prior's second shape (default 1)")->type_name("B")->check(shape);
  evaluate->add_option("--list", inputs.list_file, "also evaluate the problems named in FILE, one path a line ('-': "
                                                   "standard input); writes JSON lines")
      ->type_name("FILE");
  evaluate->add_option("--json", json_file, "also write the results as JSON to FILE (one problem)")->type_name("FILE");
  evaluate->add_option("--jsonl", jsonl_file, "write the JSON lines, one record per problem, to FILE instead of "
                                              "standard output")
      ->type_name("FILE");
  evaluate->add_option("--samples", samples_file,
                       "also write draws of every hypothesis's restricted posterior to FILE as CSV (one problem; a "
                       "column naming the hypothesis, one per proportion or category)")
      ->type_name("FILE");
  evaluate->add_option("--thin", overrides.thin,
                       "with --samples: keep every K-th sweep after the burn-in (default: at most 10000 rows per "
                       "hypothesis)")
      ->type_name("K")
      ->transform(integer_in(1, kMaxNiter, kMaxNiterText));
  evaluate->add_option("--niter", overrides.niter, "sweeps per stage (overrides [sampling] niter)")
      ->type_name("N")
      ->transform(integer_in(1, kMaxNiter, kMaxNiterText));
  evaluate->add_option("--seed", overrides.seed, "seed of the random streams, 0 to 2^63 - 1 (overrides [sampling] seed)")
      ->type_name("S")
      ->transform(integer_in(0, std::numeric_limits<std::int64_t>::max()));
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
      ->transform(integer_in(1, kMaxNiter, kMaxNiterText));
  evaluate->add_option("--complexity-niter", overrides.complexity_niter,
                       "sweeps per stage of the complexity chains, run once (also in precision mode; overrides "
                       "[sampling] complexity_niter; default: niter)")
      ->type_name("N")
      ->transform(integer_in(1, kMaxNiter, kMaxNiterText));
  std::string save_complexity;
  std::string load_complexity;
  evaluate->add_option("--save-complexity", save_complexity,
                       "write the complexities computed or reused to FILE (JSON), for --load-complexity")
      ->type_name("FILE");
  evaluate->add_option("--load-complexity", load_complexity,
                       "reuse the complexities of FILE (written by --save-complexity) instead of computing them; "
                       "refused unless they are of the same hypothesis, prior and settings")
      ->type_name("FILE");
  evaluate->add_option("--threads", options.threads,
                       "threads to run on (default: one per processor; fewer when the processors or the address-space "
                       "limit allow fewer); the results do not depend on it")
      ->type_name("N")
      ->transform(integer_in(1, kMaxThreads));
  std::string tied_prior;
  evaluate->add_option("--tied-prior", tied_prior,
                       "the prior of items tied by equalities: conditional (their priors conditioned on the equality, "
                       "the default) or common (the prior they share); overrides [items] tied_prior")
      ->type_name("conditional|common")
      ->check(CLI::Validator(
          [](std::string& text) {
            return tied_prior_named(text) ? std::string() : "must be conditional or common";
          },
          "conditional or common"));
  evaluate->add_flag("--no-estimates", no_estimates,
                     "leave the estimates of the proportions out of the table (the JSON always has them)");
  evaluate->add_flag("--no-polytope-rows", no_polytope_rows,
                     "leave the rows of matrix and vertex files out of the JSON's restrictions (each such hypothesis "
                     "then gives their number as polytope_rows); the restrictions written in the language stay");
  evaluate->add_flag("--seed-per-problem", overrides.stream_per_problem,
                     "key each problem's random streams by its file's name as well as the seed: problems of a batch "
                     "with the same seed no longer share their Monte Carlo error");
  CLI::App* plan = app.add_subcommand("plan", "Sample sizes: how likely each hypothesis's Bayes factor passes each "
                                              "threshold at each size of a design (PLAN.toml)");
  PlanCommand plan_command;
  plan->add_option("PLAN", plan_command.plan_file,
                   "plan file: [items], [hypotheses] as for evaluate, [truth] and [design]")
      ->type_name("PLAN.toml");
  plan->add_option("--json", plan_command.json_file, "also write the summary as JSON to FILE")->type_name("FILE");
  plan->add_option("--jsonl", plan_command.jsonl_file,
                   "write a header line and one record per data set (its counts and factors) to FILE")
      ->type_name("FILE");
  std::string shard_text;
  plan->add_option("--shard", shard_text,
                   "compute part I of N of the (size, data set) grid only, written with --jsonl; `propbf plan merge` "
                   "combines the N parts into the summary a single run gives")
      ->type_name("I/N");
  plan->add_option("--threads", plan_command.threads, "threads to run on (default: one per processor); the results do "
                                                      "not depend on it")
      ->type_name("N")
      ->transform(integer_in(1, kMaxThreads));
  CLI::App* merge = plan->add_subcommand("merge", "Combine the parts of a plan (the --jsonl files of its --shard runs) "
                                                  "into its summary");
  merge->add_option("PART", plan_command.parts, "the parts' JSON lines files")->type_name("PART")->required();
  merge->add_option("--json", plan_command.json_file, "also write the summary as JSON to FILE")->type_name("FILE");
  try {
    app.parse(argc, argv);
    if (plan->parsed()) {
      plan_command.merge = merge->parsed();
      if (!plan_command.merge && plan_command.plan_file.empty()) throw CLI::RequiredError("PLAN");
      if (!shard_text.empty()) {
        const std::size_t slash = shard_text.find('/');
        std::int64_t part = 0;
        std::int64_t parts = 0;
        const char* text = shard_text.data();
        const char* end = text + shard_text.size();
        const bool read = slash != std::string::npos &&
                          std::from_chars(text, text + slash, part).ptr == text + slash &&
                          std::from_chars(text + slash + 1, end, parts).ptr == end;
        if (!read || parts < 1 || parts > kMaxPlanShards || part < 1 || part > parts) {
          std::cerr << printable_message("propbf: --shard " + shard_text + ": give I/N, a part I from 1 to N of N "
                                         "parts (N from 1 to " + std::to_string(kMaxPlanShards) + ")")
                    << "\n";
          return 2;
        }
        plan_command.shard = part;
        plan_command.shards = parts;
      }
      return run_plan_command(plan_command, output_closed, PROPBF_VERSION);
    }
    if (!evaluate->parsed()) throw CLI::RequiredError("a command (evaluate or plan)");
    // An empty name would pass for "not given" (--json, --jsonl, --list) or fail later
    // without saying why.
    const std::pair<const char*, const std::string*> named_files[] = {
        {"--json", &json_file},         {"--jsonl", &jsonl_file},
        {"--list", &inputs.list_file},  {"--data", &data.csv_file},
        {"--samples", &samples_file},   {"--save-complexity", &save_complexity},
        {"--load-complexity", &load_complexity}};
    for (const auto& [option, name] : named_files) {
      if (evaluate->count(option) > 0 && name->empty()) {
        std::cerr << "propbf: " << option << ": the file name is empty; give a file name\n";
        return 2;
      }
    }
    if (evaluate->count("--data") == 0) {
      if (!data.hypotheses.empty() || prior_a || prior_b) {
        std::cerr << "propbf: --hypothesis, --prior-a and --prior-b apply only with --data FILE.csv; a problem file "
                     "gives its hypotheses in [hypotheses] and its priors in [items]\n";
        return 2;
      }
      if (inputs.arguments.empty() && inputs.list_file.empty()) throw CLI::RequiredError("PROBLEM (or --list or --data)");
    }
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(error);
    std::cerr << printable_message(std::string("propbf: ") + error.what()) << "\n\n"
              << app.help("", CLI::AppFormatMode::Normal);
    return 2;
  }
  if (!tied_prior.empty()) overrides.tied_prior = tied_prior_named(tied_prior);
  if (overrides.thin && samples_file.empty()) {
    std::cerr << "propbf: --thin applies only with --samples FILE\n";
    return 2;
  }
  overrides.keep_samples = !samples_file.empty();
  if (evaluate->count("--data") > 0) {
    if (!inputs.arguments.empty() || !inputs.list_file.empty() || !jsonl_file.empty()) {
      std::cerr << "propbf: --data evaluates one CSV file with the hypotheses of --hypothesis; it cannot be combined "
                   "with a PROBLEM file, --list or --jsonl\n";
      return 2;
    }
    if (data.hypotheses.empty()) {
      std::cerr << "propbf: --data needs at least one --hypothesis \"NAME: TEXT\", e.g. --hypothesis \"H1: a > b\"\n";
      return 2;
    }
    if (prior_a) data.prior_a = *prior_a;
    if (prior_b) data.prior_b = *prior_b;
  }
  // The threads the run starts; a request the machine or the limits cannot hold is
  // lowered, with a line saying why (and a note in the results of a single run).
  std::vector<std::string> run_notes;
  {
    std::string reason;
    const int usable = usable_thread_count(options.threads, &reason);
    if (evaluate->count("--threads") > 0 && usable < options.threads) {
      run_notes.push_back("--threads " + std::to_string(options.threads) + " lowered to " + std::to_string(usable) +
                          ": " + reason);
      std::cerr << "propbf: " << run_notes.back() << "\n";
    }
    options.threads = usable;
  }
  // Complexities loaded before anything runs: a file that cannot be used ends the run
  // before any output is opened.
  ComplexityCache cache;
  if (!save_complexity.empty() || !load_complexity.empty()) options.cache = &cache;
  options.json.polytope_rows = !no_polytope_rows;
  if (!load_complexity.empty()) {
    try {
      read_complexity_file(load_complexity, cache);
    } catch (const InputError& error) {
      std::cerr << printable_message(error.what()) << "\n";
      return 2;
    }
  }
  // The complexities written once the run succeeded; status 1 when they cannot be.
  const auto save_complexities = [&]() -> int {
    if (save_complexity.empty()) return 0;
    try {
      write_whole_file(save_complexity, format_complexity_file(cache, PROPBF_VERSION));
    } catch (const WriteError& error) {
      std::cerr << printable_message(std::string("propbf: ") + error.what()) << "\n";
      return 1;
    }
    return 0;
  };
  std::error_code not_a_folder;  // a path that cannot even be looked at fails as a problem file
  const bool with_data = evaluate->count("--data") > 0;
  const bool batch = !with_data && (inputs.arguments.size() != 1 || !inputs.list_file.empty() || !jsonl_file.empty() ||
                                    std::filesystem::is_directory(inputs.arguments[0], not_a_folder));
  if (batch) {
    if (!json_file.empty()) {
      std::cerr << "propbf: --json writes the document of one problem; with several use the JSON lines (--jsonl FILE "
                   "or standard output)\n";
      return 2;
    }
    if (!samples_file.empty()) {
      std::cerr << "propbf: --samples writes the draws of one problem; evaluate the problems of a batch one at a time "
                   "for theirs\n";
      return 2;
    }
    if (jsonl_file.empty() && output_closed) {
      std::cerr << "propbf: standard output is closed: the records have nowhere to go (give --jsonl FILE)\n";
      return 1;
    }
    std::vector<ProblemPath> paths;
    try {
      paths = gather_problem_paths(inputs);
    } catch (const InputError& error) {
      std::cerr << printable_message(error.what()) << "\n";
      return 2;
    }
    if (paths.empty()) {
      std::cerr << "propbf: no problem to evaluate: " << (inputs.list_file == "-" ? "standard input" : "the list")
                << " names none\n";
      return 2;
    }
    if (!jsonl_file.empty()) {
      for (const ProblemPath& path : paths) {
        if (same_file(jsonl_file, path.path)) {
          std::cerr << printable_message("propbf: --jsonl " + jsonl_file + " is the problem file " + path.path +
                                         "; choose another file")
                    << "\n";
          return 2;
        }
      }
      if (same_file(jsonl_file, inputs.list_file)) {
        std::cerr << printable_message("propbf: --jsonl " + jsonl_file + " is the list of problems; choose another file")
                  << "\n";
        return 2;
      }
    }
    if (!save_complexity.empty()) {
      for (const ProblemPath& path : paths) {
        if (same_file(save_complexity, path.path)) {
          std::cerr << printable_message("propbf: --save-complexity " + save_complexity + " is the problem file " +
                                         path.path + "; choose another file")
                    << "\n";
          return 2;
        }
      }
    }
    const int status = run_batch(paths, options, jsonl_file, PROPBF_VERSION);
    if (status == 1) return status;
    const int saved = save_complexities();
    return saved != 0 ? saved : status;
  }
  const std::string& problem_file = with_data ? data.csv_file : inputs.arguments[0];
  for (const auto& [option, name] : {std::pair{"--json", &json_file}, std::pair{"--samples", &samples_file},
                                     std::pair{"--save-complexity", &save_complexity}}) {
    if (!name->empty() && same_file(*name, problem_file)) {
      std::cerr << printable_message(std::string("propbf: ") + option + " " + *name + " is the " +
                                     (with_data ? "CSV" : "problem") + " file itself; choose another file")
                << "\n";
      return 2;
    }
  }
  // Two names of one file: the same file once written, or the same path before.
  const auto where = [](const std::string& name) {
    std::error_code error;
    return std::filesystem::weakly_canonical(std::filesystem::absolute(name, error), error).lexically_normal();
  };
  if (!json_file.empty() && !samples_file.empty() &&
      (same_file(json_file, samples_file) || where(json_file) == where(samples_file))) {
    std::cerr << printable_message("propbf: --json and --samples name the same file " + samples_file +
                                   "; choose two files")
              << "\n";
    return 2;
  }
  for (const auto& [option, name] : {std::pair{"--json", &json_file}, std::pair{"--samples", &samples_file}}) {
    if (!save_complexity.empty() && !name->empty() &&
        (same_file(save_complexity, *name) || where(save_complexity) == where(*name))) {
      std::cerr << printable_message(std::string("propbf: --save-complexity and ") + option + " name the same file " +
                                     save_complexity + "; choose two files")
                << "\n";
      return 2;
    }
  }
  if (output_closed && json_file.empty()) {
    std::cerr << "propbf: standard output is closed: the table has nowhere to go (give --json FILE, or open it)\n";
    return 1;
  }
  try {
    EvaluateOptions single = options;
    single.progress_line = true;
    const Evaluation evaluation = with_data ? evaluate_data(data, single) : evaluate_file(problem_file, single);
    const std::string table = format_table(evaluation, !no_estimates, run_notes);
    if (!json_file.empty()) {
      write_whole_file(json_file, format_json(evaluation, PROPBF_VERSION, run_notes, options.json));
    }
    if (!samples_file.empty()) write_whole_file(samples_file, format_samples_csv(evaluation));
    if (const int saved = save_complexities(); saved != 0) return saved;
    if (output_closed) return 0;  // the JSON file holds the results; there is no table to show
    if (const int failure = write_all(STDOUT_FILENO, table); failure != 0) {
      std::cerr << "propbf: standard output: cannot write the table: " << std::strerror(failure) << "\n";
      return 1;
    }
    return 0;
  } catch (...) {
    return report_failure(problem_file);
  }
}

}  // namespace

int run_command_line(int argc, char** argv) {
  // Memory may run out anywhere: reading the options, gathering a batch, writing its
  // records. The message is written without allocating.
  try {
    return run_evaluate(argc, argv);
  } catch (const std::bad_alloc&) {
    static constexpr char kMessage[] = "propbf: not enough memory\n";
    if (::write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) return 2;
    return 2;
  }
}

}  // namespace propbf::evaluate
