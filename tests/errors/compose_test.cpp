// Insertion values and the composition of messages from templates. Messages are
// posted as NOTEs (type 1), which are never printed at the post, so the composed
// text can be read from the pending message.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <limits>
#include <string>

#include "errors/output_capture.hpp"

namespace propbf::numlib {
namespace {

using testing::line;
using testing::pending_message;
using testing::StdoutCapture;

class Composition : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::fresh_library_state();
    E1PSH("T");
  }
  static std::string insertion_list() {
    const ErrorState& s = error_state();
    return s.insertion_end == 1 ? std::string() : std::string(s.insertion_list + 1, static_cast<size_t>(s.insertion_end));
  }
  static std::string compose(const std::string& message_template) {
    E1MES(1, 1, message_template);
    return pending_message();
  }
};

TEST_F(Composition, InsertionListEntriesHaveKeyLengthAndValue) {
  E1STI(1, 50);
  EXPECT_EQ(insertion_list(), "*I1*2%50");
  E1STL(1, "NR");
  EXPECT_EQ(insertion_list(), "*I1*2%50*L1*2%NR");
  E1STR(2, -1.0f);
  EXPECT_EQ(insertion_list(), "*I1*2%50*L1*2%NR*R2*13%-1.000000E+00");
  EXPECT_EQ(error_state().insertion_end, 36);
}

TEST_F(Composition, MarksAreReplacedByTheirValues) {
  E1STR(1, -1.0f);
  EXPECT_EQ(compose("PIN = %(R1).  PIN must be positive."), ".  PIN = -1.000000E+00.  PIN must be positive.");
  EXPECT_EQ(error_state().message_length, 46);
  EXPECT_EQ(error_state().insertion_end, 1);  // every post empties the list
}

// Integer values are written in full, real values with seven significant digits
// rounded from the eighth cut-off one. The real rows are worked by hand from the exact
// decimal value of the float.
TEST_F(Composition, IntegerValuesAreWrittenInFull) {
  const int32_t values[] = {0, -7, 50, 2147483647, std::numeric_limits<int32_t>::min()};
  const char* texts[] = {"0", "-7", "50", "2147483647", "-2147483648"};
  for (size_t i = 0; i < std::size(values); ++i) {
    E1STI(1, values[i]);
    EXPECT_EQ(compose("%(I1)"), std::string(".  ") + texts[i]);
  }
}

TEST_F(Composition, RealValuesKeepSevenDigitsRoundedFromTheEighth) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float value;
    const char* text;
    const char* why;
  } rows[] = {
      {0.0f, "0.000000E+00", "zero"},
      {-0.0f, "0.000000E+00", "negative zero is shown without sign"},
      {-1.0f, "-1.000000E+00", "exactly -1"},
      {0.5f, "5.000000E-01", "exactly 0.5"},
      {0.0025f, "2.500000E-03", "0.0024999999441...: 24999999 rounds up to 2500000"},
      {1.0e38f, "1.000000E+38", "9.9999996802...e37: carry out of the first digit"},
      {1.0f / 3.0f, "3.333333E-01", "0.33333334326...: eighth digit 4"},
      {2.0f / 3.0f, "6.666667E-01", "0.66666668653...: eighth digit 8"},
      {0.99999994f, "9.999999E-01", "0.99999994039...: eighth digit 4"},
      {3.40282347e38f, "3.402823E+38", "largest float 3.4028234663...e38"},
      {1.17549435e-38f, "1.175494E-38", "2^-126 = 1.1754943508...e-38"},
      {1.40129846e-45f, "1.401298E-45", "smallest subnormal 1.4012984643...e-45"},
      {-123456.789f, "-1.234568E+05", "-123456.7890625: eighth digit 8"},
      {inf, "INF", "infinity"},
      {-inf, "-INF", "negative infinity"},
      {nan, "NaN", "NaN without sign bit"},
      {-nan, "-NaN", "NaN with sign bit"},
  };
  for (const auto& row : rows) {
    E1STR(1, row.value);
    EXPECT_EQ(compose("%(R1)"), std::string(".  ") + row.text) << row.why;
  }
}

TEST_F(Composition, MarkWithoutAStoredValueStaysAsWritten) {
  E1STI(1, 3);
  EXPECT_EQ(compose("%(L1) = %(I1)."), ".  %(L1) = 3.");
  E1STI(1, 5);  // letters that nothing stores stay literal too
  EXPECT_EQ(compose("%(A1)%(C1)%(D1)%(K1)%(S1)%(Z1)%(X1)%(I1)"), ".  %(A1)%(C1)%(D1)%(K1)%(S1)%(Z1)%(X1)5");
}

TEST_F(Composition, LowerCaseMarkFindsTheValueAndDigitsOutsideOneToNineAreNoMarks) {
  E1STI(1, 5);
  E1STI(0, 6);   // not stored
  E1STI(10, 7);  // not stored
  EXPECT_EQ(compose("%(I0) %(I10) %(i1)"), ".  %(I0) %(I10) 5");
}

