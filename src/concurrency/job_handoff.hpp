// Work handed from one thread to a second one that may start late or not at all.
//
// The second thread calls serve(); the first posts jobs, one at a time, and later calls
// finish(): a job the second thread has taken is waited for; one it has not taken yet is
// taken back unrun, for the first thread to run itself (or drop). So nothing waits for a
// second thread that has not started or is busy elsewhere.
//
// The states and who moves them:
//
//   Idle --post--> Posted --serve takes it--> Running --serve, job done--> Done --wait--> Idle
//                  Posted --take_back--> Idle
//   Idle, Posted, Done --close--> Closed   (close waits while the state is Running;
//                                           a posted job is dropped unrun)
//
// Every move is checked (assertions, in builds with them). Waits spin briefly, then
// sleep on the state (a futex), so a waiting thread does not hold a CPU that another
// process could use.
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

namespace propbf::concurrency {

class JobHandoff {
 public:
  JobHandoff() = default;
  JobHandoff(const JobHandoff&) = delete;
  JobHandoff& operator=(const JobHandoff&) = delete;

  // The second thread: runs posted jobs until close(). Spins between jobs for a short
  // while (under a quarter of a millisecond), so that it answers quickly while the first
  // thread is between two posts, then sleeps until the next post or close().
  void serve();

  // The first thread; only when no job is out (Idle). `job` must stay valid until the
  // job is taken back or waited for.
  void post(const std::function<void()>& job);
  // Takes the posted job back if the second thread has not taken it: true then.
  bool take_back();
  // Waits until the second thread has finished the job it took (take_back was false).
  void wait();
  // True when the second thread ran the posted job (it has finished it by now); false
  // when the job was taken back without being run.
  bool finish() {
    if (take_back()) return false;
    wait();
    return true;
  }
  // Ends serve(). A job the second thread is running is waited for first; one posted
  // and not taken is dropped unrun. No job may be posted after.
  void close();

 private:
  enum State : int { kIdle, kPosted, kRunning, kDone, kClosed };
  // Waits until the state is no longer `state`: spins, then sleeps.
  void wait_while(int state) const;

  std::atomic<int> state_{kIdle};
  const std::function<void()>* job_ = nullptr;
};

// A second thread serving a JobHandoff from construction to destruction, placed on
// another CPU of this process's affinity mask than the constructing thread's where there
// is one. Should the thread not start, every posted job is taken back. Destruction
// waits for a job the thread is running, then ends the thread.
class HelperThread {
 public:
  HelperThread();
  ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  JobHandoff& jobs() { return jobs_; }
  // Whether the thread was started.
  bool started() const { return thread_.joinable(); }

 private:
  JobHandoff jobs_;
  std::thread thread_;
};

}  // namespace propbf::concurrency
