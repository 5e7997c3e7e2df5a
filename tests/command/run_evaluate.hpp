// Runs the real propbf binary with arguments in a folder and collects what it leaves.
#pragma once

#include <string>
#include <vector>

#include "e2e/run_program.hpp"

namespace propbf::testing {

// Of `options`, closed_descriptors, file_size_limit and address_space_limit apply.
inline RunResult run_propbf_with_arguments(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                                           const RunOptions& options = {}) {
  RunResult result;
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return result;
  std::vector<std::string> words{PROPBF_BINARY};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (in < 0) _exit(127);
    dup2(in, 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    detail::close_and_limit(options);
    execv(PROPBF_BINARY, argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  detail::collect(child, out_pipe[0], err_pipe[0], result.out, result.err, std::nullopt);
  int wait_status = 0;
  waitpid(child, &wait_status, 0);
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  return result;
}

}  // namespace propbf::testing