TEST_F(Composition, FirstOfTwoValuesUnderOneKeyIsUsed) {
  E1STI(1, 1);
  E1STI(1, 2);
  EXPECT_EQ(compose("%(I1)"), ".  1");
}

TEST_F(Composition, FiveCharacterTemplateMarkIsExpandedAndACutOffMarkIsNot) {
  E1STI(1, 42);
  EXPECT_EQ(compose("%(I1)"), ".  42");
  E1STI(1, 42);
  EXPECT_EQ(compose("N = %(I1"), ".  N = %(I1");
  EXPECT_EQ(compose("ab"), ".  ab");
}

TEST_F(Composition, ValuesAreNotExpandedAgain) {
  E1STL(1, "%(I1)");
  E1STI(1, 9);
  EXPECT_EQ(compose("%(L1)"), ".  %(I1)");
}

TEST_F(Composition, LiteralsLoseTrailingBlanksUnlessTheIndexIsNegative) {
  E1STL(1, "ab  ");
  E1STL(-2, "cd  ");
  E1STL(3, "   ");
  E1STL(-4, "");
  E1STL(10, "x");  // not stored
  E1STL(-10, "y");  // not stored
  EXPECT_EQ(compose("[%(L1)][%(L2)][%(L3)][%(L4)][%(L9)]"), ".  [ab][cd  ][ ][%(L4)][%(L9)]");
}

TEST_F(Composition, LiteralIsCutTo255Characters) {
  E1STL(1, std::string(254, 'a') + "bc");
  EXPECT_EQ(compose("%(L1)|"), ".  " + std::string(254, 'a') + "b|");
}

// A 255-character literal fills positions 1..263 (key, "255", '%', value). A second
// entry of length x needs 263 + 8 + x <= 300: 29 is stored, 30 is dropped.
TEST_F(Composition, EntryThatWouldPassThe300CharacterLimitIsDropped) {
  E1STL(-1, std::string(255, 'a'));
  EXPECT_EQ(error_state().insertion_end, 263);
  E1STL(-2, std::string(29, 'b'));
  EXPECT_EQ(error_state().insertion_end, 299);
  E1STI(3, 1);  // 299 + 8 + 1 > 300
  EXPECT_EQ(error_state().insertion_end, 299);
  EXPECT_EQ(compose("%(L2)|%(I3)"), ".  " + std::string(29, 'b') + "|%(I3)");

  E1STL(-1, std::string(255, 'a'));
  E1STL(-2, std::string(30, 'b'));
  EXPECT_EQ(error_state().insertion_end, 263);
  EXPECT_EQ(compose("%(L2)"), ".  %(L2)");
}

TEST_F(Composition, MessageIsCutAt1024Characters) {
  EXPECT_EQ(compose(std::string(2000, 'x')), ".  " + std::string(1021, 'x'));
  EXPECT_EQ(error_state().message_length, 1024);
  E1STL(1, "abcdefghij");
  EXPECT_EQ(compose(std::string(1019, 'x') + "%(L1)"), ".  " + std::string(1019, 'x') + "ab");
}

// Only the first 1024 template characters are read: the second mark is cut to "%(I".
TEST_F(Composition, TemplateIsCutTo1024Characters) {
  E1STI(1, 7);
  EXPECT_EQ(compose(std::string(1016, 'x') + "%(I1)%(I1)"), ".  " + std::string(1016, 'x') + "7%(I");
}

TEST_F(Composition, StoresInitialiseAFreshThread) {
  testing::fresh_library_state();
  E1STI(1, 4);
  EXPECT_TRUE(error_state().initialised);
  EXPECT_EQ(error_state().level, 1);
  EXPECT_EQ(insertion_list(), "*I1*1%4");
}

class Posting : public Composition {};

TEST_F(Posting, TypeZeroOrCodeZeroClearsThePendingMessage) {
  E1STI(1, 1);
  E1MES(1, 4, "Old %(I1).");
  E1STI(1, 2);
  StdoutCapture capture;
  E1MES(0, 3, "New.");
  EXPECT_EQ(error_state().message_length, 0);
  EXPECT_EQ(error_state().insertion_end, 1);
  EXPECT_EQ(error_state().error_type[2], 0);
  EXPECT_EQ(error_state().error_code[2], 3);
  E1MES(1, 4, "Old.");
  E1MES(5, 0, "New.");  // a terminal type with code 0 prints nothing
  EXPECT_EQ(error_state().message_length, 0);
  EXPECT_EQ(error_state().error_type[2], 5);
  EXPECT_EQ(error_state().error_code[2], 0);
  EXPECT_EQ(capture.finish(), "");
}

