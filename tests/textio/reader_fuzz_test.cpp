// Random input never crashes the reader: each of a few hundred random files is read in
// a child process, which must either finish or end with the fatal report (status 255).
// Run under the sanitizer build this also checks for memory errors and undefined
// behaviour, which end the child with another status.

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "textio_test_support.hpp"

namespace propbf::textio {
namespace {

class ReaderFuzz : public testing::ScratchDir {};

// Mostly readable text: numbers and separators, with now and then a repeat count, a
// real where an integer may be wanted, or a letter.
std::string random_pieces(std::mt19937& gen) {
  static constexpr const char* kNumbers[] = {"12", "-3", "0", "7", "+5", "2147483647"};
  static constexpr const char* kSeparators[] = {",", " ", "  ", "\n", "\n", "\n", "\r\n", "\t", ",,", "/"};
  static constexpr const char* kRare[] = {"3*", "2*,", "1e2", "4.5", "x", "3* "};
  const std::size_t count = gen() % 40;
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (gen() % 12 == 0) text += kRare[gen() % std::size(kRare)];
    text += kNumbers[gen() % std::size(kNumbers)];
    text += kSeparators[gen() % std::size(kSeparators)];
  }
  return text;
}

// Bytes drawn mostly from the characters that mean something to the reader.
std::string random_text(std::mt19937& gen) {
  static constexpr char kAlphabet[] = "0123456789000111+-.eEdDqQiInN,,,///***   \t\r\n\n\nx";
  const std::size_t length = gen() % 400;
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    if (gen() % 16 == 0) {
      text.push_back(static_cast<char>(gen() % 256));
    } else {
      text.push_back(kAlphabet[gen() % (sizeof kAlphabet - 1)]);
    }
  }
  return text;
}

TEST_F(ReaderFuzz, RandomFilesEndCleanly) {
  std::mt19937 gen(20240611u);  // fixed seed: the same files every run
  int finished = 0;
  int reported = 0;
  for (int file = 0; file < 300; ++file) {
    const std::string text = file % 2 == 0 ? random_text(gen) : random_pieces(gen);
    const std::string p = path("input.txt");
    testing::write_file(p, text);
    const uint32_t plan = gen();
    auto outcome = testing::run_in_child(dir_.string(), [&] {
      open_unit(kInputFile, p);
      for (int step_number = 0; step_number < 6; ++step_number) {
        ReadStep step(kInputFile);
        const int count = static_cast<int>((plan >> (4 * step_number)) % 7);
        for (int k = 0; k < count; ++k) {
          if ((plan >> (step_number + k)) & 1) {
            float f = 0.0f;
            step.take(f);
          } else {
            int32_t i = 0;
            step.take(i);
          }
        }
      }
    });
    ASSERT_TRUE(outcome.exited) << "input: " << ::testing::PrintToString(text);
    ASSERT_TRUE(outcome.status == 0 || outcome.status == 255)
        << "status " << outcome.status << " for input " << ::testing::PrintToString(text)
        << "\n" << outcome.err;
    if (outcome.status == 0) {
      ++finished;
    } else {
      ++reported;
      ASSERT_EQ(outcome.err.rfind("? Run-time Error\r\n? ", 0), 0u) << outcome.err;
    }
  }
  // Both ends must have been reached, or the generator is not exercising much.
  EXPECT_GT(finished, 10);
  EXPECT_GT(reported, 10);
}

// Random tokens of digits, points, signs and exponent letters: a refused token leaves
// the value as it was; a token that strtod or strtoll reads whole (d and D read as e)
// is accepted with their value (the real rounded to the nearest double, then to float).
TEST(RealTokenFuzz, RandomTokensMatchTheCLibrary) {
  std::mt19937 gen(7u);
  static constexpr char kAlphabet[] = "0123456789.eEdD+-9999000";
  int compared_reals = 0;
  int compared_integers = 0;
  int refused = 0;
  for (int n = 0; n < 20000; ++n) {
    std::string token;
    const std::size_t length = gen() % 40;
    for (std::size_t i = 0; i < length; ++i) token.push_back(kAlphabet[gen() % (sizeof kAlphabet - 1)]);
    SCOPED_TRACE(token);

    float f = 12345.0f;
    const bool real_taken = convert_real_token(token, f);
    if (!real_taken) {
      ++refused;
      EXPECT_EQ(f, 12345.0f);
    }
    std::string c_token = token;
    for (char& c : c_token) {
      if (c == 'd' || c == 'D') c = 'e';
    }
    char* end = nullptr;
    const double d = std::strtod(c_token.c_str(), &end);
    if (!c_token.empty() && end == c_token.c_str() + c_token.size()) {
      ++compared_reals;
      EXPECT_TRUE(real_taken);
      EXPECT_EQ(std::bit_cast<uint32_t>(f), std::bit_cast<uint32_t>(static_cast<float>(d)));
    }

    int32_t i = 12345;
    const bool integer_taken = convert_integer_token(token, i);
    if (!integer_taken) {
      EXPECT_EQ(i, 12345);
    }
    errno = 0;
    const long long ll = std::strtoll(token.c_str(), &end, 10);
    if (!token.empty() && end == token.c_str() + token.size() && errno == 0) {
      ++compared_integers;
      const bool in_range = ll >= INT32_MIN && ll <= INT32_MAX;
      EXPECT_EQ(integer_taken, in_range);
      if (in_range) {
        EXPECT_EQ(i, ll);
      }
    }
  }
  // The generator reaches every kind of outcome.
  EXPECT_GT(compared_reals, 1000);
  EXPECT_GT(compared_integers, 100);
  EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace propbf::textio
