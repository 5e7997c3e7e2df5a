// The uniform generator: seeds, deviates, flags and the per-thread state.
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <thread>

#include <omp.h>

#include <gtest/gtest.h>

#include "errors/errors.hpp"
#include "random/random.hpp"
#include "test_support.hpp"

namespace propbf::numlib {
namespace {

using testing::eight_digits;
using testing::seed_before;

class UniformTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_random_state_for_testing(); }
};

// The documented start of the sequence from seed 1.
struct SequenceRow {
  int32_t seed;           // seed after the draw
  const char* deviate;    // the deviate, eight significant digits
};
constexpr SequenceRow kFromSeedOne[] = {
    {16807, "7.8263683e-06"},   {282475249, "0.13153778"}, {1622650073, "0.75560528"},
    {984943658, "0.45865011"},  {1144108930, "0.53276718"}, {470211272, "0.21895917"},
};

TEST_F(UniformTest, SequenceFromSeedOneMatchesTheDocumentedValues) {
  RNSET(1);
  for (const SequenceRow& row : kFromSeedOne) {
    float r = -1.0f;
    RNUN(1, &r);
    EXPECT_EQ(random_state().seed, row.seed);
    EXPECT_EQ(eight_digits(r), row.deviate);
  }
}

TEST_F(UniformTest, StreamGivesTheSequenceOfRnunAndCommitsItsPosition) {
  // Same documented start as RNUN; a stream jumped ahead by 10000 (or asked for with
  // uniforms_after) stands at the seed 10000 RNUN draws reach; committing leaves the
  // generator where RNUN would.
  RNSET(1);
  UniformStream stream = reserve_uniforms();
  EXPECT_TRUE(random_state().rnun_called);  // RNUN's first-call rule
  const UniformStream later = stream.ahead(10000);
  EXPECT_EQ(uniforms_after(10000)->seed(), 1043618065);  // asked without moving the generator
  EXPECT_EQ(uniforms_after(0)->scale(), random_state().scale);
  for (const SequenceRow& row : kFromSeedOne) {
    EXPECT_EQ(eight_digits(stream.next()), row.deviate);
    EXPECT_EQ(stream.seed(), row.seed);
  }
  EXPECT_EQ(random_state().seed, 1);  // the thread's state moves only on commit
  EXPECT_EQ(later.seed(), 1043618065);
  commit_uniforms(stream);
  EXPECT_EQ(random_state().seed, 470211272);
  EXPECT_EQ(random_state().work, 470211272.0);
  float r = 0.0f;
  RNUN(1, &r);
  UniformStream again = stream;
  EXPECT_EQ(std::bit_cast<uint32_t>(again.next()), std::bit_cast<uint32_t>(r));
}

TEST_F(UniformTest, TenThousandDrawsFromSeedOne) {
  RNSET(1);
  float r[1000];
  for (int block = 0; block < 10; ++block) RNUN(1000, r);
  EXPECT_EQ(random_state().seed, 1043618065);
}

TEST_F(UniformTest, LargestSeedStepsAndMapsAsDocumented) {
  RNSET(2147483646);
  float r = 0.0f;
  RNUN(1, &r);
  EXPECT_EQ(random_state().seed, 2147466840);
  EXPECT_EQ(eight_digits(r), "0.99999213");
}

TEST_F(UniformTest, TopSeedsGiveTheLargestFloatBelowOne) {
  const float below_one = std::nextafter(1.0f, 0.0f);  // 0.99999994 = 1 - 2^-24
  for (int32_t seed = 2147483584; seed <= 2147483646; ++seed) {
    seed_before(seed);
    EXPECT_EQ(RNUNF(), below_one) << "seed " << seed;
  }
  seed_before(2147483583);
  EXPECT_EQ(RNUNF(), std::nextafter(below_one, 0.0f));  // 0.99999988
}

TEST_F(UniformTest, DeviatesNeverReachZeroOrOne) {
  // The map from seed to deviate is monotone, so its two ends bound every deviate.
  seed_before(1);
  const float smallest = RNUNF();
  EXPECT_GT(smallest, 0.0f);
  EXPECT_EQ(std::bit_cast<uint32_t>(smallest), 0x2FFFFFFFu);  // sigma itself
  seed_before(2147483646);
  EXPECT_LT(RNUNF(), 1.0f);
}

