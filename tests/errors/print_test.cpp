// Printing of library errors: header line, wrapping, continuation lines, traceback.
// Expected bytes are worked out by hand from the layout rules: header
// " *** " + type name in 8 + " ERROR" + " <code> from <name>" + message head, room
// 59 - |" <code> from <name>"| for the message; continuation " *** " + 9 blanks + at
// most 64 characters; traceback rows 5 blanks, name in 32, type in 6, 6 blanks, code
// in 6.
#include <gtest/gtest.h>

#include <string>

#include "errors/output_capture.hpp"

namespace propbf::numlib {
namespace {

using testing::blanks;
using testing::line;
using testing::name32;
using testing::run_in_child;
using testing::StdoutCapture;
using testing::traceback_heading;

class ErrorPrinting : public ::testing::Test {
 protected:
  void SetUp() override { testing::fresh_library_state(); }
};

// The beta generator's first shape parameter -1.0: a 46-character message that fits
// the room 59 - 13 of " 2 from RNBET"; the header line is 78 characters; no
// traceback at level 2; the run stops when RNBET pops its name.
TEST_F(ErrorPrinting, TerminalErrorFitsOnTheHeaderLineAndStopsAtThePop) {
  const std::string header = " *** TERMINAL ERROR 2 from RNBET.  PIN = -1.000000E+00.  PIN must be positive.";
  ASSERT_EQ(header.size(), 78u);
  const auto run = run_in_child([] {
    E1PSH("RNBET");
    E1STR(1, -1.0f);
    E1MES(5, 2, "PIN = %(R1).  PIN must be positive.");
    E1POP("RNBET");
  });
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.output, line("") + line(header));
}

// RNUN at level 3 under RNBET: C1IARG's message ".  NR = 0.  NR must be greater than
// or equal to 1." (50 characters) breaks at position 45 for the room 47; then the
// traceback, innermost first, the user level last.
TEST_F(ErrorPrinting, ErrorOfAnInternallyCalledRoutineGetsATraceback) {
  const auto run = run_in_child([] {
    E1PSH("RNBET");
    E1PSH("RNUN");
    int32_t code = 1;
    C1IARG(0, "NR", 1, 0, code);
    E1POP("RNUN");
  });
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.output,
            line("") + line(" *** TERMINAL ERROR 1 from RNUN.  NR = 0.  NR must be greater than or equal") +
                line(" ***          to 1.") + traceback_heading() +
                line("     " + name32("RNUN") + "     5" + blanks(6) + "     1    (Called internally)") +
                line("     " + name32("RNBET") + "     0" + blanks(6) + "     0") +
                line("     " + name32("USER") + "     0" + blanks(6) + "     0"));
}

// " 1 from RNUN" leaves 47 characters: 3 + 44 fit exactly.
TEST_F(ErrorPrinting, MessageOfExactlyTheRoomFitsTheHeaderLine) {
  StdoutCapture capture;
  E1PSH("RNUN");
  E1MES(5, 1, std::string(44, 'x'));
  EXPECT_EQ(capture.finish(), line("") + line(" *** TERMINAL ERROR 1 from RNUN.  " + std::string(44, 'x')));
}

// 48 characters whose only blanks are positions 2 and 3: the header keeps ". " and
// the continuation starts with the word.
TEST_F(ErrorPrinting, MessageOneOverTheRoomBreaksAfterTheLeadingPoint) {
  StdoutCapture capture;
  E1PSH("RNUN");
  E1MES(5, 1, std::string(45, 'x'));
  EXPECT_EQ(capture.finish(), line("") + line(" *** TERMINAL ERROR 1 from RNUN. ") +
                                  line(" ***          " + std::string(45, 'x')));
}

// Blanks at 47 and 48: the break is at 47, the continuation skips the blank at 48,
// and a word longer than a line is cut after 63 characters (64 less the skipped
// blank), the rest following on the next line.
TEST_F(ErrorPrinting, BreakAtTheFirstOfTwoBlanksSkipsTheSecondAndCutsALongWord) {
  StdoutCapture capture;
  E1PSH("RNUN");
  E1MES(5, 1, std::string(43, 'A') + "  " + std::string(100, 'B'));
  EXPECT_EQ(capture.finish(), line("") + line(" *** TERMINAL ERROR 1 from RNUN.  " + std::string(43, 'A')) +
                                  line(" ***          " + std::string(63, 'B')) +
                                  line(" ***          " + std::string(37, 'B')));
}

