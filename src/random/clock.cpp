// Seeds from the time of day: R1CLK and TIMDY.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string_view>

#include "errors/errors.hpp"
#include "random/random.hpp"

namespace propbf::numlib {

namespace {

void put_two_digits(int value, char* out) {
  out[0] = static_cast<char>('0' + value / 10 % 10);
  out[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

int32_t clock_seed_from_time(int32_t hour, int32_t minute, int32_t second) {
  // The time read as the decimal number hhmmss, plus 1; 123457 when that is 1
  // (midnight exactly).
  const int32_t seed = 10000 * hour + 100 * minute + second + 1;
  return seed <= 1 ? 123457 : seed;
}

void R1CLK(int32_t& seed) {
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  TIMDY(hour, minute, second);
  seed = clock_seed_from_time(hour, minute, second);
}

void format_time_of_day(int hour, int minute, int second, int millisecond,
                        char (&text)[kTimeOfDayLength]) {
  put_two_digits(hour, text);
  put_two_digits(minute, text + 2);
  put_two_digits(second, text + 4);
  text[6] = '.';
  text[7] = static_cast<char>('0' + millisecond / 100 % 10);
  put_two_digits(millisecond % 100, text + 8);
}

void TIMDY(int32_t& hour, int32_t& minute, int32_t& second) {
  // The local time as the ten characters hhmmss.sss; the three fields are read back
  // with the library's text-to-integer conversion (its status is not needed).
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millisecond = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[kTimeOfDayLength];
  format_time_of_day(local.tm_hour, local.tm_min, local.tm_sec, millisecond, text);
  int32_t status = 0;
  C1TCI(std::string_view(text, 2), hour, status);
  C1TCI(std::string_view(text + 2, 2), minute, status);
  C1TCI(std::string_view(text + 4, 2), second, status);
}

}  // namespace propbf::numlib