TEST_F(UniformTest, InitialisationSetsTheScaleJustBelowTwoToMinus31) {
  RNSET(5);
  EXPECT_EQ(std::bit_cast<uint32_t>(random_state().scale), 0x2FFFFFFFu);
  EXPECT_EQ(random_state().scale, 4.6566126e-10f);
}

TEST_F(UniformTest, TwoCallsOfThreeEqualOneCallOfSix) {
  RNSET(1);
  float six[6];
  RNUN(6, six);
  RNSET(1);
  float three[6];
  RNUN(3, three);
  RNUN(3, three + 3);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(three[i], six[i]) << "element " << i;
}

TEST_F(UniformTest, FunctionFormInterleavesWithTheVectorForm) {
  RNSET(1);
  float six[6];
  RNUN(6, six);
  RNSET(1);
  float mixed[6];
  mixed[0] = RNUNF();
  RNUN(2, mixed + 1);
  mixed[3] = RNUNF();
  mixed[4] = RNUNF();
  RNUN(1, mixed + 5);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(mixed[i], six[i]) << "element " << i;
}

TEST_F(UniformTest, WorkingCopyHoldsTheSeedAfterADraw) {
  RNSET(1);
  float r[2];
  RNUN(2, r);
  EXPECT_EQ(random_state().work, 282475249.0);
  RNUNF();
  EXPECT_EQ(random_state().work, 1622650073.0);
}

TEST_F(UniformTest, FreshStateIsAllZero) {
  const RandomState& state = random_state();
  EXPECT_EQ(state.seed, 0);
  EXPECT_EQ(state.work, 0.0);
  EXPECT_EQ(state.scale, 0.0f);
  EXPECT_FALSE(state.initialised);
  EXPECT_FALSE(state.seeded);
  EXPECT_FALSE(state.rnun_called);
  EXPECT_FALSE(state.rnunf_called);
}

TEST_F(UniformTest, ValidSeedInitialisesAndMarksSeeded) {
  RNSET(7);
  EXPECT_TRUE(random_state().initialised);
  EXPECT_TRUE(random_state().seeded);
  EXPECT_EQ(random_state().seed, 7);
}

TEST_F(UniformTest, OutOfRangeSeedAfterAValidOneKeepsTheSequence) {
  for (const int32_t bad : {-5, 2147483647, INT32_MIN}) {
    RNSET(7);
    const float first = RNUNF();
    const float second = RNUNF();
    RNSET(7);
    RNSET(bad);
    EXPECT_EQ(random_state().seed, 7) << "seed " << bad;
    EXPECT_EQ(RNUNF(), first) << "seed " << bad;
    EXPECT_EQ(RNUNF(), second) << "seed " << bad;
  }
}

bool is_clock_seed(int32_t seed) { return (seed >= 2 && seed <= 235960) || seed == 123457; }

TEST_F(UniformTest, OutOfRangeSeedOnAFreshThreadSeedsFromTheClock) {
  RNSET(-5);
  EXPECT_TRUE(random_state().initialised);
  EXPECT_TRUE(random_state().seeded);
  EXPECT_TRUE(is_clock_seed(random_state().seed)) << random_state().seed;
}

TEST_F(UniformTest, SeedZeroStoresAClockSeedAndLeavesTheFlags) {
  RNSET(0);
  EXPECT_TRUE(is_clock_seed(random_state().seed)) << random_state().seed;
  EXPECT_FALSE(random_state().initialised);
  EXPECT_FALSE(random_state().seeded);
  // The first draw still initialises and takes the clock once more.
  float r;
  RNUN(1, &r);
  EXPECT_TRUE(random_state().seeded);
  EXPECT_EQ(std::bit_cast<uint32_t>(random_state().scale), 0x2FFFFFFFu);
  EXPECT_TRUE(is_clock_seed(advance_seed(random_state().seed, -1)));
}

