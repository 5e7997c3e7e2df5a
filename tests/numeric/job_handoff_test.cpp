// Jobs handed to a second thread that may or may not take them: each job runs exactly
// once, on whichever thread gets it, and a job the second thread took is finished when
// finish() returns.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "numeric/job_handoff.hpp"

namespace propbf::numlib {
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

}  // namespace
}  // namespace propbf::numlib
