#include "evaluate/batch.hpp"

#include <fcntl.h>
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

#include "evaluate/report.hpp"

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

void add_path(const std::string& argument, std::vector<std::string>& paths) {
  std::error_code error;
  if (!std::filesystem::is_directory(argument, error)) {
    paths.push_back(argument);
    return;
  }
  std::vector<std::string> names;
  std::filesystem::directory_iterator entries(argument, error);
  for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    const std::string name = entries->path().filename().string();
    std::error_code kind_error;
    if (name.size() > 5 && name[0] != '.' && name.ends_with(".toml") && !entries->is_directory(kind_error)) {
      names.push_back(name);
    }
  }
  if (error) throw InputError("propbf: " + argument + ": cannot read the folder: " + error.message());
  std::sort(names.begin(), names.end());  // bytewise: char_traits<char> compares as unsigned char
  const std::string prefix = argument.ends_with('/') ? argument : argument + "/";
  for (const std::string& name : names) paths.push_back(prefix + name);
}

// The longest line a list may hold: far beyond any path (a device such as /dev/zero
// would otherwise fill the memory with one line).
constexpr std::size_t kMaxListLine = std::size_t{1} << 16;

void add_list(std::istream& in, std::vector<std::string>& paths, const std::string& list_name) {
  std::string line;
  std::size_t number = 0;
  while (in) {
    line.clear();
    ++number;
    for (int c = in.get(); c != std::char_traits<char>::eof() && c != '\n'; c = in.get()) {
      if (line.size() == kMaxListLine) {
        throw InputError("propbf: " + list_name + ":" + std::to_string(number) + ": a line of the list of problems is "
                         "longer than " + std::to_string(kMaxListLine) + " bytes");
      }
      line.push_back(static_cast<char>(c));
    }
    if (line.ends_with('\r')) line.pop_back();
    if (!line.empty()) add_path(line, paths);
  }
}

}  // namespace

Evaluation evaluate_file(const std::string& path, const EvaluateOptions& options) {
  Problem problem = read_problem_file(path);
  apply_overrides(problem, options.overrides);
  for (const std::string& warning : problem.warnings) std::cerr << "propbf: " << path << ": warning: " << warning << "\n";
  return evaluate_problem(problem, options.threads);
}

std::string out_of_memory_message(const std::string& path) {
  return "propbf: " + path + ": not enough memory for this problem (lower --niter or the number of items)";
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

std::vector<std::string> gather_problem_paths(const BatchInputs& inputs) {
  std::vector<std::string> paths;
  for (const std::string& argument : inputs.arguments) add_path(argument, paths);
  if (inputs.list_file == "-") {
    add_list(std::cin, paths, "standard input");
    if (std::cin.bad()) throw InputError("propbf: cannot read the list from standard input");
  } else if (!inputs.list_file.empty()) {
    std::ifstream list(inputs.list_file);
    if (!list) throw InputError("propbf: " + inputs.list_file + ": cannot open the list of problems");
    add_list(list, paths, inputs.list_file);
    if (list.bad()) throw InputError("propbf: " + inputs.list_file + ": cannot read the list of problems");
  }
  return paths;
}

int run_batch(const std::vector<std::string>& paths, const EvaluateOptions& options, const std::string& jsonl_file,
              const std::string& version) {
  const std::string output_name = jsonl_file.empty() ? "standard output" : jsonl_file;
  int fd = STDOUT_FILENO;
  if (!jsonl_file.empty()) {
    fd = ::open(jsonl_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::cerr << "propbf: " << jsonl_file << ": cannot write: " << std::strerror(errno) << "\n";
      return 1;
    }
  }
  ProgressBar progress(paths.size());
  std::size_t failed = 0;
  int write_error = 0;
  progress.draw(0, 0);
  for (std::size_t done = 0; done < paths.size() && write_error == 0; ++done) {
    const std::string& path = paths[done];
    std::string record;
    std::string message;
    try {
      record = format_json_record(path, evaluate_file(path, options), version);
    } catch (const InputError& error) {
      message = error.what();
    } catch (const std::bad_alloc&) {
      message = out_of_memory_message(path);
    }
    if (!message.empty()) {
      ++failed;
      record = format_json_error_record(path, message);
      progress.message(message, done, failed);
    }
    if (fd == STDOUT_FILENO) progress.clear();  // the records may go to the same terminal
    write_error = write_all(fd, record);
    progress.draw(done + 1, failed);
  }
  if (fd != STDOUT_FILENO && ::close(fd) != 0 && write_error == 0) write_error = errno;
  progress.clear();
  if (write_error != 0) {
    std::cerr << "propbf: " << output_name << ": cannot write: " << std::strerror(write_error) << "\n";
    return 1;
  }
  if (failed > 0) {
    std::cerr << "propbf: " << failed << " of " << paths.size() << " problems failed\n";
    return 2;
  }
  return 0;
}

}  // namespace propbf::evaluate