TEST_F(UniformTest, SeedZeroAfterDrawsContinuesFromAClockSeed) {
  RNSET(1);
  RNUNF();
  RNSET(0);
  EXPECT_TRUE(is_clock_seed(random_state().seed)) << random_state().seed;
  const int32_t clock_seed = random_state().seed;
  RNUNF();
  EXPECT_EQ(random_state().seed, advance_seed(clock_seed, 1));
}

TEST_F(UniformTest, FirstDrawWithoutASeedTakesTheClock) {
  float r;
  RNUN(1, &r);
  EXPECT_TRUE(random_state().rnun_called);
  EXPECT_FALSE(random_state().rnunf_called);
  EXPECT_TRUE(is_clock_seed(advance_seed(random_state().seed, -1)));

  reset_random_state_for_testing();
  RNUNF();
  EXPECT_TRUE(random_state().rnunf_called);
  EXPECT_FALSE(random_state().rnun_called);
  EXPECT_TRUE(is_clock_seed(advance_seed(random_state().seed, -1)));
}

TEST_F(UniformTest, FirstDrawAfterASeedKeepsThatSeed) {
  RNSET(1);
  float r;
  RNUN(1, &r);
  EXPECT_EQ(random_state().seed, 16807);
}

TEST_F(UniformTest, EachThreadHasItsOwnState) {
  RNSET(1);
  RNUNF();
  int32_t other_seed_before = -1;
  int32_t other_seed_after = -1;
  std::thread other([&] {
    other_seed_before = random_state().seed;  // fresh: 0
    RNSET(2147483646);
    RNUNF();
    other_seed_after = random_state().seed;
  });
  other.join();
  EXPECT_EQ(other_seed_before, 0);
  EXPECT_EQ(other_seed_after, 2147466840);
  EXPECT_EQ(random_state().seed, 16807);
}

TEST_F(UniformTest, OpenMpThreadsDrawTheirOwnSequences) {
  int32_t seeds_after[2] = {-1, -1};
#pragma omp parallel num_threads(2)
  {
    const int thread = omp_get_thread_num();
    if (thread < 2) {
      reset_random_state_for_testing();
      RNSET(thread == 0 ? 1 : 2147483646);
      float r[6];
      RNUN(6, r);
      seeds_after[thread] = random_state().seed;
    }
  }
  EXPECT_EQ(seeds_after[0], 470211272);
  if (omp_get_max_threads() > 1) {
    EXPECT_EQ(seeds_after[1], advance_seed(2147483646, 6));
  }
}

// ---------------------------------------------------------------------------------
// Jump ahead
// ---------------------------------------------------------------------------------

TEST(AdvanceSeed, AgreesWithTheDocumentedSequence) {
  EXPECT_EQ(advance_seed(1, 0), 1);
  EXPECT_EQ(advance_seed(1, 1), 16807);
  EXPECT_EQ(advance_seed(1, 3), 1622650073);
  EXPECT_EQ(advance_seed(1, 6), 470211272);
  EXPECT_EQ(advance_seed(1, 10000), 1043618065);
  EXPECT_EQ(advance_seed(2147483646, 1), 2147466840);
}

TEST(AdvanceSeed, FullPeriodAndBackwardSteps) {
  const int64_t period = 2147483646;
  EXPECT_EQ(advance_seed(12345, period), 12345);
  EXPECT_EQ(advance_seed(12345, 3 * period + 2), advance_seed(12345, 2));
  EXPECT_EQ(advance_seed(16807, -1), 1);
  EXPECT_EQ(advance_seed(1043618065, -10000), 1);
  EXPECT_EQ(advance_seed(1, INT64_MAX), advance_seed(1, INT64_MAX % period));
  EXPECT_EQ(advance_seed(1, INT64_MIN), advance_seed(1, INT64_MIN % period + period));
  // Half the period: 16807 is a primitive root, so its power is -1 mod p.
  EXPECT_EQ(advance_seed(1, period / 2), 2147483646);
}

// ---------------------------------------------------------------------------------
// Clock seed and time of day
// ---------------------------------------------------------------------------------

