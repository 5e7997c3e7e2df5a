// Runs the real propbf binary in a fresh temporary folder and collects what it leaves.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
  std::string out;      // standard output
  std::string err;      // standard error
  std::optional<std::string> output_txt;  // output.txt after the run, if present
};

// Runs the program with `folder` as its working directory and no standard input.
// Standard output is collected, or sent to `stdout_path` when one is given (then
// `out` stays empty). output.txt is read back when it is a regular file (not a
// directory or a link to a device).
inline RunResult run_program_in(const std::filesystem::path& folder, const char* stdout_path = nullptr) {
  TemporaryFolder capture;
  const auto out_path = capture.path() / "stdout";
  const auto err_path = capture.path() / "stderr";
  RunResult result;
  pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    int in = open("/dev/null", O_RDONLY);
    int out = stdout_path != nullptr ? open(stdout_path, O_WRONLY)
                                     : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execl(PROPBF_BINARY, PROPBF_BINARY, static_cast<char*>(nullptr));
    _exit(127);
  }
  int wait_status = 0;
  waitpid(child, &wait_status, 0);
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  if (stdout_path == nullptr) result.out = read_file(out_path);
  result.err = read_file(err_path);
  if (std::filesystem::is_regular_file(folder / "output.txt")) result.output_txt = read_file(folder / "output.txt");
  return result;
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
