#include "numeric/job_handoff.hpp"

#include <pthread.h>
#include <sched.h>

#include <system_error>

namespace propbf::numlib {

namespace {

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Spins between jobs before sleeping: a few milliseconds.
constexpr int kSpins = 1 << 15;

}  // namespace

void JobHandoff::serve() {
  int idle = 0;
  for (;;) {
    int state = state_.load(std::memory_order_acquire);
    if (state == kClosed) return;
    if (state == kPosted && state_.compare_exchange_strong(state, kRunning, std::memory_order_acquire)) {
      (*job_)();
      state_.store(kDone, std::memory_order_release);
      idle = 0;
      continue;
    }
    if (++idle < kSpins) {
      relax();
    } else {
      state_.wait(state, std::memory_order_acquire);  // until the state changes
    }
  }
}

void JobHandoff::post(const std::function<void()>& job) {
  job_ = &job;
  state_.store(kPosted, std::memory_order_release);
  state_.notify_one();
}

bool JobHandoff::take_back() {
  int state = kPosted;
  return state_.compare_exchange_strong(state, kIdle, std::memory_order_acquire);
}

void JobHandoff::wait() {
  while (state_.load(std::memory_order_acquire) != kDone) relax();
  state_.store(kIdle, std::memory_order_relaxed);
}

void JobHandoff::close() {
  state_.store(kClosed, std::memory_order_release);
  state_.notify_one();
}

HelperThread::HelperThread() {
  try {
    thread_ = std::thread([this] { jobs_.serve(); });
  } catch (const std::system_error&) {
    return;  // no thread: every job is taken back
  }
  // Off the calling thread's CPU at once, where the mask has another one (a hint only).
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  const int mine = sched_getcpu();
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && mine >= 0 && mine < CPU_SETSIZE) {
    CPU_CLR(mine, &cpus);
    if (CPU_COUNT(&cpus) > 0) pthread_setaffinity_np(thread_.native_handle(), sizeof cpus, &cpus);
  }
}

HelperThread::~HelperThread() {
  jobs_.close();
  if (thread_.joinable()) thread_.join();
}

}  // namespace propbf::numlib
