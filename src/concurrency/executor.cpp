#include "concurrency/executor.hpp"

#include <fcntl.h>
#include <omp.h>
#include <sched.h>
#include <unistd.h>

#include <cassert>

namespace propbf::concurrency {

namespace {

// The kernel's count of runnable tasks now (the fourth field of /proc/loadavg, before
// its slash), or -1 when it cannot be read.
int runnable_tasks() {
  const int file = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
  if (file < 0) return -1;
  char text[128];
  const ssize_t length = read(file, text, sizeof text - 1);
  close(file);
  if (length <= 0) return -1;
  text[length] = '\0';
  // "0.52 0.58 0.59 2/467 12345": the count follows the third blank.
  const char* at = text;
  for (int blanks = 0; blanks < 3; ++at) {
    if (*at == '\0') return -1;
    if (*at == ' ') ++blanks;
  }
  int count = 0;
  for (; *at >= '0' && *at <= '9'; ++at) {
    if (count > 1000000) return -1;
    count = 10 * count + (*at - '0');
  }
  return *at == '/' ? count : -1;
}

}  // namespace

bool second_cpu_free() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof cpus, &cpus) != 0 || CPU_COUNT(&cpus) < 2) return false;
  if (omp_get_max_threads() < 2 || omp_get_thread_limit() < 2 || omp_in_parallel()) return false;
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  const int runnable = runnable_tasks();
  return online < 1 || runnable < 0 || runnable < online;
}

OfferedJob::OfferedJob(Executor& executor, const std::function<void()>& job) : jobs_(executor.jobs_) {
  if (jobs_ != nullptr) jobs_->post(job);
}

bool OfferedJob::take_back() {
  assert(!settled_ && "take_back: the job is settled already");
  if (jobs_ == nullptr || jobs_->take_back()) {
    settled_ = true;
    return true;
  }
  return false;
}

void OfferedJob::wait() {
  assert(!settled_ && jobs_ != nullptr && "wait: only for a job the helper took");
  jobs_->wait();
  settled_ = true;
}

Executor::Executor(int threads) {
  if (threads < 2) return;
  helper_.emplace();
  if (helper_->started()) {
    jobs_ = &helper_->jobs();
  } else {
    helper_.reset();
  }
}

}  // namespace propbf::concurrency