TEST(ClockSeed, TimeReadAsDecimalPlusOne) {
  EXPECT_EQ(clock_seed_from_time(13, 5, 9), 130510);
  EXPECT_EQ(clock_seed_from_time(23, 59, 59), 235960);
  EXPECT_EQ(clock_seed_from_time(0, 0, 1), 2);
}

TEST(ClockSeed, MidnightGivesTheFixedSeed) { EXPECT_EQ(clock_seed_from_time(0, 0, 0), 123457); }

TEST(TimeOfDay, TenCharactersWithMilliseconds) {
  char text[kTimeOfDayLength];
  format_time_of_day(13, 5, 9, 42, text);
  EXPECT_EQ(std::string(text, kTimeOfDayLength), "130509.042");
  format_time_of_day(0, 0, 0, 999, text);
  EXPECT_EQ(std::string(text, kTimeOfDayLength), "000000.999");
}

TEST(TimeOfDay, AgreesWithTheLocalClock) {
  const auto seconds_of_day = [](int32_t h, int32_t m, int32_t s) { return 3600 * h + 60 * m + s; };
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  int32_t hour = -1, minute = -1, second = -1;
  TIMDY(hour, minute, second);
  const int32_t difference = seconds_of_day(hour, minute, second) -
                             seconds_of_day(local.tm_hour, local.tm_min, local.tm_sec);
  // A second may tick between the two readings, and the day may turn.
  const int32_t wrapped = (difference + 86400) % 86400;
  EXPECT_TRUE(wrapped <= 2 || wrapped >= 86400 - 2) << hour << ":" << minute << ":" << second;
}

TEST(TimeOfDay, FieldsAreAValidTime) {
  int32_t hour = -1, minute = -1, second = -1;
  TIMDY(hour, minute, second);
  EXPECT_GE(hour, 0);
  EXPECT_LE(hour, 23);
  EXPECT_GE(minute, 0);
  EXPECT_LE(minute, 59);
  EXPECT_GE(second, 0);
  EXPECT_LE(second, 60);  // a leap second
}

// ---------------------------------------------------------------------------------
// Argument error
// ---------------------------------------------------------------------------------

TEST_F(UniformTest, CountBelowOneLeavesTheStateAndR) {
  // With the stop switched off the call returns and the state can be seen.
  reset_error_state_for_testing();
  E1INIT();
  error_state().print_on[5] = 0;
  error_state().stop_on[5] = 0;
  float r = 0.5f;
  RNUN(0, &r);
  EXPECT_EQ(N1RCD(1), 1);
  EXPECT_EQ(r, 0.5f);
  EXPECT_FALSE(random_state().initialised);  // not even initialised
  EXPECT_FALSE(random_state().rnun_called);
  EXPECT_FALSE(uniforms_after(1).has_value());  // no fixed sequence to ask about
  EXPECT_EQ(random_state().seed, 0);
  RNSET(9);
  RNUN(-1, &r);
  EXPECT_EQ(random_state().seed, 9);
  EXPECT_EQ(r, 0.5f);
  reset_error_state_for_testing();
}

TEST(UniformDeathTest, CountBelowOneEndsTheRunWithTheCountMessage) {
  testing::CapturedStdout out;
  EXPECT_EXIT(
      {
        out.redirect();
        RNSET(1);
        float r = 0.5f;
        RNUN(0, &r);
      },
      ::testing::ExitedWithCode(1), "");
  // The header line has room for 59 - 12 characters; the message breaks at the
  // last blank within them.
  EXPECT_EQ(out.text(),
            "\r\n *** TERMINAL ERROR 1 from RNUN.  NR = 0.  NR must be greater than or equal\r\n"
            " ***          to 1.\r\n");
}

TEST(UniformDeathTest, NegativeCountReportsItsValue) {
  testing::CapturedStdout out;
  EXPECT_EXIT(
      {
        out.redirect();
        RNUN(-3, nullptr);
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(out.text(),
            "\r\n *** TERMINAL ERROR 1 from RNUN.  NR = -3.  NR must be greater than or equal\r\n"
            " ***          to 1.\r\n");
}

}  // namespace
}  // namespace propbf::numlib
