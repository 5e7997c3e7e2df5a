// The routine-name stack and what a pop does with an error: passing it up, printing
// it, stopping the run (exit status 1), and the faults of the machine itself.
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

std::string numbered_routine(int level) {
  std::string name(1, 'R');
  name += std::to_string(level);
  return name;
}

class RoutineStack : public ::testing::Test {
 protected:
  void SetUp() override { testing::fresh_library_state(); }
};

TEST_F(RoutineStack, InitialStateHasTheUserAtLevelOne) {
  E1INIT();
  const ErrorState& s = error_state();
  EXPECT_EQ(s.level, 1);
  EXPECT_EQ(s.max_level, 50);
  EXPECT_EQ(std::string(s.routine_name[1], 32), name32("USER"));
  EXPECT_EQ(s.user_level[1], 1);
  EXPECT_EQ(s.error_type[2], -1);
  EXPECT_EQ(s.error_code[51], -1);
  const int32_t print[8] = {0, 0, 0, 1, 1, 1, 1, 1};
  const int32_t stop[8] = {0, 0, 0, 0, 1, 1, 0, 1};
  for (int32_t t = 1; t <= 7; ++t) {
    EXPECT_EQ(s.print_on[t], print[t]) << t;
    EXPECT_EQ(s.stop_on[t], stop[t]) << t;
    EXPECT_EQ(s.traceback_on[t], 1) << t;
  }
}

TEST_F(RoutineStack, PushStoresTheNameBlankFilledOrCutTo32) {
  E1PSH("RNBET");
  E1PSH(std::string(40, 'N'));
  const ErrorState& s = error_state();
  EXPECT_EQ(s.level, 3);
  EXPECT_EQ(std::string(s.routine_name[2], 32), name32("RNBET"));
  EXPECT_EQ(std::string(s.routine_name[3], 32), std::string(32, 'N'));
  EXPECT_EQ(s.error_type[3], 0);
  EXPECT_EQ(s.error_code[3], 0);
  E1POP(std::string(32, 'N') + "    ");  // beyond the 32nd only blanks: a match
  E1POP("RNBET   ");                    // trailing blanks are ignored
  EXPECT_EQ(s.level, 1);
}

// A pop naming another routine (the name in lower case is another name) is a terminal
// error of the routine on the stack. ".  Error condition in E1POP.  SVRGN does not match
// the name RNUN in the stack." (78 characters) with the room 59 - 12 = 47, and the
// message for rnbet with the room 59 - 13 = 46, both break at position 45 (between "not"
// and "match").
TEST_F(RoutineStack, PopOfAnotherNameIsAMismatchThatWraps) {
  struct Case {
    const char* pushed;
    const char* popped;
  };
  for (const Case c : {Case{"RNBET", "rnbet"}, Case{"RNUN", "SVRGN"}}) {
    const auto run = run_in_child([&] {
      E1PSH(c.pushed);
      E1POP(c.popped);
    });
    EXPECT_EQ(run.exit_status, 1) << c.popped;
    EXPECT_EQ(run.output, line("") +
                              line(std::string(" *** TERMINAL ERROR 2 from ") + c.pushed +
                                   ".  Error condition in E1POP.  " + c.popped + " does not") +
                              line(std::string(" ***          match the name ") + c.pushed + " in the stack."));
  }
}

TEST_F(RoutineStack, LongerNameThatDiffersBeyond32CharactersIsAMismatch) {
  const auto run = run_in_child([] {
    E1PSH(std::string(32, 'N'));
    E1POP(std::string(32, 'N') + "X");
  });
  EXPECT_EQ(run.exit_status, 1);
}

TEST_F(RoutineStack, PopFromTheUserLevelStops) {
  // Pushes E1POP first; the room after " 1 from E1POP" is 46, a blank stands at 46.
  const auto run = run_in_child([] { E1POP("RNUN"); });
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.output, line("") +
                            line(" *** TERMINAL ERROR 1 from E1POP.  Error condition in E1POP.  Cannot pop from") +
                            line(" ***          RNUN because stack is empty."));
}

// Levels 2..50 hold R2..R50; the push from R50 fails. ".  Error condition in E1PSH.
// Push would cause stack level to exceed 50. " (73 characters, ending in a blank)
// breaks at position 47 for the room 59 - 11 = 48. Every level from 3 up was called
// internally.
TEST_F(RoutineStack, FiftiethNestedPushStopsWithTheLimitInTheMessage) {
  const auto run = run_in_child([] {
    for (int level = 2; level <= 50; ++level) E1PSH(numbered_routine(level));
    if (error_state().level != 50) ::_exit(3);
    E1PSH("R51");
  });
  EXPECT_EQ(run.exit_status, 1);
  std::string expected = line("") + line(" *** TERMINAL ERROR 1 from R50.  Error condition in E1PSH.  Push would cause") +
                         line(" ***          stack level to exceed 50. ") + traceback_heading() +
                         line("     " + name32("R50") + "     5      " + "     1    (Called internally)");
  for (int level = 49; level >= 3; --level) {
    expected += line("     " + name32(numbered_routine(level)) + "     0      " + "     0    (Called internally)");
  }
  expected += line("     " + name32("R2") + "     0      " + "     0");
  expected += line("     " + name32("USER") + "     0      " + "     0");
  EXPECT_EQ(run.output, expected);
}

