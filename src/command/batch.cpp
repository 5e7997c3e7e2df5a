#include "command/batch.hpp"
#include "command/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>

#include "input/problem_file.hpp"
#include "problem/prepare.hpp"
#include "report/report.hpp"

namespace propbf::evaluate {
namespace {

// "H:MM:SS".
std::string format_duration(double seconds) {
  const long total = static_cast<long>(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  return text;
}

// One line on standard error, redrawn in place after each problem, when standard error
// is a terminal; nothing otherwise. Elapsed time and the estimate of what is left move
// only when a problem finishes.
class ProgressBar {
 public:
  explicit ProgressBar(std::size_t total)
      : shown_(::isatty(STDERR_FILENO) == 1), total_(total), start_(std::chrono::steady_clock::now()) {}

  void draw(std::size_t done, std::size_t failed) {
    if (!shown_) return;
    constexpr std::size_t kBarWidth = 24;
    const std::size_t filled = total_ == 0 ? kBarWidth : done * kBarWidth / total_;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string line = std::to_string(done) + "/" + std::to_string(total_) + " [" + std::string(filled, '#') +
                       std::string(kBarWidth - filled, ' ') + "] " + std::to_string(failed) + " failed, " +
                       format_duration(elapsed) + " elapsed";
    if (done > 0 && done < total_) {
      line += ", ~" + format_duration(elapsed / static_cast<double>(done) * static_cast<double>(total_ - done)) +
              " left";
    }
    put(line);
  }

  // Writes a message on a line of its own, the bar (if any) drawn again after it.
  void message(const std::string& text, std::size_t done, std::size_t failed) {
    clear();
    std::cerr << text << "\n";
    draw(done, failed);
  }

  void clear() { put(""); }

 private:
  void put(const std::string& line) {
    if (!shown_) return;
    std::string bytes = "\r" + line;
    if (line.size() < width_) bytes += std::string(width_ - line.size(), ' ') + "\r" + line;
    width_ = line.size();
    std::cerr << bytes << std::flush;
  }

  bool shown_;
  std::size_t total_;
  std::chrono::steady_clock::time_point start_;
  std::size_t width_ = 0;
};

// Why an entry of a folder is not read: reading a FIFO (or a socket, or a device) that
// merely sits in the folder could wait for ever. Empty for anything else: a regular
// file, or a dangling link, which fails as a problem file that cannot be opened.
std::string refusal_of_entry(const std::filesystem::directory_entry& entry, const std::string& path) {
  std::error_code error;
  std::string kind;
  switch (entry.status(error).type()) {
    case std::filesystem::file_type::fifo: kind = "a FIFO"; break;
    case std::filesystem::file_type::socket: kind = "a socket"; break;
    case std::filesystem::file_type::block:
    case std::filesystem::file_type::character: kind = "a device"; break;
    default: return {};
  }
  return "propbf: " + path + ": " + kind + ", not a regular file; in a folder it is not read (name it on its own "
                                        "to read it)";
}

void add_path(const std::string& argument, std::vector<ProblemPath>& paths) {
  std::error_code error;
  if (!std::filesystem::is_directory(argument, error)) {
    paths.push_back({argument, {}});
    return;
  }
  std::vector<ProblemPath> entries_found;
  const std::string prefix = argument.ends_with('/') ? argument : argument + "/";
  std::filesystem::directory_iterator entries(argument, error);
  for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    const std::string name = entries->path().filename().string();
    std::error_code kind_error;
    if (name.size() > 5 && name[0] != '.' && name.ends_with(".toml") && !entries->is_directory(kind_error)) {
      entries_found.push_back({prefix + name, refusal_of_entry(*entries, prefix + name)});
    }
  }
  if (error) throw InputError("propbf: " + argument + ": cannot read the folder: " + error.message());
  if (entries_found.empty()) throw InputError("propbf: " + argument + ": the folder holds no *.toml problem file");
  // Bytewise: char_traits<char> compares as unsigned char; every path has the same prefix.
  std::sort(entries_found.begin(), entries_found.end(),
            [](const ProblemPath& a, const ProblemPath& b) { return a.path < b.path; });
  paths.insert(paths.end(), entries_found.begin(), entries_found.end());
}

// The longest line a list may hold: far beyond any path (a device such as /dev/zero
// would otherwise fill the memory with one line).
constexpr std::size_t kMaxListLine = std::size_t{1} << 16;

// Adds the paths of the list's lines; returns 0, or when the list could not be read to
// its end the system's reason (EIO when it gave none). A line longer than kMaxListLine
// ends the batch with a message naming the list and the line.
int add_list(std::istream& in, std::vector<ProblemPath>& paths, const std::string& list_name) {
  std::string line;
  std::size_t number = 0;
  while (in) {
    line.clear();
    ++number;
    errno = 0;
    int c = in.get();
    if (c == std::char_traits<char>::eof()) break;
    for (; c != std::char_traits<char>::eof() && c != '\n'; c = in.get()) {
      if (line.size() == kMaxListLine) {
        throw InputError("propbf: " + list_name + ":" + std::to_string(number) + ": a line of the list of problems is "
                         "longer than " + std::to_string(kMaxListLine) + " bytes");
      }
      line.push_back(static_cast<char>(c));
    }
    if (line.ends_with('\r')) line.pop_back();
    if (!line.empty()) add_path(line, paths);
  }
  return in.bad() ? (errno != 0 ? errno : EIO) : 0;
}

// Shows the problem's warnings on standard error (`name`: the file it was read from) and
// evaluates it.
Evaluation evaluate_prepared(const CountsProblem& problem, const std::string& name, const EvaluateOptions& options) {
  for (const std::string& warning : problem.warnings) std::cerr << "propbf: " << name << ": warning: " << warning << "\n";
  return evaluate_problem(problem, options.threads, options.progress_line, options.cache);
}

}  // namespace

Evaluation evaluate_file(const std::string& path, const EvaluateOptions& options) {
  // Looked at and opened once here for the system's reason when it cannot be (missing,
  // no permission, a loop of links). Not a FIFO: opening it would let its writer start
  // and closing it would leave that writer without a reader.
  struct stat info {};
  int fd = 0;
  if (::stat(path.c_str(), &info) != 0) {
    fd = -1;
  } else if (!S_ISFIFO(info.st_mode)) {
    do {
      fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) ::close(fd);
  }
  if (fd < 0) throw InputError(path + ": cannot open the problem file: " + std::strerror(errno));
  return evaluate_prepared(prepare_problem(read_problem_file(path), options.overrides), path, options);
}

Evaluation evaluate_data(const DataInputs& inputs, const EvaluateOptions& options) {
  constexpr const char* kExample = "write NAME: TEXT, e.g. --hypothesis \"H1: a > b\"";
  std::vector<HypothesisText> hypotheses;
  for (std::size_t i = 0; i < inputs.hypotheses.size(); ++i) {
    const std::string& given = inputs.hypotheses[i];
    const std::string shown = "--hypothesis \"" + visible_text(given) + "\"";
    const std::size_t colon = given.find(':');
    if (colon == std::string::npos) throw InputError("propbf: " + shown + " has no name; " + kExample);
    const std::size_t first = given.find_first_not_of(" \t");
    const std::size_t last = given.find_last_not_of(" \t", colon == 0 ? 0 : colon - 1);
    if (first >= colon || last == std::string::npos || last < first) {
      throw InputError("propbf: " + shown + " has an empty name before ':'; " + kExample);
    }
    HypothesisText hypothesis;
    hypothesis.name = given.substr(first, last + 1 - first);
    const std::size_t text = given.find_first_not_of(" \t", colon + 1);
    hypothesis.text = text == std::string::npos ? std::string() : given.substr(text);
    hypothesis.origin = "propbf: --hypothesis #" + std::to_string(i + 1);
    hypotheses.push_back(std::move(hypothesis));
  }
  CountsProblem problem = problem_from_data(inputs.csv_file, inputs.prior_a, inputs.prior_b, std::move(hypotheses));
  return evaluate_prepared(prepare_problem(std::move(problem), options.overrides), inputs.csv_file, options);
}

int write_all(int fd, const std::string& bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t step = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) return errno != 0 ? errno : EIO;
    written += static_cast<std::size_t>(step);
  }
  return 0;
}

