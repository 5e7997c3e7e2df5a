// Jobs handed to a second thread that may or may not take them: each job runs exactly
// once, on whichever thread gets it, a job the second thread took is finished when
// finish() returns, and ending the helper (or the executor that owns it) never leaves a
// job half run.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "concurrency/executor.hpp"
#include "concurrency/job_handoff.hpp"

namespace propbf::concurrency {
namespace {

TEST(JobHandoff, AJobNobodyServesIsTakenBackUnrun) {
  JobHandoff jobs;
  int runs = 0;
  const std::function<void()> job = [&] { ++runs; };
  for (int i = 0; i < 3; ++i) {
    jobs.post(job);
    EXPECT_FALSE(jobs.finish());
  }
  EXPECT_EQ(runs, 0);
}

TEST(JobHandoff, AHelperThreadRunsEachJobOnceOrLeavesItToTheCaller) {
  HelperThread helper;
  const std::thread::id caller = std::this_thread::get_id();
  // A job the caller waits for until it has started: the helper ran it.
  std::atomic<bool> started{false};
  std::thread::id ran_on;
  const std::function<void()> waited_for = [&] {
    ran_on = std::this_thread::get_id();
    started = true;
  };
  helper.jobs().post(waited_for);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!started && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
  ASSERT_TRUE(started);
  EXPECT_TRUE(helper.jobs().finish());
  EXPECT_NE(ran_on, caller);
  // Jobs posted and finished at once: some run on the helper, the rest the caller takes back.
  int runs = 0;
  for (int i = 0; i < 2000; ++i) {
    const std::function<void()> job = [&] { ++runs; };
    helper.jobs().post(job);
    if (!helper.jobs().finish()) job();
  }
  EXPECT_EQ(runs, 2000);
}

// A helper destroyed while its job runs waits for the job: the job ends (it used to
// hang here, the end of the job overwriting the closed state). Then a destructor racing
// posts: each job ran to its end or not at all. And an executor's offered job, left
// without a word, is settled by its guard.
TEST(JobHandoff, EndingTheHelperWhileAJobRunsWaitsForTheJob) {
  std::atomic<bool> started{false};
  std::atomic<bool> ended{false};
  const std::function<void()> slow = [&] {
    started = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ended = true;
  };
  {
    HelperThread helper;
    helper.jobs().post(slow);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!started && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
    ASSERT_TRUE(started);
  }
  EXPECT_TRUE(ended);

  std::atomic<int> begun{0};
  std::atomic<int> finished{0};
  const std::function<void()> job = [&] {
    ++begun;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    ++finished;
  };
  for (int i = 0; i < 50; ++i) {
    HelperThread helper;
    helper.jobs().post(job);
    if (i % 2 == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  EXPECT_EQ(begun.load(), finished.load());

  int runs = 0;
  const std::function<void()> counted = [&] { ++runs; };
  for (int threads : {1, 2}) {
    Executor executor(threads);
    for (int i = 0; i < 100; ++i) {
      OfferedJob offered = executor.offer(counted);
      if (i % 2 == 0 && offered.take_back()) counted();
    }
  }
  EXPECT_LE(runs, 200);
  EXPECT_GE(runs, 100);
}

}  // namespace
}  // namespace propbf::concurrency
