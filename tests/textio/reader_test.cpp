// The free-form read step: records, separators, nulls, slashes, repeat counts, the
// flag for a comma after a value that ended its record, and the fatal ends.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "textio/connections.hpp"
#include "textio_test_support.hpp"

namespace propbf::textio {
namespace {

using testing::bits_of;
using testing::fatal_text;
using testing::run_in_child;
using testing::write_file;

constexpr int32_t kUnset = -99;

class Reader : public testing::ScratchDir {
 protected:
  void input(const std::string& text) {
    write_file(path("input.txt"), text);
    open_unit(kInputFile, path("input.txt"));
  }
  // One step of n integers, all starting as kUnset.
  std::vector<int32_t> ints(int n) {
    std::vector<int32_t> v(static_cast<std::size_t>(n), kUnset);
    ReadStep step(kInputFile);
    step.take(std::span<int32_t>(v));
    return v;
  }
  std::vector<float> reals(int n) {
    std::vector<float> v(static_cast<std::size_t>(n), -1.0f);
    ReadStep step(kInputFile);
    step.take(std::span<float>(v));
    return v;
  }
  // Runs the steps in a child and returns how it ended.
  template <class Body>
  testing::ChildOutcome in_child(Body body) {
    return run_in_child(dir_.string(), body);
  }
};

using V = std::vector<int32_t>;

TEST_F(Reader, CommasAndNullValues) {
  input("1,,3\n1 , , 3\n,5\n1, , 3\n1 ,2\n");
  EXPECT_EQ(ints(3), (V{1, kUnset, 3}));
  EXPECT_EQ(ints(3), (V{1, kUnset, 3}));
  EXPECT_EQ(ints(2), (V{kUnset, 5}));  // a comma before the first value
  EXPECT_EQ(ints(3), (V{1, kUnset, 3}));
  EXPECT_EQ(ints(2), (V{1, 2}));  // blanks then a comma: one separator
}

TEST_F(Reader, CommaAfterAValueThatEndedItsRecord) {
  input("1\n,2\n"
        "1\n,,2\n"
        "1,\n,2\n"
        "1  \n  , 2\n"
        "1\n, ,2\n"
        "1\n\n\n,2\n");
  EXPECT_EQ(ints(2), (V{1, 2}));              // the comma belongs to the line end
  EXPECT_EQ(ints(3), (V{1, kUnset, 2}));      // the second comma is a null
  EXPECT_EQ(ints(3), (V{1, kUnset, 2}));      // the first comma ended the 1 already
  EXPECT_EQ(ints(2), (V{1, 2}));              // trailing blanks also set the flag
  EXPECT_EQ(ints(3), (V{1, kUnset, 2}));      // blanks between the two commas
  EXPECT_EQ(ints(2), (V{1, 2}));              // empty records in between
}

TEST_F(Reader, RepeatCounts) {
  input("3*0.5\n2*,7\n2* 7\n2*\n7\n3*5 6\n2*/ 9\n2* ,5\n");
  const std::vector<float> halves = reals(3);
  for (float h : halves) EXPECT_EQ(h, 0.5f);
  EXPECT_EQ(ints(3), (V{kUnset, kUnset, 7}));
  EXPECT_EQ(ints(2), (V{7, 7}));
  EXPECT_EQ(ints(2), (V{7, 7}));  // the count reaches onto the next record
  EXPECT_EQ(ints(4), (V{5, 5, 5, 6}));
  EXPECT_EQ(ints(3), (V{kUnset, kUnset, kUnset}));  // a slash as the repeated value
  EXPECT_EQ(ints(3), (V{kUnset, kUnset, 5}));       // a null from the comma, twice
}

TEST_F(Reader, RepeatedTokenIsConvertedForEachTarget) {
  input("2*3\n");
  int32_t i = 0;
  float f = 0.0f;
  ReadStep step(kInputFile);
  step.take(i);
  step.take(f);
  EXPECT_EQ(i, 3);
  EXPECT_EQ(f, 3.0f);
}

TEST_F(Reader, UnusedRepeatsAndValuesDoNotCarryOver) {
  input("3*1\n4 5 / 6\n7 8\n9\n");
  EXPECT_EQ(ints(2), (V{1, 1}));
  EXPECT_EQ(ints(3), (V{4, 5, kUnset}));  // the 6 is never read
  EXPECT_EQ(ints(1), (V{7}));
  EXPECT_EQ(ints(1), (V{9}));
}

TEST_F(Reader, SlashEndsTheStep) {
  input("/ 5\n1/\n2\n");
  EXPECT_EQ(ints(2), (V{kUnset, kUnset}));
  EXPECT_EQ(ints(2), (V{1, kUnset}));  // a slash right after a token
  EXPECT_EQ(ints(1), (V{2}));
}

TEST_F(Reader, ValuesSpreadOverLinesWithEmptyLines) {
  input("1\n\n   \n2\n\n3 99\n7\n");
  EXPECT_EQ(ints(3), (V{1, 2, 3}));
  EXPECT_EQ(ints(1), (V{7}));
}

TEST_F(Reader, StepWithoutTargetsConsumesOneRecord) {
  input("heading 1 2 3\n\n4\n");
  { ReadStep heading(kInputFile); }
  { ReadStep empty_line(kInputFile); }
  EXPECT_EQ(ints(1), (V{4}));
}

TEST_F(Reader, RealForms) {
  input("1 -.5 5. 1e-3 1D-3 1-3 +1.5E+3\nNaN nan Inf -INFINITY\n");
  const std::vector<float> r = reals(7);
  const float expected[] = {1.0f, -0.5f, 5.0f, 1e-3f, 1e-3f, 1e-3f, 1500.0f};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(bits_of(r[i]), bits_of(expected[i])) << i;
  const std::vector<float> s = reals(4);
  EXPECT_TRUE(std::isnan(s[0]));
  EXPECT_TRUE(std::isnan(s[1]));
  EXPECT_EQ(s[2], std::numeric_limits<float>::infinity());
  EXPECT_EQ(s[3], -std::numeric_limits<float>::infinity());
}

TEST_F(Reader, LineEndsAndTabs) {
  input("1 2\r\n3\t4\t\t5\r\n\r\n6,\t7\n8 9");
  EXPECT_EQ(ints(2), (V{1, 2}));
  EXPECT_EQ(ints(3), (V{3, 4, 5}));
  EXPECT_EQ(ints(2), (V{6, 7}));  // the empty CR LF record is skipped
  EXPECT_EQ(ints(2), (V{8, 9}));  // last line without a line end
}

TEST_F(Reader, RecordsDropCarriageReturnsAndExpandTabs) {
  input("a\tb\n\tx\n1234567\tx\n12345678\tx\na\rb\r\n\r\tx\n\r");
  std::string record;
  const std::string expected[] = {"a       b",         "        x", "1234567 x",
                                  "12345678        x", "ab",         "        x", ""};
  for (const std::string& e : expected) {
    ASSERT_TRUE(detail::read_record(kInputFile, record));
    EXPECT_EQ(record, e);
  }
  EXPECT_FALSE(detail::read_record(kInputFile, record));
}

TEST_F(Reader, LongRecordsCrossTheInputBlock) {
  std::string text;
  std::vector<int32_t> expected;
  for (int i = 0; i < 5000; ++i) {
    text += std::to_string(i * 7919 % 100003) + (i % 3 == 0 ? "," : " ");
    expected.push_back(i * 7919 % 100003);
  }
  input(std::string(9000, ' ') + text + "\n42\n");
  EXPECT_EQ(ints(5000), expected);
  EXPECT_EQ(ints(1), (V{42}));
}

TEST_F(Reader, StandardInputIsUnitFive) {
  write_file(path("stdin.txt"), "5 6\n");
  auto outcome = run_in_child(
      dir_.string(),
      [] {
        int32_t a = 0, b = 0;
        ReadStep step(kStandardInput);
        step.take(a);
        step.take(b);
        write_free(kConsole, {a, b});
      },
      path("stdin.txt"));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "   5  6\r\n");
}

const std::string kEndOfFileReport =
    fatal_text("Run-time Error", "Attempt to read past end of file", "READ(UNIT=21,...");
const std::string kIllegalReport =
    fatal_text("Run-time Error", "Illegal character in numeric input", "READ(UNIT=21,...");

using ReaderDeathTest = Reader;

TEST_F(ReaderDeathTest, EndOfFileInsideAStep) {
  input("1 2\n");
  EXPECT_EXIT(ints(3), ::testing::ExitedWithCode(255),
              "^\\? Run-time Error\r\n\\? Attempt to read past end of file\r\n\\? READ\\(UNIT=21,\\.\\.\\.\n$");
}

TEST_F(ReaderDeathTest, IllegalToken) {
  input("1.0\n");
  EXPECT_EXIT(ints(1), ::testing::ExitedWithCode(255),
              "^\\? Run-time Error\r\n\\? Illegal character in numeric input\r\n\\? READ\\(UNIT=21,\\.\\.\\.\n$");
}

TEST_F(Reader, EndOfFileCases) {
  for (const char* text : {"", "1 2\n", "1 2", "3*\n", "1,\n\n  \n"}) {
    input(text);
    auto outcome = in_child([&] { ints(3); });
    EXPECT_EQ(outcome.status, 255) << text;
    EXPECT_EQ(outcome.err, kEndOfFileReport) << text;
    EXPECT_EQ(outcome.out, "") << text;
  }
  input("only\n");
  auto outcome = in_child([&] {
    { ReadStep heading(kInputFile); }
    ReadStep next(kInputFile);  // a step needs a record even without targets
  });
  EXPECT_EQ(outcome.err, kEndOfFileReport);
}

TEST_F(Reader, IllegalIntegerAndCountTokens) {
  for (const char* text : {"1.0", "1e3", "x", "2147483648", "-2147483649", "0*5", "*5", "a*5",
                           "2*3*4", "2* 3*4", "2*\n3*4", "99999999999*1", "1**2", "-2*3", "+2*3"}) {
    input(text);
    auto outcome = in_child([&] { ints(3); });
    EXPECT_EQ(outcome.status, 255) << text;
    EXPECT_EQ(outcome.err, kIllegalReport) << text;
  }
}

TEST_F(Reader, IllegalRealTokens) {
  for (const char* text : {"1..2", "1e5.", "1e5e3", "1.5-3-2", "abc", "1x"}) {
    input(text);
    auto outcome = in_child([&] { reals(1); });
    EXPECT_EQ(outcome.status, 255) << text;
    EXPECT_EQ(outcome.err, kIllegalReport) << text;
  }
}

TEST_F(Reader, LargestCountIsAccepted) {
  input("2147483647*4\n");
  EXPECT_EQ(ints(3), (V{4, 4, 4}));
}

}  // namespace
}  // namespace propbf::textio
