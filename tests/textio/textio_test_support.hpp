// Helpers for the text layer tests: a scratch directory per test, whole-file reads and
// writes, and bit patterns of floats.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "textio/connections.hpp"
#include "textio/textio.hpp"

namespace propbf::textio::testing {

// A fresh directory under the system temporary directory, removed afterwards. Each
// test starts with an empty unit table and ends with every unit flushed and closed.
class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    detail::reset_unit_table();
    std::string pattern = (std::filesystem::temp_directory_path() / "textio_test_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    close_all_files();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline uint32_t bits_of(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

inline float float_of(uint32_t b) {
  float f;
  std::memcpy(&f, &b, sizeof f);
  return f;
}

// What a child process left behind: how it ended and what it printed.
struct ChildOutcome {
  bool exited = false;  // ended through exit (not a signal)
  int status = -1;      // its exit status when `exited`
  std::string out;      // standard output
  std::string err;      // standard error
};

// Runs `body` in a forked child whose standard output and error go to files in
// `scratch` (and whose standard input comes from `input_path` when given); the child
// ends with status 0 if `body` returns.
template <class Body>
ChildOutcome run_in_child(const std::string& scratch, Body body, const std::string& input_path = "") {
  const std::string out_path = scratch + "/child.stdout";
  const std::string err_path = scratch + "/child.stderr";
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    if (!input_path.empty()) {
      int in = ::open(input_path.c_str(), O_RDONLY);
      ::dup2(in, STDIN_FILENO);
    }
    body();
    close_all_files();
    ::_exit(0);
  }
  ChildOutcome outcome;
  int wstatus = 0;
  if (pid < 0 || ::waitpid(pid, &wstatus, 0) != pid) return outcome;
  outcome.exited = WIFEXITED(wstatus);
  outcome.status = outcome.exited ? WEXITSTATUS(wstatus) : -1;
  outcome.out = read_file(out_path);
  outcome.err = read_file(err_path);
  return outcome;
}

// The three lines of the fatal report for a statement on a unit.
inline std::string fatal_text(const std::string& banner, const std::string& message,
                              const std::string& statement_line) {
  return "? " + banner + "\r\n? " + message + "\r\n? " + statement_line + "\n";
}

}  // namespace propbf::textio::testing
