// The integer/text conversions of the error machine, C1TCI and C1TIC.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "errors/errors.hpp"

namespace propbf::numlib {
namespace {

TEST(TextToInteger, ConvertsTheLeadingInteger) {
  const struct {
    const char* text;
    int32_t number;
    int32_t status;
  } rows[] = {
      {"123", 123, 0},
      {"  -42", -42, 0},
      {"- 5", -5, 0},          // blanks between sign and digits
      {"+007", 7, 0},          // leading zeros skipped
      {"12%", 12, 3},          // first character not used
      {"12 ", 12, 3},          // trailing blanks are not skipped
      {"   ", 0, 1},           // all blank
      {"+", 0, 1},             // no digit after the sign: the sign's position
      {" - x", 0, 2},
      {"00x", 0, 3},           // only zeros before a non-digit
      {"x1", 0, 1},            // neither sign nor digit
      {"2147483647", 2147483647, 0},
      {"-2147483647", -2147483647, 0},
  };
  for (const auto& row : rows) {
    int32_t number = -1;
    int32_t status = -9;
    C1TCI(row.text, number, status);
    EXPECT_EQ(number, row.number) << '"' << row.text << '"';
    EXPECT_EQ(status, row.status) << '"' << row.text << '"';
  }
}

TEST(TextToInteger, EmptyTextAndOverflow) {
  int32_t number = -1;
  int32_t status = 0;
  C1TCI("", number, status);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(number, 0);
  C1TCI("2147483648", number, status);
  EXPECT_EQ(status, -2);
  C1TCI("99999999999999", number, status);
  EXPECT_EQ(status, -2);
}

TEST(IntegerToText, RightJustifiedOrLowOrderDigits) {
  const struct {
    int32_t number;
    size_t width;
    const char* text;
    int32_t status;
  } rows[] = {
      {0, 3, "  0", 0},
      {-42, 5, "  -42", 0},
      {12345, 5, "12345", 0},
      {12345, 3, "345", 2},
      {-12, 2, "12", 1},
      {std::numeric_limits<int32_t>::min(), 11, "-2147483648", 0},
      {2147483647, 11, " 2147483647", 0},
  };
  for (const auto& row : rows) {
    std::string text(row.width, '?');
    int32_t status = -9;
    C1TIC(row.number, std::span<char>(text.data(), text.size()), status);
    EXPECT_EQ(text, row.text) << row.number;
    EXPECT_EQ(status, row.status) << row.number;
  }
  int32_t status = 0;
  C1TIC(1, std::span<char>(), status);
  EXPECT_EQ(status, -1);
}

}  // namespace
}  // namespace propbf::numlib