TEST_F(Posting, MinusOneKeepsTypeAndCode) {
  E1MES(3, 4, "First.");
  E1MES(-1, -1, "Second.");
  EXPECT_EQ(pending_message(), ".  Second.");
  EXPECT_EQ(error_state().error_type[2], 3);
  EXPECT_EQ(error_state().error_code[2], 4);
}

TEST_F(Posting, BlankTemplateRepostsTheOldMessageUnderTheNewTypeAndCode) {
  E1MES(1, 1, "Old.");
  StdoutCapture capture;
  E1MES(5, 7, " ");
  EXPECT_EQ(capture.finish(), line("") + line(" *** TERMINAL ERROR 7 from T.  Old."));
  E1MES(1, 1, "Old.");
  E1MES(2, 2, "");
  EXPECT_EQ(pending_message(), ".  Old.");
}

TEST_F(Posting, TypesOneToFourAreNotPrintedAtThePost) {
  StdoutCapture capture;
  for (int32_t type = 1; type <= 4; ++type) E1MES(type, 1, "Quiet.");
  EXPECT_EQ(capture.finish(), "");
  EXPECT_EQ(pending_message(), ".  Quiet.");
}

TEST_F(Posting, TypesSixAndSevenArePrintedAtOnceAndMarkedPending) {
  StdoutCapture capture;
  E1MES(6, 1, "Six.");
  E1MES(7, 2, "Seven.");
  EXPECT_EQ(capture.finish(), line("") + line(" *** WARNING  ERROR 1 from T.  Six.") + line("") +
                                  line(" *** FATAL    ERROR 2 from T.  Seven."));
  EXPECT_EQ(error_state().pending_type6, 1);
  EXPECT_EQ(error_state().pending_type7, 1);
}

TEST_F(Posting, StopQueryLetsTypeSevenOutweighTypeSix) {
  ErrorState& s = error_state();
  s.pending_type6 = 1;
  s.pending_type7 = 1;
  EXPECT_EQ(N1RGB(), 1);  // stop_on[7]
  EXPECT_EQ(s.pending_type6, 0);
  EXPECT_EQ(s.pending_type7, 0);
  EXPECT_EQ(N1RGB(), 0);
  s.pending_type6 = 1;
  EXPECT_EQ(N1RGB(), 0);  // stop_on[6]
}

TEST_F(Posting, IllegalTypesPrintUnknownWithTheOldCodeAndStop) {
  // ".  Error from E1MES.  Illegal error type specified." is 51 characters; the room
  // after " 4 from B" is 50, the last blank at or before it is position 41.
  for (const int32_t type : {8, -2}) {
    const auto run = testing::run_in_child([type] {
      E1PSH("A");
      E1PSH("B");
      E1MES(1, 4, "Earlier.");
      E1MES(type, 9, "Anything.");
    });
    EXPECT_EQ(run.exit_status, 1) << type;
    EXPECT_EQ(run.output, line("") + line(" *** UNKNOWN  ERROR 4 from B.  Error from E1MES.  Illegal error type") +
                              line(" ***          specified."))
        << type;
  }
}

class ArgumentCheck : public Composition {
 protected:
  void SetUp() override {
    Composition::SetUp();
    error_state().print_on[5] = 0;  // keep the message pending to read it
  }
};

TEST_F(ArgumentCheck, OneSidedCheckPostsWithTheCurrentCodeAndCountsUp) {
  int32_t code = 1;
  C1IARG(0, "NR", 1, 0, code);
  EXPECT_EQ(code, 2);
  EXPECT_EQ(error_state().error_type[2], 5);
  EXPECT_EQ(error_state().error_code[2], 1);
  EXPECT_EQ(pending_message(), ".  NR = 0.  NR must be greater than or equal to 1.");
}

TEST_F(ArgumentCheck, PassingValueCountsUpWithoutPosting) {
  int32_t code = 1;
  C1IARG(5, "NR", 1, 0, code);
  EXPECT_EQ(code, 2);
  EXPECT_EQ(error_state().error_type[2], 0);
  EXPECT_EQ(error_state().message_length, 0);
  C1IARG(10, "K", 1, 10, code);
  C1IARG(1, "K", 1, 10, code);
  EXPECT_EQ(code, 4);
  EXPECT_EQ(error_state().message_length, 0);
}

TEST_F(ArgumentCheck, TwoSidedCheckNamesBothBounds) {
  int32_t code = 3;
  C1IARG(11, "K", 1, 10, code);
  EXPECT_EQ(code, 4);
  EXPECT_EQ(error_state().error_code[2], 3);
  EXPECT_EQ(pending_message(), ".  K = 11.  K must be greater than or equal to 1 and less than or equal to 10.");
  C1IARG(-2147483647 - 1, "K", 1, 10, code);
  EXPECT_EQ(pending_message(),
            ".  K = -2147483648.  K must be greater than or equal to 1 and less than or equal to 10.");
}

}  // namespace
}  // namespace propbf::numlib
