// Work handed from one thread to a second one that may start late or not at all.
//
// The second thread calls serve(); the first posts jobs, one at a time, and later calls
// finish(): a job the second thread has taken is waited for; one it has not taken yet is
// taken back unrun, for the first thread to run itself (or drop). So nothing waits for a
// second thread that has not started or is busy elsewhere.
//
// HelperThread starts such a second thread. It is a plain thread, not a member of an
// OpenMP team: on a virtual machine, the first OpenMP region of a process kept its
// calling thread waiting 1 to 2.5 ms until the new thread got a CPU (the new thread was
// queued on the busy CPU of its creator); a thread started directly and moved to another
// CPU at once runs within about 0.1 ms.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace propbf::numlib {

class JobHandoff {
 public:
  // The second thread: runs posted jobs until close(). Busy-waits between jobs for a
  // while, so that it answers within microseconds, then sleeps until the next post.
  void serve();

  // The first thread. `job` must stay valid until finish() returns.
  void post(const std::function<void()>& job);
  // Takes the posted job back if the second thread has not taken it: true then.
  bool take_back();
  // Waits until the second thread has finished the job it took.
  void wait();
  // True when the second thread ran the posted job (it has finished it by now); false
  // when the job was taken back without being run.
  bool finish() {
    if (take_back()) return false;
    wait();
    return true;
  }
  // Ends serve(); no job may be posted after.
  void close();

 private:
  enum State : int { kIdle, kPosted, kRunning, kDone, kClosed };
  std::atomic<int> state_{kIdle};
  const std::function<void()>* job_ = nullptr;
};

// A second thread serving a JobHandoff from construction to destruction, placed on
// another CPU of this process's affinity mask than the constructing thread's where there
// is one. Should the thread not start, every posted job is taken back.
class HelperThread {
 public:
  HelperThread();
  ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  JobHandoff& jobs() { return jobs_; }

 private:
  JobHandoff jobs_;
  std::thread thread_;
};

}  // namespace propbf::numlib