TEST_F(ErrorPrinting, WordLongerThanALineIsCutAfter64Characters) {
  StdoutCapture capture;
  E1PSH("RNUN");
  E1MES(5, 1, std::string(40, 'A') + " " + std::string(100, 'B'));
  EXPECT_EQ(capture.finish(), line("") + line(" *** TERMINAL ERROR 1 from RNUN.  " + std::string(40, 'A')) +
                                  line(" ***          " + std::string(64, 'B')) +
                                  line(" ***          " + std::string(36, 'B')));
}

// Continuation text starts at 48 with ten words "CCCCCCCCC ": the first line reaches
// 111 and breaks at the blank at 107, keeping it; the last line keeps its final blank.
TEST_F(ErrorPrinting, ContinuationLineBrokenAtABlankEndsWithThatBlank) {
  std::string words;
  for (int i = 0; i < 10; ++i) words += "CCCCCCCCC ";
  StdoutCapture capture;
  E1PSH("RNUN");
  E1MES(5, 1, std::string(43, 'A') + " " + words);
  EXPECT_EQ(capture.finish(), line("") + line(" *** TERMINAL ERROR 1 from RNUN.  " + std::string(43, 'A')) +
                                  line(" ***          " + words.substr(0, 60)) +
                                  line(" ***          " + words.substr(60)));
}

TEST_F(ErrorPrinting, NameWithABlankIsCutInTheHeaderButWholeInTheTraceback) {
  const auto run = run_in_child([] {
    E1PSH("OUTER");
    E1PSH("MY ROUTINE");
    E1MES(5, 3, "Bad.");
  });
  EXPECT_EQ(run.exit_status, testing::kStatementReturned);
  EXPECT_EQ(run.output, line("") + line(" *** TERMINAL ERROR 3 from MY.  Bad.") + traceback_heading() +
                            line("     " + name32("MY ROUTINE") + "     5      " + "     3    (Called internally)") +
                            line("     " + name32("OUTER") + "     0      " + "     0") +
                            line("     " + name32("USER") + "     0      " + "     0"));
}

TEST_F(ErrorPrinting, LowerCaseFirstLetterBeforeAnUpperCaseOneIsShownInUpperCase) {
  StdoutCapture capture;
  E1PSH("RNBET");
  E1PSH("rNUN");
  E1MES(5, 1, "Bad.");
  const std::string out = capture.finish();
  EXPECT_TRUE(out.starts_with(line("") + line(" *** TERMINAL ERROR 1 from RNUN.  Bad."))) << out;
  EXPECT_NE(out.find("     " + name32("RNUN") + "     5"), std::string::npos);
  EXPECT_EQ(out.find("rNUN"), std::string::npos);
  testing::fresh_library_state();
  StdoutCapture second;
  E1PSH("rnun");  // all lower case: shown as it is
  E1MES(5, 1, "Bad.");
  EXPECT_EQ(second.finish(), line("") + line(" *** TERMINAL ERROR 1 from rnun.  Bad."));
}

TEST_F(ErrorPrinting, SecondPrintWritesNothing) {
  StdoutCapture capture;
  E1PSH("RNUN");
  E1MES(1, 1, "Note.");
  E1PRT();
  E1PRT();
  EXPECT_EQ(capture.finish(), line("") + line(" *** NOTE     ERROR 1 from RNUN.  Note."));
}

TEST_F(ErrorPrinting, TypeNamesAreBlankFilledToEightColumns) {
  const char* expected[8] = {nullptr, "NOTE    ", "ALERT   ", "WARNING ", "FATAL   ",
                             "TERMINAL", "WARNING ", "FATAL   "};
  for (int32_t type = 1; type <= 7; ++type) {
    testing::fresh_library_state();
    E1PSH("X");
    error_state().print_on[type] = 0;  // keep it pending, then print it by hand
    E1MES(type, 1, "M.");
    StdoutCapture capture;
    E1PRT();
    EXPECT_EQ(capture.finish(), line("") + line(std::string(" *** ") + expected[type] + " ERROR 1 from X.  M."))
        << "type " << type;
  }
}

// A type or code that needs more than 6 columns fills its traceback field with asterisks.
TEST_F(ErrorPrinting, TracebackFieldTooNarrowShowsAsterisks) {
  StdoutCapture capture;
  E1PSH("A");
  E1PSH("B");
  E1MES(5, 1234567, "M.");
  EXPECT_EQ(capture.finish(), line("") + line(" *** TERMINAL ERROR 1234567 from B.  M.") + traceback_heading() +
                                  line("     " + name32("B") + "     5      ******    (Called internally)") +
                                  line("     " + name32("A") + "     0           0") +
                                  line("     " + name32("USER") + "     0           0"));
}

}  // namespace
}  // namespace propbf::numlib