std::vector<ProblemPath> gather_problem_paths(const BatchInputs& inputs) {
  std::vector<ProblemPath> paths;
  for (const std::string& argument : inputs.arguments) add_path(argument, paths);
  if (inputs.list_file == "-") {
    if (const int reason = add_list(std::cin, paths, "standard input"); reason != 0) {
      throw InputError(std::string("propbf: cannot read the list from standard input: ") + std::strerror(reason));
    }
  } else if (!inputs.list_file.empty()) {
    std::ifstream list(inputs.list_file);
    if (!list) {
      throw InputError("propbf: " + inputs.list_file + ": cannot open the list of problems: " + std::strerror(errno));
    }
    if (const int reason = add_list(list, paths, inputs.list_file); reason != 0) {
      throw InputError("propbf: " + inputs.list_file + ": cannot read the list of problems: " + std::strerror(reason));
    }
  }
  return paths;
}

int run_batch(const std::vector<ProblemPath>& paths, const EvaluateOptions& options, const std::string& jsonl_file,
              const std::string& version) {
  const std::string output_name = jsonl_file.empty() ? "standard output" : jsonl_file;
  int fd = STDOUT_FILENO;
  if (!jsonl_file.empty()) {
    fd = ::open(jsonl_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::cerr << printable_message("propbf: " + jsonl_file + ": cannot write: " + std::strerror(errno)) << "\n";
      return 1;
    }
  }
  RecordOutput output(fd);
  ComplexityCache batch_cache;
  EvaluateOptions batch_options = options;
  if (batch_options.cache == nullptr) batch_options.cache = &batch_cache;
  ProgressBar progress(paths.size());
  std::size_t failed = 0;
  int write_error = 0;
  progress.draw(0, 0);
  for (std::size_t done = 0; done < paths.size() && write_error == 0; ++done) {
    const std::string& path = paths[done].path;
    std::string record;
    std::string message = paths[done].refusal;
    if (message.empty()) {
      try {
        record = format_json_record(path, evaluate_file(path, batch_options), version, options.json);
      } catch (const InputError& error) {
        message = error.what();
      } catch (const std::bad_alloc&) {
        message = out_of_memory_message(path);
      }
    }
    if (!message.empty()) {
      message = printable_message(message);
      ++failed;
      record = format_json_error_record(path, message);
      progress.message(message, done, failed);
    }
    if (fd == STDOUT_FILENO) progress.clear();  // the records may go to the same terminal
    write_error = output.write(record);
    progress.draw(done + 1, failed);
  }
  if (fd != STDOUT_FILENO && ::close(fd) != 0 && write_error == 0) write_error = errno;
  progress.clear();
  if (write_error != 0) {
    std::cerr << printable_message("propbf: " + output_name + ": cannot write: " + std::strerror(write_error) +
                                   (output.regular() ? " (the records before are kept, each whole)" : ""))
              << "\n";
    return 1;
  }
  if (failed > 0) {
    std::cerr << "propbf: " << failed << " of " << paths.size() << " problems failed\n";
    return 2;
  }
  return 0;
}

}  // namespace propbf::evaluate
