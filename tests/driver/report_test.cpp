#include <gtest/gtest.h>

#include <cmath>

#include "driver/problem.hpp"
#include "driver/report.hpp"

namespace propbf::testing {
namespace {

TEST(ReplicationShapes, HitsAndMissesPlusOne) {
  float pin = 0, qin = 0;
  driver::replication_shapes(2500.0f, 10000, pin, qin);
  EXPECT_EQ(pin, 2501.0f);
  EXPECT_EQ(qin, 7501.0f);
  driver::replication_shapes(0.0f, 10000, pin, qin);
  EXPECT_EQ(pin, 1.0f);
  EXPECT_EQ(qin, 10001.0f);
}

TEST(ReplicationShapes, HitCountAboveTheSweepsIsTakenAsTheSweeps) {
  // All-hit stages: float sums of 1/niter that end above niter.
  float pin = 0, qin = 0;
  driver::replication_shapes(100099.015625f, 100000, pin, qin);
  EXPECT_EQ(pin, 100001.0f);
  EXPECT_EQ(qin, 1.0f);
  driver::replication_shapes(10000.53515625f, 10000, pin, qin);
  EXPECT_EQ(pin, 10001.0f);
  EXPECT_EQ(qin, 1.0f);
  // A count just below niter is kept: the second shape stays just above 1.
  driver::replication_shapes(99.9999313f, 100, pin, qin);
  EXPECT_EQ(pin, 1.0f + 99.9999313f);
  EXPECT_EQ(qin, 1.0f + (100.0f - 99.9999313f));
}

TEST(ReplicationShapes, NegativeSweepsStillReachTheBetaCheck) {
  float pin = 0, qin = 0;
  driver::replication_shapes(-0.0f, -5, pin, qin);
  EXPECT_EQ(pin, 1.0f);
  EXPECT_EQ(qin, -4.0f);
}

TEST(StorageSizing, CountsBeyondTheIndexRangeOrMemoryAreRefused) {
  EXPECT_GT(driver::storage_bytes(4, 3), 0);
  EXPECT_GT(driver::storage_bytes(-4, -3), 0);  // negative counts size as 0
  EXPECT_GT(driver::storage_bytes(1000, 1000), 0);
  EXPECT_EQ(driver::storage_bytes(65536, 65536), -1);            // T x J = 2^32
  EXPECT_EQ(driver::storage_bytes(2147483647, 2147483647), -1);  // no overflow on the way
  EXPECT_EQ(driver::storage_bytes(46341, 46341), -1);            // just past 2^31 - 1
}

}  // namespace
}  // namespace propbf::testing
