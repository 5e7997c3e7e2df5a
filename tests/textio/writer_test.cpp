// Free-form and fixed-layout write steps, byte for byte, on a file and on the console,
// and round trips of written fields through the reader.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "textio_test_support.hpp"

namespace propbf::textio {
namespace {

using testing::float_of;
using testing::read_file;
using testing::run_in_child;

class Writer : public testing::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    open_unit(kOutputFile, path("output.txt"));
  }
  // Everything written so far to unit 23.
  std::string written() {
    close_all_files();
    std::string text = read_file(path("output.txt"));
    open_unit(kOutputFile, path("other.txt"));
    return text;
  }
};

constexpr std::string_view kComplexity = "Completed: Evaluation of Complexity Restriction  ";  // 49 characters

TEST_F(Writer, FreeFormLines) {
  ASSERT_EQ(kComplexity.size(), 49u);
  write_free(kOutputFile, {"Analysis Completed"});
  write_free(kOutputFile, {kComplexity, 3});
  write_free(kOutputFile, {kComplexity, 12});
  write_free(kOutputFile, {"fit ="});
  write_free(kOutputFile, {});
  write_free(kOutputFile, {"x", -4});
  write_free(kOutputFile, {1, "a"});
  write_free(kOutputFile, {"a ", "b  "});
  write_free(kOutputFile, {std::numeric_limits<int32_t>::min(), 0});
  const std::string expected = " Analysis Completed\r\n"
                               " " + std::string(kComplexity) + "  3\r\n"
                               " " + std::string(kComplexity) + "  12\r\n"
                               " fit =\r\n"
                               " \r\n"
                               " x -4\r\n"
                               "   1 a\r\n"
                               " a b  \r\n"
                               "  -2147483648  0\r\n";
  EXPECT_EQ(written(), expected);
}

TEST_F(Writer, ReportLayouts) {
  const LayoutElement one12[] = {LayoutElement::fixed_point(12, 10)};
  const LayoutElement one17[] = {LayoutElement::fixed_point(17, 10)};
  const LayoutElement two17[] = {LayoutElement::fixed_point(17, 10), LayoutElement::blanks(3),
                                 LayoutElement::fixed_point(17, 10)};
  const FieldValue third[] = {float_of(0x3EAAAAAB)};
  const FieldValue big[] = {2.5f};
  const FieldValue pair[] = {1.5f, 2.5f};
  write_fixed(kOutputFile, one12, third);
  write_fixed(kOutputFile, one17, big);
  write_fixed(kOutputFile, two17, pair);
  const std::string expected = "0.3333333400\r\n"
                               "     2.5000000000\r\n"
                               "     1.5000000000        2.5000000000\r\n";
  EXPECT_EQ(written(), expected);
  EXPECT_EQ(std::string("     1.5000000000        2.5000000000").size(), 37u);
}

TEST_F(Writer, ElementsAfterTheLastValueAndLineBreaks) {
  const LayoutElement framed[] = {LayoutElement::text("a="), LayoutElement::fixed_point(5, 2),
                                  LayoutElement::text("|"), LayoutElement::fixed_point(5, 2),
                                  LayoutElement::text("#")};
  const FieldValue one[] = {1.0f};
  write_fixed(kOutputFile, framed, one);  // stops before the second field
  const LayoutElement breaks[] = {LayoutElement::line_break(), LayoutElement::text("mid"),
                                  LayoutElement::line_break()};
  write_fixed(kOutputFile, breaks, {});
  const LayoutElement fields[] = {LayoutElement::text_field(5), LayoutElement::integer_field(4),
                                  LayoutElement::text_field(3)};
  const FieldValue mixed[] = {std::string_view("ab"), int32_t{-7}, std::string_view("abcdef")};
  write_fixed(kOutputFile, fields, mixed);
  const FieldValue wrong_kind[] = {int32_t{5}, 1.0f};
  write_fixed(kOutputFile, fields, wrong_kind);
  write_line(kOutputFile, "");
  write_line(kOutputFile, "plain text ");
  const std::string expected = "a= 1.00|\r\n"
                               "\r\nmid\r\n\r\n"
                               "   ab  -7abc\r\n"
                               "*********\r\n"
                               "\r\n"
                               "plain text \r\n";
  EXPECT_EQ(written(), expected);
}

TEST_F(Writer, MoreValuesThanFieldsStartTheLayoutAgain) {
  const LayoutElement layout[] = {LayoutElement::text("v"), LayoutElement::fixed_point(5, 2)};
  const FieldValue values[] = {1.0f, 2.0f, 3.0f};
  write_fixed(kOutputFile, layout, values);
  EXPECT_EQ(written(), "v 1.00\r\nv 2.00\r\nv 3.00\r\n");
}

TEST_F(Writer, ConsoleUnitsGoToStandardOutput) {
  auto outcome = run_in_child(dir_.string(), [] {
    write_free(kConsole, {"Analysis Completed"});
    write_line(kStandardOutput, "six");
    write_line(77, "not connected");
  });
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, " Analysis Completed\r\nsix\r\nnot connected\r\n");
  EXPECT_EQ(outcome.err, "");
}

TEST_F(Writer, FieldsReadBackToTheSameValue) {
  // Every value here prints within half a unit in the last place of its float.
  const float values[] = {0.5f, 0.1f, float_of(0x3EAAAAAB), float_of(0x3F2AAAAB), 2.5f, -0.5f,
                          999999.875f, 1234.5f, 0.0f, std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity()};
  const LayoutElement layout[] = {LayoutElement::fixed_point(17, 10), LayoutElement::blanks(3),
                                  LayoutElement::fixed_point(17, 10)};
  std::vector<FieldValue> fields(std::begin(values), std::end(values));
  write_fixed(kOutputFile, layout, fields);
  close_all_files();
  open_unit(kInputFile, path("output.txt"));
  float back[std::size(values)];
  for (float& b : back) b = 12345.0f;
  {
    ReadStep step(kInputFile);
    step.take(std::span<float>(back));
  }
  for (std::size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(testing::bits_of(back[i]), testing::bits_of(values[i])) << i;
  }
  // A NaN written with its sign bit reads back as the quiet NaN.
  close_all_files();
  open_unit(kOutputFile, path("nan.txt"));
  const FieldValue nan[] = {float_of(0xFFC00000)};
  write_fixed(kOutputFile, layout, nan);
  close_all_files();
  open_unit(kInputFile, path("nan.txt"));
  float nan_back = 0.0f;
  ReadStep step(kInputFile);
  step.take(nan_back);
  EXPECT_EQ(testing::bits_of(nan_back), 0x7FC00000u);
}

}  // namespace
}  // namespace propbf::textio
