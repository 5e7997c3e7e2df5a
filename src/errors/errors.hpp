// The numerical library's error machine: a per-thread stack of routine names with an
// error type and code per level, one pending message composed from a template with
// inserted values, and the printing and stop decisions.
//
//   E1PSH / E1POP   "error, push / pop": a routine's name on and off the stack
//   E1STI / E1STR / E1STL   "store integer / real / literal": insertion values
//   E1MES  "error message": post a typed, numbered error      E1PRT  print it
//   N1RCD  "return code"       N1RGB  "return global stop decision" (types 6, 7)
//   C1IARG "check integer argument"   C1TCI / C1TIC  "text to integer / integer to text"
//   E1INIT "initialise"        E1LOCK the error-output lock
//
// Protocol inside a library routine: E1PSH(name) first; for each fault store the
// insertion values (E1STI, E1STR, E1STL) and post (E1MES); N1RCD(0) where the routine
// must know whether a check failed; E1POP(name) last.
//
// Types: 1 NOTE, 2 ALERT, 3 WARNING, 4 FATAL, 5 TERMINAL, 6 WARNING and 7 FATAL (both
// printed at once). With the fixed settings: 1 and 2 are never printed; 3 and 4 are
// printed when the routine the user called returns, and 4 then stops; 5 to 7 are
// printed when posted; 5 stops at the pop of the routine at whose level it stands, 7
// when the routine the user called returns. Every error of this program's library
// routines is of type 5.
//
// A stop (library_stop) prints nothing more, flushes and closes all files and exits
// with status 1; faults of the machine itself always print and always stop.
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
  int32_t level;                           // depth of the stack, 1..50; 1 is the user
  int32_t max_level;                       // 50, the deepest level a push may reach
  int32_t message_length;                  // 0..1024; 0: no message pending
  int32_t error_type[kMaxLevel + 2];       // per level; -1: nothing returned from it yet
  int32_t error_code[kMaxLevel + 2];       // per level; -1 likewise
  int32_t print_on[8];                     // per type 1..7: print when acted on
  int32_t stop_on[8];                      // per type 1..7: stop when acted on
  int32_t insertion_end;                   // last position used in insertion_list; 1: empty
  int32_t pending_type6;                   // a type 6 posted since N1RGB last decided
  int32_t pending_type7;                   // a type 7 likewise
  int32_t user_level[kMaxLevel + 2];       // 1 for the user's level (level 1 only)
  int32_t traceback_on[8];                 // per type 1..7: print the traceback
  char message_text[kMessageCapacity + 1];            // positions 1..message_length
  char insertion_list[kInsertionCapacity + 1];        // positions 1..insertion_end
  char routine_name[kMaxLevel + 2][kNameLength];      // per level, blank-filled
  bool initialised;                        // E1INIT has run on this thread
};

// The calling thread's error state. Each thread has its own (OpenMP threadprivate);
// the program runs one thread, and a parallel region whose workers should inherit
// the encountering thread's state names it in copyin (errors/thread_state.hpp).
ErrorState& error_state();
// Puts the calling thread's state back to all-zero (not initialised). For tests.
void reset_error_state_for_testing();

// E1INIT: sets the calling thread's state to its initial values (level 1 "USER", no
// message, empty insertion list, the fixed print/stop/traceback settings) the first
// time; does nothing on later calls. The other routines call it as needed.
void E1INIT();

// E1PSH(name): pushes `name`, cut or blank-filled to 32 characters, with type and code
// 0 at the new level. Initialises the state if needed.
//   Ends the run when the stack is full (level 50: at most 49 routines active): posts
//   type 5, code 1 "Push would cause stack level to exceed 50" under the routine on top,
//   which prints it, then stops.
void E1PSH(std::string_view name);

// E1POP(name): pops `name`, which must be the name on top (letter case matters,
// trailing blanks do not). The level's type t and code are handed to the caller's level
// when 2 <= t <= 7, and the error is acted on by the print and stop settings: types 1
// to 4 only when the caller is the user (3 and 4 are printed, 4 then stops); types 5
// to 7 print their message if it is still pending; type 5 stops; types 6 and 7 ask
// N1RGB at the return to the user, which stops for 7.
// The entries one level higher are reset to -1; the level just left keeps its final
// type and code for N1RCD(1).
//   Ends the run on misuse: popping with only the user level left (type 5, code 1,
//   under E1POP) or a name that is not on top (type 5, code 2); both are printed.
void E1POP(std::string_view name);

