// Helpers shared by the random-deviate tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "random/random.hpp"

namespace propbf::numlib::testing {

// The number of uniforms drawn between two generator seeds: the n with
// advance_seed(before, n) == after, searched up to `limit`; -1 when not found.
inline int64_t uniforms_between(int32_t before, int32_t after, int64_t limit = 1000000) {
  int64_t seed = before;
  for (int64_t n = 0; n <= limit; ++n) {
    if (seed == after) return n;
    seed = seed * 16807 % 2147483647;
  }
  return -1;
}

// Eight significant digits, the precision of the reference deviates.
inline std::string eight_digits(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.8g", static_cast<double>(value));
  return text;
}

// Seeds the calling thread so that the next uniform is the one of `seed`.
inline void seed_before(int32_t seed) { RNSET(advance_seed(seed, -1)); }

// A temporary file that a death-test child sends its standard output to, so that the
// parent can compare the bytes the child printed before it ended.
class CapturedStdout {
 public:
  CapturedStdout() {
    char name[] = "/tmp/propbf_random_stdout_XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
  }
  ~CapturedStdout() { unlink(path_.c_str()); }
  CapturedStdout(const CapturedStdout&) = delete;
  CapturedStdout& operator=(const CapturedStdout&) = delete;

  // Called in the child: everything written to standard output from now on goes to
  // the file.
  void redirect() const {
    std::fflush(stdout);
    const int fd = open(path_.c_str(), O_WRONLY | O_TRUNC);
    if (fd >= 0) {
      dup2(fd, 1);
      close(fd);
    }
  }

  // Called in the parent after the child has ended.
  std::string text() const {
    std::string bytes;
    if (std::FILE* file = std::fopen(path_.c_str(), "rb")) {
      char buffer[4096];
      std::size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
      std::fclose(file);
    }
    return bytes;
  }

 private:
  std::string path_;
};

}  // namespace propbf::numlib::testing
