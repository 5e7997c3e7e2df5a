// Runs the real propbf binary in a fresh temporary folder and collects what it leaves.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace propbf::testing {

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A fresh folder under the system's temporary directory, removed with the object.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "propbf-e2e-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    path_ = made != nullptr ? made : "";
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct RunResult {
  int status = -1;      // exit status as a shell sees it, or -1 if killed by a signal
  bool timed_out = false;  // killed because it outran RunOptions::timeout
  long peak_rss_kib = 0;   // the program's peak resident memory (getrusage's ru_maxrss)
  std::string out;      // standard output
  std::string err;      // standard error
  std::optional<std::string> output_txt;  // output.txt after the run, if present
};

// How the program is started. By default: standard input from /dev/null, standard
// output and error collected through pipes, no limit, no timeout.
struct RunOptions {
  const char* stdout_path = nullptr;      // standard output goes to this file instead
  std::vector<int> closed_descriptors;    // of 0, 1 and 2: closed when the program starts
  std::optional<rlim_t> file_size_limit;  // RLIMIT_FSIZE in bytes (ulimit -f)
  std::optional<rlim_t> address_space_limit;  // RLIMIT_AS in bytes (ulimit -v)
  // input.txt becomes a FIFO; a writer process opens it, writes these bytes and exits.
  std::optional<std::string> fifo_input;
  std::chrono::milliseconds timeout{0};   // 0: wait for as long as it takes
};

namespace detail {

// Reads both pipes of `child` until each reaches end of file. When the deadline (if
// any) passes first, the child is killed and the reading goes on to the end; returns
// false then.
inline bool collect(pid_t child, int out_fd, int err_fd, std::string& out, std::string& err,
                    std::optional<std::chrono::steady_clock::time_point> deadline) {
  bool in_time = true;
  std::vector<std::pair<int, std::string*>> open{{out_fd, &out}, {err_fd, &err}};
  char block[8192];
  while (!open.empty()) {
    std::vector<pollfd> watch;
    for (const auto& entry : open) watch.push_back({entry.first, POLLIN, 0});
    int wait_ms = -1;
    if (deadline) {
      const auto left = *deadline - std::chrono::steady_clock::now();
      wait_ms = static_cast<int>(std::max<long long>(
          0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count()));
    }
    const int ready = poll(watch.data(), watch.size(), wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      for (const auto& entry : open) close(entry.first);
      break;
    }
    if (ready == 0) {  // the deadline passed
      kill(child, SIGKILL);
      in_time = false;
      deadline.reset();
      continue;
    }
    for (std::size_t i = watch.size(); i-- > 0;) {
      if (watch[i].revents == 0) continue;
      const ssize_t got = read(open[i].first, block, sizeof block);
      if (got > 0) {
        open[i].second->append(block, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(open[i].first);
        open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  return in_time;
}

// In the child, before exec: closes the descriptors a run asks closed and sets its
// file-size and address-space limits (exit 127 when one cannot be set).
template <class Options>
void close_and_limit(const Options& options) {
  for (int fd : options.closed_descriptors) close(fd);
  if (options.file_size_limit) {
    const rlimit limit{*options.file_size_limit, *options.file_size_limit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
  }
  if (options.address_space_limit) {
    const rlimit limit{*options.address_space_limit, *options.address_space_limit};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
  }
}

}  // namespace detail

// Runs the program with `folder` as its working directory, as `options` say.
// output.txt is read back when it is a regular file (not a directory or a link to a
// device).
inline RunResult run_program_with(const std::filesystem::path& folder, const RunOptions& options) {
  RunResult result;
  pid_t writer = -1;
  if (options.fifo_input) {
    const auto fifo = folder / "input.txt";
    if (mkfifo(fifo.c_str(), 0644) != 0) return result;
    writer = fork();
    if (writer == 0) {
      // Blocks until the program opens the FIFO for reading.
      const int fd = open(fifo.c_str(), O_WRONLY);
      const std::string& bytes = *options.fifo_input;
      if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) _exit(1);
      _exit(0);
    }
  }
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return result;
  pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out = options.stdout_path != nullptr ? open(options.stdout_path, O_WRONLY | O_CLOEXEC) : out_pipe[1];
    if (in < 0 || out < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err_pipe[1], 2);
    detail::close_and_limit(options);
    execl(PROPBF_BINARY, PROPBF_BINARY, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (options.timeout.count() > 0) deadline = std::chrono::steady_clock::now() + options.timeout;
  result.timed_out = !detail::collect(child, out_pipe[0], err_pipe[0], result.out, result.err, deadline);
  int wait_status = 0;
  rusage usage{};
  wait4(child, &wait_status, 0, &usage);
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  result.peak_rss_kib = usage.ru_maxrss;
  if (writer > 0) {
    kill(writer, SIGKILL);  // still waiting when the program never opened the FIFO
    waitpid(writer, nullptr, 0);
  }
  if (std::filesystem::is_regular_file(folder / "output.txt")) result.output_txt = read_file(folder / "output.txt");
  return result;
}

// Runs the program in `folder` with no standard input, collecting standard output
// (or sending it to `stdout_path` when one is given; `out` then stays empty).
inline RunResult run_program_in(const std::filesystem::path& folder, const char* stdout_path = nullptr) {
  RunOptions options;
  options.stdout_path = stdout_path;
  return run_program_with(folder, options);
}

// Writes `input` as input.txt into a fresh folder and runs the program there.
inline RunResult run_program_on(const std::string& input) {
  TemporaryFolder folder;
  write_file(folder.path() / "input.txt", input);
  return run_program_in(folder.path());
}

// The lines of a text with CR LF line ends, without the line ends.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    const auto end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace propbf::testing