// E1STI(index, value): stores `value` in decimal as %(I<index>). E1STR(index, value):
// stores `value` as %(R<index>) in the form [-]D.DDDDDDE+XX, seven digits rounded from
// the eighth cut-off one (INF, NaN with '-' when the sign bit is set). E1STL(index,
// text): stores at most 255 characters of `text` as %(L<|index|>), trailing blanks
// removed for a positive index (an all-blank text becomes one blank), kept for a
// negative one.
//   Index outside 1..9 (E1STL: outside +-1..+-9), or a value that would take the
//   insertion list past 300 characters: nothing is stored, silently. Initialise the
//   state if needed; never print, never stop. Values must be stored right before the
//   E1MES that uses them: every post and every print empties the list.
void E1STI(int32_t index, int32_t value);
void E1STR(int32_t index, float value);
void E1STL(int32_t index, std::string_view text);

// E1MES(type, code, template): posts an error at the current level. `type` -1 keeps
// the level's type, `code` below 0 keeps its code. Type 0 or code 0 clears the pending
// message and the insertion list and ends there. An empty or one-blank template keeps
// the pending message (a re-post under the new type or code); any other is composed:
// ".  " and the template with each mark %(Xd) replaced by its stored value (1024
// characters at most). Types 6 and 7 are marked pending for N1RGB. A message of type
// 5 to 7 is printed at once (E1PRT). The insertion list is emptied.
//   Does not stop for types 0 to 7: a type 5 ends the run at the next E1POP. Ends the
//   run on a type above 7 or below -1: the message "Illegal error type specified." is
//   printed as UNKNOWN under the level's old code, then the stop.
void E1MES(int32_t type, int32_t code, std::string_view message_template);

// N1RCD(option): option 0 returns the current level's code; option 1 the code left one
// level higher by the routine most recently returned from (0 when it posted nothing,
// -1 when none has returned since the level was cleared). No change to the state.
//   Ends the run on any other option: type 5, code 1 at the current level, the message
//   "The argument passed to N1RCD must be 0 or 1." printed, then the stop.
int32_t N1RCD(int32_t option);

// C1IARG(value, name, low, high, code): checks an integer argument. With high < low
// only value < low is a fault, otherwise value outside low..high. A fault posts type 5
// with the current `code` at the caller's level ("<name> = <value>.  <name> must be
// greater than or equal to <low>[ and less than or equal to <high>]."), printed at
// once; the run then ends at the caller's E1POP. `code` is increased by 1 in every
// case (wrapping at the top), so successive checks carry successive codes.
void C1IARG(int32_t value, std::string_view name, int32_t low, int32_t high, int32_t& code);

// E1LOCK(flag): the process-wide re-entrant error-output lock, created on first use:
// 1 takes it, 0 releases it (a release by a thread that does not hold it is ignored),
// any other value only makes sure it exists. No change to the error state.
void E1LOCK(int32_t flag);

// E1PRT: prints the calling thread's pending message, if any, on the error-message
// unit (UMACH entry 3, standard output by default) under the error-output lock: an
// empty line, the header " *** <TYPE> ERROR <code> from <routine>" with as much of the
// message as fits, continuation lines, and a traceback of the stack when the erring
// routine was called by another library routine (level above 2). Empties the message
// and the insertion list; leaves levels, types, codes and settings. Never stops.
void E1PRT();

// N1RGB: the stop decision for types 6 and 7 at the return to the user: stop_on[7]
// when a type 7 was posted since the last decision, else stop_on[6] when a type 6 was,
// else 0. Clears both pending marks. Never prints, never stops.
int32_t N1RGB();

// C1TCI(text, number, status): the leading decimal integer of `text` (leading blanks,
// an optional sign, blanks, digits) into `number`. Status 0 when the whole text was
// used, else the position of the first character not used (of the sign when no digit
// follows it); 1 for an all-blank text; -1 for an empty text; -2 on overflow past
// 2147483647 (IMACH(5)). No error state.
void C1TCI(std::string_view text, int32_t& number, int32_t& status);
// C1TIC(number, text, status): `number` right-justified in `text`, blank-filled, '-'
// before a negative number. Status 0; -1 for an empty text; otherwise the count of
// characters that did not fit, `text` holding the low-order ones. No error state.
void C1TIC(int32_t number, std::span<char> text, int32_t& status);

// The stop after a library error, the orderly stop: nothing more is printed, every file
// is flushed and closed, and the process exits with status 1. Never returns.
//   Why 1 and not 0: the stop is orderly, but the run has failed (a library routine
//   rejected its arguments, or the error machine was misused), and a status of 0 would
//   tell whoever started the program that it succeeded. The design this program was
//   built from ended this stop with 0, reporting the failure as a success; that was
//   mended to 1.
[[noreturn]] void library_stop();

}  // namespace propbf::numlib