TEST_F(RoutineStack, PopPassesTypesTwoToSevenUpButNotANote) {
  E1INIT();
  ErrorState& s = error_state();
  s.print_on[5] = 0;
  s.stop_on[5] = 0;
  E1PSH("A");
  E1PSH("B");
  E1MES(1, 3, "Note.");
  E1POP("B");
  EXPECT_EQ(s.error_type[2], 0);
  EXPECT_EQ(s.error_code[2], 0);
  EXPECT_EQ(N1RCD(1), 3);  // left at the level just above
  E1PSH("B");
  EXPECT_EQ(N1RCD(1), -1);  // the pop of B set the level above B's to -1
  E1MES(2, 4, "Alert.");
  E1POP("B");
  EXPECT_EQ(s.error_type[2], 2);
  EXPECT_EQ(s.error_code[2], 4);
  EXPECT_EQ(s.error_type[4], -1);  // the level above the one left is cleared
  E1POP("A");
  EXPECT_EQ(s.level, 1);
  EXPECT_EQ(N1RCD(0), 4);  // the user level keeps the last code handed up
  EXPECT_EQ(N1RCD(1), 4);
}

TEST_F(RoutineStack, CodeQueryAfterACalleeThatPostedNothingIsZero) {
  E1PSH("A");
  E1POP("A");
  EXPECT_EQ(N1RCD(1), 0);
  E1PSH("A");
  E1MES(2, 3, "Alert.");
  E1POP("A");
  EXPECT_EQ(N1RCD(1), 3);
}

TEST_F(RoutineStack, CodeQueryWithABadOptionStopsWhateverTheSettings) {
  // ".  The argument passed to N1RCD must be 0 or 1." is 47 characters, exactly the
  // room after " 1 from RNUN".
  const auto run = run_in_child([] {
    E1PSH("RNUN");
    error_state().print_on[5] = 0;
    error_state().stop_on[5] = 0;
    (void)N1RCD(2);
  });
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.output, line("") + line(" *** TERMINAL ERROR 1 from RNUN.  The argument passed to N1RCD must be 0 or 1."));
}

class ActingAtThePop : public RoutineStack {};

TEST_F(ActingAtThePop, WarningIsPrintedWhenTheRoutineTheUserCalledReturns) {
  // Posted two levels down, the message carries the outer routine's name and the code
  // handed up; at level 2 there is no traceback; the run goes on.
  StdoutCapture capture;
  E1PSH("OUTER");
  E1PSH("INNER");
  E1MES(3, 6, "Careful.");
  E1POP("INNER");
  const std::string before_outer_returns = capture.finish();
  StdoutCapture second;
  E1POP("OUTER");
  EXPECT_EQ(before_outer_returns, "");
  EXPECT_EQ(second.finish(), line("") + line(" *** WARNING  ERROR 6 from OUTER.  Careful."));
  EXPECT_EQ(error_state().level, 1);
}

TEST_F(ActingAtThePop, NotesAndAlertsAreNeverPrinted) {
  StdoutCapture capture;
  E1PSH("A");
  E1MES(1, 1, "Note.");
  E1POP("A");
  E1PSH("A");
  E1MES(2, 1, "Alert.");
  E1POP("A");
  EXPECT_EQ(capture.finish(), "");
}

TEST_F(ActingAtThePop, FatalIsPrintedAtTheReturnAndThenStops) {
  const auto run = run_in_child([] {
    E1PSH("A");
    E1MES(4, 2, "Fatal.");
    E1POP("A");
  });
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.output, line("") + line(" *** FATAL    ERROR 2 from A.  Fatal."));
}

TEST_F(ActingAtThePop, TerminalStopsAtThePopOfItsOwnLevel) {
  const auto run = run_in_child([] {
    E1PSH("A");
    E1PSH("B");
    error_state().print_on[5] = 0;  // nothing printed: the stop comes from the pop alone
    E1MES(5, 1, "Terminal.");
    std::printf("posted\r\n");
    std::fflush(stdout);
    E1POP("B");
    std::printf("popped\r\n");
    std::fflush(stdout);
  });
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.output, "posted\r\n");
}

TEST_F(ActingAtThePop, ImmediateWarningDoesNotStop) {
  const auto run = run_in_child([] {
    E1PSH("A");
    E1MES(6, 1, "Warning.");
    E1POP("A");
  });
  EXPECT_EQ(run.exit_status, testing::kStatementReturned);
  EXPECT_EQ(run.output, line("") + line(" *** WARNING  ERROR 1 from A.  Warning."));
}

TEST_F(ActingAtThePop, ImmediateFatalStopsWhenTheRoutineTheUserCalledReturns) {
  const auto run = run_in_child([] {
    E1PSH("A");
    E1PSH("B");
    E1MES(7, 2, "Fatal.");
    E1POP("B");
    std::printf("between\r\n");
    std::fflush(stdout);
    E1POP("A");
  });
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.output, line("") + line(" *** FATAL    ERROR 2 from B.  Fatal.") + traceback_heading() +
                            line("     " + name32("B") + "     7      " + "     2    (Called internally)") +
                            line("     " + name32("A") + "     0      " + "     0") +
                            line("     " + name32("USER") + "     0      " + "     0") + "between\r\n");
}

TEST(LibraryStop, ExitsWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // earlier tests may have left OpenMP threads
  EXPECT_EXIT(library_stop(), ::testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace propbf::numlib
