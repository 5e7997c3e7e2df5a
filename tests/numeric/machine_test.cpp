// Machine constants and unit numbers. Bit patterns are the IEEE 754 binary32
// encodings of the table's quantities; the stop messages are laid out by hand from
// their wording (blank line, three lines, blank line; the value in 6 columns).
#include <gtest/gtest.h>
#include <omp.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "errors/output_capture.hpp"
#include "numeric/machine.hpp"

namespace propbf::numlib {
namespace {

using testing::line;
using testing::run_in_child;
using testing::StdoutCapture;

class MachineConstants : public ::testing::Test {
 protected:
  void SetUp() override { testing::fresh_library_state(); }
};

TEST_F(MachineConstants, RealConstantsHaveTheirBitPatterns) {
  const struct {
    int32_t index;
    uint32_t bits;
  } rows[] = {
      {1, 0x00800000u},  // 2^-126
      {2, 0x7F7FFFFFu},  // largest finite
      {3, 0x33800000u},  // 2^-24
      {4, 0x34000000u},  // 2^-23
      {5, 0x3E9A209Bu},  // nearest float to log10(2)
      {6, 0x7FC00000u},  // quiet NaN
      {7, 0x7F800000u},  // +infinity
      {8, 0xFF800000u},  // -infinity
  };
  for (const auto& row : rows) {
    EXPECT_EQ(std::bit_cast<uint32_t>(AMACH(row.index)), row.bits) << "AMACH(" << row.index << ")";
  }
  EXPECT_EQ(AMACH(1), std::ldexp(1.0f, -126));
  EXPECT_EQ(AMACH(3), std::ldexp(1.0f, -24));
  EXPECT_EQ(AMACH(4), std::ldexp(1.0f, -23));
  EXPECT_EQ(AMACH(5), static_cast<float>(0.30102999566398119521));  // log10(2) rounded once
}

TEST_F(MachineConstants, IntegerConstantsFollowTheTable) {
  const int32_t expected[13] = {0, 32, 4, 2, 31, 2147483647, 2, 24, -125, 128, 53, -1021, 1024};
  for (int32_t i = 1; i <= 12; ++i) EXPECT_EQ(IMACH(i), expected[i]) << "IMACH(" << i << ")";
}

// ".  The argument must be between 1 and 8 inclusive. N = 0" is 56 characters; the
// room after " 5 from AMACH" is 46, the last blank at or before it is position 40.
std::string amach_message(char digit) {
  return line("") + line(" *** TERMINAL ERROR 5 from AMACH.  The argument must be between 1 and 8") +
         line(std::string(" ***          inclusive. N = ") + digit);
}

TEST_F(MachineConstants, RealIndexOutOfRangeIsATerminalErrorThatStops) {
  for (const int32_t index : {0, 9}) {
    const auto run = run_in_child([index] { (void)AMACH(index); });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exit_status, 1) << index;
    EXPECT_EQ(run.output, amach_message(static_cast<char>('0' + index)));
  }
}

TEST_F(MachineConstants, RealIndexOutOfRangeGivesNaNWhenTheStopIsOff) {
  for (const int32_t index : {0, 9}) {
    testing::fresh_library_state();
    E1INIT();
    error_state().stop_on[5] = 0;
    StdoutCapture capture;
    const float result = AMACH(index);
    EXPECT_EQ(capture.finish(), amach_message(static_cast<char>('0' + index)));
    EXPECT_EQ(std::bit_cast<uint32_t>(result), 0x7FC00000u);
    EXPECT_EQ(error_state().level, 1);  // AMACH popped its name
    EXPECT_EQ(N1RCD(1), 5);
  }
}

TEST_F(MachineConstants, IntegerIndexOutOfRangePrintsFiveLinesAndStops) {
  const auto run = run_in_child([] { (void)IMACH(13); });
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.output, line("") + line(" *** TERMINAL ERROR 5 from IMACH.  The argument") +
                            line(" ***          must be between 1 and 12 inclusive.") +
                            line(" ***          N =     13.") + line(""));
}

TEST_F(MachineConstants, IntegerIndexTooWideForItsFieldShowsAsterisks) {
  const auto run = run_in_child([] { (void)IMACH(-1234567); });
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.output.find(line(" ***          N = ******.")), std::string::npos);
}

// IMACH writes on the output unit (entry 2), not on the error-message unit.
TEST_F(MachineConstants, IntegerIndexMessageGoesToTheOutputUnit) {
  const auto run = run_in_child([] {
    int32_t unit = 99;
    UMACH(-3, unit);
    (void)IMACH(0);
  });
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.output, line("") + line(" *** TERMINAL ERROR 5 from IMACH.  The argument") +
                            line(" ***          must be between 1 and 12 inclusive.") +
                            line(" ***          N =      0.") + line(""));
}

class UnitNumbers : public MachineConstants {};

TEST_F(UnitNumbers, DefaultsAreInputFiveOutputSixErrorsSix) {
  int32_t unit = 0;
  UMACH(1, unit);
  EXPECT_EQ(unit, 5);
  UMACH(2, unit);
  EXPECT_EQ(unit, 6);
  UMACH(3, unit);
  EXPECT_EQ(unit, 6);
}

TEST_F(UnitNumbers, NegativeEntrySetsTheUnit) {
  int32_t unit = 9;
  UMACH(-2, unit);
  EXPECT_EQ(unit, 9);  // the argument is not changed
  int32_t read_back = 0;
  UMACH(2, read_back);
  EXPECT_EQ(read_back, 9);
  UMACH(3, read_back);
  EXPECT_EQ(read_back, 6);
  UMACH(1, read_back);
  EXPECT_EQ(read_back, 5);
}

std::string umach_message(const std::string& field) {
  return line("") + line(" *** TERMINAL ERROR 5 from UMACH.  The absolute") +
         line(" ***          value of the index variable must be") +
         line(" ***          1, 2, or 3.  IABS(N) = " + field + ".") + line("");
}

TEST_F(UnitNumbers, EntryOutOfRangeShowsItsAbsoluteValueAndStops) {
  for (const int32_t n : {4, -4}) {
    int32_t unit = 0;
    const auto run = run_in_child([n, &unit] { UMACH(n, unit); });
    EXPECT_EQ(run.exit_status, 1) << n;
    EXPECT_EQ(run.output, umach_message("     4")) << n;
  }
  int32_t unit = 0;
  EXPECT_EQ(run_in_child([&unit] { UMACH(0, unit); }).output, umach_message("     0"));
  EXPECT_EQ(run_in_child([&unit] { UMACH(INT32_MIN, unit); }).output, umach_message("******"));
}

TEST_F(UnitNumbers, SettingTheUnitOnOneThreadLeavesAnotherThreadAtItsDefault) {
  int32_t seen[2] = {0, 0};
  int threads = 0;
#pragma omp parallel num_threads(2)
  {
    reset_units_for_testing();  // pool threads keep their records between regions
#pragma omp barrier
    const int me = omp_get_thread_num();
    if (me == 0) {
      threads = omp_get_num_threads();
      int32_t nine = 9;
      UMACH(-2, nine);
    }
#pragma omp barrier
    int32_t unit = 0;
    UMACH(2, unit);
    seen[me] = unit;
  }
  if (threads < 2) GTEST_SKIP() << "the runtime gave only one thread";
  EXPECT_EQ(seen[0], 9);
  EXPECT_EQ(seen[1], 6);
}

}  // namespace
}  // namespace propbf::numlib
