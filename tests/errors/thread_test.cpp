// Threads: each thread has its own error state; workers inherit the encountering
// thread's state only through copyin; messages of different threads never interleave.
#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "errors/output_capture.hpp"
#include "errors/thread_state.hpp"

namespace propbf::numlib {
namespace {

class ErrorStatePerThread : public ::testing::Test {
 protected:
  void SetUp() override { testing::fresh_library_state(); }
};

TEST_F(ErrorStatePerThread, PushOnOneThreadLeavesAnotherThreadsStackAlone) {
  E1PSH("MAIN");
  int32_t worker_level = -1;
  int32_t main_level_seen_after_worker = -1;
  int threads = 0;
#pragma omp parallel num_threads(2)
  {
    if (omp_get_thread_num() == 1) {
      reset_error_state_for_testing();
      E1PSH("WORKER");
      E1PSH("WORKER2");
      worker_level = error_state().level;
      E1POP("WORKER2");
      E1POP("WORKER");
    }
#pragma omp barrier
    if (omp_get_thread_num() == 0) {
      threads = omp_get_num_threads();
      main_level_seen_after_worker = error_state().level;
    }
  }
  if (threads < 2) GTEST_SKIP() << "the runtime gave only one thread";
  EXPECT_EQ(worker_level, 3);
  EXPECT_EQ(main_level_seen_after_worker, 2);
  E1POP("MAIN");
}

TEST_F(ErrorStatePerThread, CopyinHandsWorkersTheEncounteringThreadsState) {
  E1PSH("MAIN");
  std::string worker_top;
  int32_t worker_level = -1;
  int threads = 0;
#pragma omp parallel num_threads(2) copyin(thread_error_state)
  {
    if (omp_get_thread_num() == 1) {
      worker_level = error_state().level;
      worker_top = std::string(error_state().routine_name[worker_level], 4);
      E1POP("MAIN");  // the worker's copy is its own
    }
#pragma omp barrier
    if (omp_get_thread_num() == 0) threads = omp_get_num_threads();
  }
  if (threads < 2) GTEST_SKIP() << "the runtime gave only one thread";
  EXPECT_EQ(worker_level, 2);
  EXPECT_EQ(worker_top, "MAIN");
  EXPECT_EQ(error_state().level, 2);
  E1POP("MAIN");
}

// One thread takes the lock twice and releases it once: it still holds it, and the
// other thread must wait until the second release.
TEST(ErrorOutputLock, IsReentrantAndExcludesOtherThreads) {
  E1LOCK(0);  // not held: nothing happens
  E1LOCK(2);  // only makes sure it exists
  std::atomic<bool> holder_ready{false};
  std::atomic<bool> waiter_got_it{false};
  bool waiter_got_it_too_early = true;
  int threads = 0;
#pragma omp parallel num_threads(2)
  {
    if (omp_get_thread_num() == 1) {
      E1LOCK(1);
      E1LOCK(1);
      E1LOCK(0);
      holder_ready = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      waiter_got_it_too_early = waiter_got_it.load();
      E1LOCK(0);
    } else {
      threads = omp_get_num_threads();
      if (threads > 1) {
        while (!holder_ready.load()) std::this_thread::yield();
        E1LOCK(1);
        waiter_got_it = true;
        E1LOCK(0);
      }
    }
  }
  if (threads < 2) GTEST_SKIP() << "the runtime gave only one thread";
  EXPECT_FALSE(waiter_got_it_too_early);
  EXPECT_TRUE(waiter_got_it.load());
}

// Two threads each print many wrapped messages with tracebacks (type 6 does not stop
// the run). Every message must come out as one unbroken block of its own lines.
TEST_F(ErrorStatePerThread, MessagesOfTwoThreadsNeverInterleave) {
  constexpr int kMessages = 1000;
  const std::string long_text = "This message is long enough to need a continuation line after the header line.";
  int threads = 0;
  testing::StdoutCapture capture;
#pragma omp parallel num_threads(2)
  {
    reset_error_state_for_testing();
    const std::string outer = omp_get_thread_num() == 0 ? "AAAA" : "BBBB";
    const std::string inner = omp_get_thread_num() == 0 ? "AINNER" : "BINNER";
    for (int i = 0; i < kMessages; ++i) {
      E1PSH(outer);
      E1PSH(inner);
      E1MES(6, 1, long_text);
      E1POP(inner);
      E1POP(outer);
    }
#pragma omp single
    threads = omp_get_num_threads();
  }
  const std::string out = capture.finish();
  if (threads < 2) GTEST_SKIP() << "the runtime gave only one thread";

  // The block of one message, by hand: " 1 from AINNER" leaves 45 characters, so the
  // 82-character message breaks at the blank at position 45.
  // The user level shows 0 and 0 in a thread's first traceback and then the type 6,
  // code 1 that the earlier pops handed up to it.
  const auto block = [&](char who, const char* user_row) {
    const std::string inner_name = std::string(1, who) + "INNER";
    const std::string outer_name(4, who);
    return testing::line("") +
           testing::line(" *** WARNING  ERROR 1 from " + inner_name + ".  This message is long enough to need a") +
           testing::line(" ***          continuation line after the header line.") + testing::traceback_heading() +
           testing::line("     " + testing::name32(inner_name) + "     6           1    (Called internally)") +
           testing::line("     " + testing::name32(outer_name) + "     0           0") +
           testing::line("     " + testing::name32("USER") + user_row);
  };
  const std::string first[2] = {block('A', "     0           0"), block('B', "     0           0")};
  const std::string later[2] = {block('A', "     6           1"), block('B', "     6           1")};
  size_t at = 0;
  int count[2] = {0, 0};
  while (at < out.size()) {
    bool matched = false;
    for (int who = 0; who < 2 && !matched; ++who) {
      const std::string& expected = count[who] == 0 ? first[who] : later[who];
      if (out.compare(at, expected.size(), expected) == 0) {
        ++count[who];
        at += expected.size();
        matched = true;
      }
    }
    if (!matched) {
      ADD_FAILURE() << "broken block at byte " << at << ":\n" << out.substr(at > 300 ? at - 300 : 0, 900);
      break;
    }
  }
  EXPECT_EQ(count[0], kMessages);
  EXPECT_EQ(count[1], kMessages);
}

}  // namespace
}  // namespace propbf::numlib
