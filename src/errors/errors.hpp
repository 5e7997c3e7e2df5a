// The numerical library's error machine: a per-thread stack of routine names with an
// error type and code per level, one pending message composed from a template with
// inserted values, and the printing and stop decisions.
//
// Protocol inside a library routine: E1PSH(name) first; for each fault store the
// insertion values (E1STI, E1STR, E1STL) and post (E1MES); N1RCD(0) where the routine
// must know whether a check failed; E1POP(name) last.
//
// A terminal error (type 5) is printed when it is posted and ends the run when the
// routine at whose level it stands pops its name. A stop after a library error
// flushes and closes all files and exits with status 1.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace propbf::numlib {

inline constexpr int32_t kMaxLevel = 50;
inline constexpr int32_t kMessageCapacity = 1024;
inline constexpr int32_t kInsertionCapacity = 300;
inline constexpr int32_t kNameLength = 32;

// All fields are indexed from 1 as the levels and types are; index 0 is unused.
// All-zero is the state of a thread that has not used the machine yet.
struct ErrorState {
  int32_t level;
  int32_t max_level;
  int32_t message_length;
  int32_t error_type[kMaxLevel + 2];
  int32_t error_code[kMaxLevel + 2];
  int32_t print_on[8];
  int32_t stop_on[8];
  int32_t insertion_end;
  int32_t pending_type6;
  int32_t pending_type7;
  int32_t user_level[kMaxLevel + 2];
  int32_t traceback_on[8];
  char message_text[kMessageCapacity + 1];
  char insertion_list[kInsertionCapacity + 1];
  char routine_name[kMaxLevel + 2][kNameLength];
  bool initialised;
};

// The calling thread's error state. Each thread has its own (OpenMP threadprivate);
// the program runs one thread, and a parallel region whose workers should inherit
// the encountering thread's state names it in copyin (errors/thread_state.hpp).
ErrorState& error_state();
// Puts the calling thread's state back to all-zero (not initialised). For tests.
void reset_error_state_for_testing();

void E1INIT();
void E1PSH(std::string_view name);
void E1POP(std::string_view name);
void E1STI(int32_t index, int32_t value);
void E1STR(int32_t index, float value);
void E1STL(int32_t index, std::string_view text);
// `type` -1 keeps the level's type, `code` below 0 keeps its code. A type above 7 or
// below -1 is a misuse: printed as UNKNOWN under the level's old code, then the stop.
void E1MES(int32_t type, int32_t code, std::string_view message_template);
int32_t N1RCD(int32_t option);
// One-sided check when high < low. `code` is increased by 1 in every case.
void C1IARG(int32_t value, std::string_view name, int32_t low, int32_t high, int32_t& code);
// The process-wide re-entrant error-output lock: 1 takes it, 0 releases it, any other
// value only makes sure it exists.
void E1LOCK(int32_t flag);
void E1PRT();
int32_t N1RGB();

void C1TCI(std::string_view text, int32_t& number, int32_t& status);
void C1TIC(int32_t number, std::span<char> text, int32_t& status);

// The stop after a library error: nothing more is printed, all files are flushed and
// closed, and the process exits with status 1.
[[noreturn]] void library_stop();

}  // namespace propbf::numlib
