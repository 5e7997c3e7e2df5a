#include "engine/threads.hpp"

#include <omp.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace propbf::evaluate {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
// The stack clang's OpenMP runtime gives each thread unless told otherwise.
constexpr std::uint64_t kRuntimeDefaultStack = 4 * kMiB;
// What a thread takes beside its stack: the guard page and the thread's own data.
constexpr std::uint64_t kThreadOverhead = std::uint64_t{64} << 10;

// The bytes of address space the process has mapped (/proc/self/statm's first field);
// 0 when it cannot be read.
std::uint64_t mapped_bytes() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long long pages = 0;
  const bool read = std::fscanf(statm, "%llu", &pages) == 1;
  std::fclose(statm);
  const long page = ::sysconf(_SC_PAGESIZE);
  return read && page > 0 ? pages * static_cast<std::uint64_t>(page) : 0;
}

std::string mebibytes(std::uint64_t bytes) { return std::to_string((bytes + kMiB / 2) / kMiB) + " MiB"; }

}  // namespace

std::optional<std::uint64_t> parse_stack_size(std::string_view text) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  std::uint64_t value = 0;
  std::size_t at = 0;
  constexpr std::uint64_t kMost = std::uint64_t{1} << 62;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    if (value > kMost) return std::nullopt;
  }
  if (at == 0 || value == 0) return std::nullopt;
  while (at < text.size() && blank(text[at])) ++at;
  std::uint64_t unit = 1024;
  if (at < text.size()) {
    switch (std::toupper(static_cast<unsigned char>(text[at]))) {
      case 'B': unit = 1; break;
      case 'K': unit = 1024; break;
      case 'M': unit = kMiB; break;
      case 'G': unit = kMiB * 1024; break;
      default: return std::nullopt;
    }
    if (at + 1 != text.size()) return std::nullopt;
  }
  if (value > kMost / unit) return std::nullopt;
  return value * unit;
}

std::uint64_t thread_stack_bytes() {
  for (const char* name : {"OMP_STACKSIZE", "GOMP_STACKSIZE"}) {
    if (const char* given = std::getenv(name)) {
      if (const auto bytes = parse_stack_size(given)) return *bytes;
    }
  }
  std::uint64_t system_default = 0;
#ifdef __linux__
  pthread_attr_t attributes;
  if (::pthread_getattr_default_np(&attributes) == 0) {
    std::size_t size = 0;
    if (::pthread_attr_getstacksize(&attributes, &size) == 0) system_default = size;
    ::pthread_attr_destroy(&attributes);
  }
#else
  // Elsewhere (the R package on other systems) the stack limit stands for it.
  rlimit stack{};
  if (::getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY) system_default = stack.rlim_cur;
#endif
  return std::max(system_default, kRuntimeDefaultStack);
}

int available_processors() {
#ifdef __linux__
  cpu_set_t mask;
  CPU_ZERO(&mask);
  if (::sched_getaffinity(0, sizeof mask, &mask) == 0) return std::max(1, CPU_COUNT(&mask));
#endif
  return std::max(1, omp_get_num_procs());
}

int threads_within_address_space(std::uint64_t limit_bytes, std::uint64_t used_bytes, std::uint64_t stack_bytes) {
  if (used_bytes >= limit_bytes) return 1;
  const std::uint64_t room = (limit_bytes - used_bytes) / 2;
  const std::uint64_t others = room / (stack_bytes + kThreadOverhead);
  return static_cast<int>(std::min<std::uint64_t>(others + 1, std::numeric_limits<int>::max()));
}

int usable_thread_count(int requested, std::string* reason) {
  if (reason != nullptr) reason->clear();
  const int processors = available_processors();
  int threads = requested < 1 ? processors : std::min(requested, processors);
  if (threads < requested && reason != nullptr) {
    *reason = "the process may use " + std::to_string(processors) + (processors == 1 ? " processor" : " processors");
  }
  rlimit limit{};
  if (threads > 1 && ::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const std::uint64_t stack = thread_stack_bytes();
    const std::uint64_t used = mapped_bytes();
    const int fitting = threads_within_address_space(limit.rlim_cur, used, stack);
    if (fitting < threads) {
      threads = fitting;
      if (reason != nullptr) {
        *reason = "the address-space limit (ulimit -v) of " + mebibytes(limit.rlim_cur) + ", " +
                  mebibytes(used < limit.rlim_cur ? limit.rlim_cur - used : 0) + " of it free, leaves room for " +
                  std::to_string(fitting) + (fitting == 1 ? " thread" : " threads") + " with " + mebibytes(stack) +
                  " stacks beside the run's data";
      }
    }
  }
  return threads;
}

}  // namespace propbf::evaluate
