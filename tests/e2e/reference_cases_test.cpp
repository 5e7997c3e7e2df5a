// The reference cases: each folder holds an input.txt and what a run in a folder holding
// only that file must leave behind (stdout, stderr, exit status, output.txt).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "run_program.hpp"

namespace propbf::testing {
namespace {

const std::filesystem::path kReferenceRoot = std::filesystem::path(PROPBF_TEST_DATA) / "e2e" / "reference";

class ReferenceCase : public ::testing::TestWithParam<std::string> {};

TEST_P(ReferenceCase, MatchesByteForByte) {
  const auto folder = kReferenceRoot / GetParam();
  const auto expected = folder / "expected";
  const RunResult run = run_program_on(read_file(folder / "input.txt"));

  EXPECT_EQ(std::to_string(run.status) + "\n", read_file(expected / "status"));
  EXPECT_EQ(run.out, read_file(expected / "stdout"));
  EXPECT_EQ(run.err, read_file(expected / "stderr"));
  if (std::filesystem::exists(expected / "output.txt")) {
    ASSERT_TRUE(run.output_txt.has_value());
    EXPECT_EQ(*run.output_txt, read_file(expected / "output.txt"));
  } else {
    EXPECT_FALSE(run.output_txt.has_value());
  }
}

INSTANTIATE_TEST_SUITE_P(Reference, ReferenceCase,
                         ::testing::Values("two-items-order", "order-and-threshold", "four-items-mixed",
                                           "no-restrictions", "redundant-restriction", "negative-niter",
                                           "truncated-file", "illegal-token"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace propbf::testing
