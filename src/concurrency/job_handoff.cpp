#include "concurrency/job_handoff.hpp"

#include <pthread.h>
#include <sched.h>

#include <cassert>
#include <system_error>

namespace propbf::concurrency {

namespace {

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Pauses before a waiting thread sleeps: 74 us on the AMD EPYC of docs/performance.md
// (18 ns a pause), about 0.2 ms where a pause takes 140 cycles. Longer than the gap
// between two posts of one run and than a stretch's usual wait; short enough that a
// thread left waiting on a busy machine soon gives its CPU up.
constexpr int kSpins = 1 << 12;

}  // namespace

void JobHandoff::wait_while(int state) const {
  for (int i = 0; i < kSpins; ++i) {
    if (state_.load(std::memory_order_acquire) != state) return;
    relax();
  }
  while (state_.load(std::memory_order_acquire) == state) state_.wait(state, std::memory_order_acquire);
}

void JobHandoff::serve() {
  for (;;) {
    int state = state_.load(std::memory_order_acquire);
    if (state == kClosed) return;
    if (state == kPosted) {
      if (state_.compare_exchange_strong(state, kRunning, std::memory_order_acquire)) {
        (*job_)();
        [[maybe_unused]] const int was = state_.exchange(kDone, std::memory_order_acq_rel);
        assert(was == kRunning && "only the serving thread leaves Running");
        state_.notify_all();  // a wait() or close() asleep on Running
      }
      continue;
    }
    assert((state == kIdle || state == kDone) && "serve: no job of its own can be Running here");
    wait_while(state);
  }
}

void JobHandoff::post(const std::function<void()>& job) {
  job_ = &job;
  int state = kIdle;
  [[maybe_unused]] const bool posted = state_.compare_exchange_strong(state, kPosted, std::memory_order_release);
  assert(posted && "post: the last job is still out, or the hand-off is closed");
  state_.notify_one();
}

bool JobHandoff::take_back() {
  int state = kPosted;
  if (state_.compare_exchange_strong(state, kIdle, std::memory_order_acquire)) return true;
  assert((state == kRunning || state == kDone) && "take_back: no job was posted");
  return false;
}

void JobHandoff::wait() {
  assert((state_.load(std::memory_order_relaxed) == kRunning || state_.load(std::memory_order_relaxed) == kDone) &&
         "wait: only for a job the second thread took");
  wait_while(kRunning);
  [[maybe_unused]] const int was = state_.exchange(kIdle, std::memory_order_acquire);
  assert(was == kDone && "wait: the job ends Done");
}

void JobHandoff::close() {
  int state = state_.load(std::memory_order_acquire);
  for (;;) {
    if (state == kClosed) return;
    if (state == kRunning) {
      wait_while(kRunning);  // the job refers to its poster's objects: let it end first
      state = state_.load(std::memory_order_acquire);
      continue;
    }
    if (state_.compare_exchange_weak(state, kClosed, std::memory_order_acq_rel)) break;
  }
  state_.notify_all();
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

}  // namespace propbf::concurrency
