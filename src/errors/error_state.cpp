// The per-thread error state and the routine-name stack: E1INIT, E1PSH, E1POP,
// N1RCD, N1RGB and the stop after a library error.
//
// Stack invariants (after E1INIT): 1 <= level <= max_level = 50; level 1 is the
// user, named "USER", and is the only user level. error_type/error_code of the
// current level are 0 right after its push; a level above the current one holds -1
// when no routine has returned from it since it was last cleared, otherwise the
// final type and code of the routine that last returned from it.
#include <algorithm>

#include "errors/errors.hpp"
#include "errors/thread_state.hpp"
#include "textio/text_utilities.hpp"
#include "textio/textio.hpp"

namespace propbf::numlib {

ErrorState thread_error_state;

ErrorState& error_state() { return thread_error_state; }

void reset_error_state_for_testing() { thread_error_state = ErrorState{}; }

void E1INIT() {
  ErrorState& s = error_state();
  if (s.initialised) return;
  s.level = 1;
  s.max_level = kMaxLevel;
  s.message_length = 0;
  s.insertion_end = 1;
  s.pending_type6 = 0;
  s.pending_type7 = 0;
  s.error_type[1] = 0;
  s.error_code[1] = 0;
  s.user_level[1] = 1;
  textio::M1VECH("USER", s.routine_name[1]);
  for (int32_t level = 2; level <= kMaxLevel + 1; ++level) {
    s.error_type[level] = -1;
    s.error_code[level] = -1;
    s.user_level[level] = 0;
    textio::M1VECH("", s.routine_name[level]);
  }
  // Per type 1..7: NOTE, ALERT, WARNING, FATAL, TERMINAL, WARNING (at once), FATAL (at once).
  static constexpr int32_t kPrint[8] = {0, 0, 0, 1, 1, 1, 1, 1};
  static constexpr int32_t kStop[8] = {0, 0, 0, 0, 1, 1, 0, 1};
  for (int32_t type = 1; type <= 7; ++type) {
    s.print_on[type] = kPrint[type];
    s.stop_on[type] = kStop[type];
    s.traceback_on[type] = 1;
  }
  s.initialised = true;
}

void E1PSH(std::string_view name) {
  ErrorState& s = error_state();
  E1INIT();
  if (s.level >= s.max_level) {
    // Named after the routine on top, the one that tried to push.
    E1STI(1, s.max_level);
    E1MES(5, 1, "Error condition in E1PSH.  Push would cause stack level to exceed %(I1). ");
    library_stop();
  }
  ++s.level;
  textio::M1VECH(name, s.routine_name[s.level]);
  s.error_type[s.level] = 0;
  s.error_code[s.level] = 0;
}

namespace {

// What a pop does with the error of the level being left (type t != 0), before the
// level is decremented, so that a message printed here names the routine leaving.
void act_on_error_at_pop(ErrorState& s, int32_t t) {
  const bool caller_is_user = s.user_level[s.level - 1] == 1;
  if (t >= 1 && t <= 4) {
    if (caller_is_user && s.print_on[t] == 1) E1PRT();
    if (caller_is_user && s.stop_on[t] == 1) library_stop();
  } else if (t >= 5 && t <= 7) {
    // A message already printed at its post was emptied then, so this prints nothing.
    if (s.print_on[t] == 1) E1PRT();
    if (t == 5) {
      if (s.stop_on[5] == 1) library_stop();
    } else if (caller_is_user && N1RGB() != 0) {
      library_stop();
    }
  }
}

}  // namespace

void E1POP(std::string_view name) {
  ErrorState& s = error_state();
  E1INIT();
  if (s.level < 2) {
    E1PSH("E1POP");
    E1STL(1, name);
    E1MES(5, 1, "Error condition in E1POP.  Cannot pop from %(L1) because stack is empty.");
    library_stop();
  }
  // Letter case matters; trailing blanks on either side do not. A name longer than
  // the stored 32 characters matches only if the rest is blanks.
  const std::string_view stacked(s.routine_name[s.level], kNameLength);
  if (textio::without_trailing_blanks(name) != textio::without_trailing_blanks(stacked)) {
    E1STL(1, name);
    E1STL(2, stacked);
    E1MES(5, 2, "Error condition in E1POP.  %(L1) does not match the name %(L2) in the stack.");
    library_stop();
  }
  const int32_t t = s.error_type[s.level];
  if (t != 0) {
    if (t >= 2 && t <= 7) {  // a NOTE (type 1) stays with the routine that posted it
      s.error_type[s.level - 1] = t;
      s.error_code[s.level - 1] = s.error_code[s.level];
    }
    act_on_error_at_pop(s, t);
  }
  if (s.level < s.max_level) {
    s.error_type[s.level + 1] = -1;
    s.error_code[s.level + 1] = -1;
  }
  --s.level;
}

int32_t N1RCD(int32_t option) {
  ErrorState& s = error_state();
  E1INIT();
  if (option == 0) return s.error_code[s.level];
  if (option == 1) return s.error_code[s.level + 1];
  // A misuse of the machine itself: printed and stopped whatever the settings say.
  static constexpr std::string_view kText = ".  The argument passed to N1RCD must be 0 or 1.";
  s.error_type[s.level] = 5;
  s.error_code[s.level] = 1;
  std::copy(kText.begin(), kText.end(), s.message_text + 1);
  s.message_length = static_cast<int32_t>(kText.size());
  E1PRT();
  library_stop();
}

int32_t N1RGB() {
  ErrorState& s = error_state();
  int32_t result = 0;
  if (s.pending_type6 != 0) {
    result = s.stop_on[6];
    s.pending_type6 = 0;
  }
  if (s.pending_type7 != 0) {  // a FATAL since the last decision outweighs a WARNING
    s.pending_type7 = 0;
    result = s.stop_on[7];
  }
  return result;
}

// Status 1, not 0: an orderly stop, but a failed run (see errors.hpp).
void library_stop() { textio::end_run(1); }

}  // namespace propbf::numlib
