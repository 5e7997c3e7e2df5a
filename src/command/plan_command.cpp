#include "command/plan_command.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <new>

#include "command/batch.hpp"
#include "command/files.hpp"
#include "engine/threads.hpp"
#include "input/plan_file.hpp"
#include "input/problem_file.hpp"
#include "messages/messages.hpp"
#include "plan/plan_report.hpp"
#include "plan/plan_run.hpp"
#include "plan/planner.hpp"

namespace propbf::evaluate {
namespace {

// The share done and the time left on standard error, when that is a terminal: at
// most five times a second, once the run has taken a second; cleared at the end.
class PlanProgress {
 public:
  explicit PlanProgress(std::int64_t datasets)
      : datasets_(datasets), shown_(::isatty(STDERR_FILENO) == 1), start_(std::chrono::steady_clock::now()) {}
  ~PlanProgress() {
    if (drawn_) std::cerr << "\r\033[K" << std::flush;
  }
  PlanProgress(const PlanProgress&) = delete;
  PlanProgress& operator=(const PlanProgress&) = delete;

  void operator()(double done) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    if (elapsed < 1.0 || std::chrono::duration<double>(now - last_).count() < 0.2) return;
    last_ = now;
    std::cerr << "\rpropbf plan: " << plan_progress_text(done, datasets_, elapsed) << "\033[K" << std::flush;
    drawn_ = true;
  }

 private:
  std::int64_t datasets_;
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_{};
};

int write_table(const std::string& table) {
  if (const int failure = write_all(STDOUT_FILENO, table); failure != 0) {
    std::cerr << "propbf: standard output: cannot write the table: " << std::strerror(failure) << "\n";
    return 1;
  }
  return 0;
}

int finish(const PlanHeader& header, std::vector<SizeSummary>& summaries, const PlanCommand& command,
           bool output_closed) {
  const std::string table = format_plan_table(header, summaries);
  if (!command.json_file.empty()) write_whole_file(command.json_file, format_plan_json(header, summaries));
  if (output_closed) return 0;
  return write_table(table);
}

int merge(const PlanCommand& command, bool output_closed) {
  PlanMerge parts;
  for (const std::string& name : command.parts) {
    std::ifstream in(name, std::ios::binary);
    if (!in) throw InputError(name + ": cannot open the part of a plan");
    parts.add_part(name, in);
  }
  PlanHeader header;
  std::vector<SizeSummary> summaries = parts.summaries(header);
  return finish(header, summaries, command, output_closed);
}

int run(const PlanCommand& command, bool output_closed, const std::string& version) {
  const PlanFile plan = read_plan_file(command.plan_file);
  if (command.shards > 1 && command.jsonl_file.empty()) {
    throw InputError("propbf plan: --shard writes its part with --jsonl FILE; give one");
  }
  const Planner planner(plan);
  const PlanHeader header = plan_header(plan, planner, version);
  int fd = -1;
  std::optional<RecordOutput> output;
  int write_error = 0;
  if (!command.jsonl_file.empty()) {
    do {
      fd = ::open(command.jsonl_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw WriteError(command.jsonl_file + ": cannot write: " + std::strerror(errno));
    output.emplace(fd);
    write_error = output->write(format_part_header(header, command.shard, command.shards));
  }
  PlanRunOptions options;
  options.threads = usable_thread_count(command.threads);
  options.shard = command.shard;
  options.shards = command.shards;
  std::string pending;
  if (output) {
    options.on_record = [&](const DatasetRecord& record) {
      if (write_error == 0) write_error = output->write(format_part_record(record));
    };
  }
  PlanProgress progress(header.datasets * static_cast<std::int64_t>(header.sizes.size()) / command.shards);
  options.progress = [&](double done) { progress(done); };
  std::vector<SizeSummary> summaries = run_plan(planner, header, options);
  if (fd >= 0 && ::close(fd) != 0 && write_error == 0) write_error = errno;
  if (write_error != 0) throw WriteError(command.jsonl_file + ": cannot write: " + std::strerror(write_error));
  if (command.shards > 1) return 0;  // a part: its records are its result
  return finish(header, summaries, command, output_closed);
}

}  // namespace

int run_plan_command(const PlanCommand& command, bool output_closed, const std::string& version) {
  const std::string name = command.merge ? std::string("the parts") : command.plan_file;
  try {
    return command.merge ? merge(command, output_closed) : run(command, output_closed, version);
  } catch (...) {
    return report_failure(name, "the plan's datasets");
  }
}

}  // namespace propbf::evaluate
