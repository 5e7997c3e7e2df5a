// Test helpers: capture what the library writes on standard output, byte for byte,
// either in this process (for errors that do not stop the run) or in a forked child
// (for stops, together with the child's exit status).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <utility>

#include "errors/errors.hpp"
#include "machine/tables.hpp"

namespace propbf::testing {

// Redirects file descriptor 1 to a temporary file until finish().
class StdoutCapture {
 public:
  StdoutCapture() {
    std::cout.flush();
    std::fflush(stdout);
    file_ = std::tmpfile();
    saved_ = ::dup(1);
    ::dup2(::fileno(file_), 1);
  }
  ~StdoutCapture() { (void)finish(); }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  std::string finish() {
    if (file_ == nullptr) return text_;
    std::cout.flush();
    std::fflush(stdout);
    ::dup2(saved_, 1);
    ::close(saved_);
    std::rewind(file_);
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text_.append(buffer, got);
    std::fclose(file_);
    file_ = nullptr;
    return text_;
  }

 private:
  std::FILE* file_ = nullptr;
  int saved_ = -1;
  std::string text_;
};

struct ChildRun {
  bool exited = false;   // ended through exit, not a signal
  int exit_status = -1;  // its status when it did
  std::string output;    // everything it wrote on standard output
};

// The exit status of a child whose statement returned instead of stopping the run.
inline constexpr int kStatementReturned = 99;

// Runs `statement` in a forked child with standard output going into a pipe; the
// child ends with kStatementReturned if the statement comes back.
template <typename Statement>
ChildRun run_in_child(Statement&& statement) {
  std::cout.flush();
  std::fflush(stdout);
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_ends[0]);
    ::dup2(pipe_ends[1], 1);
    ::close(pipe_ends[1]);
    std::forward<Statement>(statement)();
    std::fflush(stdout);
    ::_exit(kStatementReturned);
  }
  ::close(pipe_ends[1]);
  ChildRun run;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, static_cast<size_t>(got));
  ::close(pipe_ends[0]);
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.exited = true;
    run.exit_status = WEXITSTATUS(status);
  }
  return run;
}

// A line as the library writes it.
inline std::string line(const std::string& text) { return text + "\r\n"; }

inline std::string blanks(size_t count) { return std::string(count, ' '); }

// A name blank-filled to the 32 columns of the traceback.
inline std::string name32(const std::string& name) { return name + blanks(32 - name.size()); }

// The three lines that open every traceback.
inline std::string traceback_heading() {
  return line("     Here is a traceback of subprogram calls in reverse order:") +
         line("     Routine name" + blanks(20) + "Error type  Error code") +
         line("     ------------" + blanks(20) + "----------  ----------");
}

// Starts every test from a thread that has not used the error machine or the units.
inline void fresh_library_state() {
  numlib::reset_error_state_for_testing();
  numlib::reset_units_for_testing();
}

// The pending message, positions 1..message_length.
inline std::string pending_message() {
  const numlib::ErrorState& s = numlib::error_state();
  return std::string(s.message_text + 1, static_cast<size_t>(s.message_length));
}

}  // namespace propbf::testing
