// Temporary stand-in for the error machine; replaced by the real implementation.
#include <cstdio>
#include "errors/errors.hpp"
#include "textio/textio.hpp"
namespace propbf::numlib {
namespace { thread_local ErrorState state; }
ErrorState& error_state() { return state; }
void reset_error_state_for_testing() { state = ErrorState{}; }
void E1INIT() {}
void E1PSH(std::string_view) {}
void E1POP(std::string_view) { library_stop(); }
void E1STI(int32_t, int32_t) {}
void E1STR(int32_t, float) {}
void E1STL(int32_t, std::string_view) {}
void E1MES(int32_t, int32_t code, std::string_view t) {
  std::printf("\r\n *** TERMINAL ERROR %d: %.*s\r\n", code, int(t.size()), t.data());
}
int32_t N1RCD(int32_t) { return 0; }
void C1IARG(int32_t value, std::string_view, int32_t low, int32_t, int32_t& code) {
  if (value < low) E1MES(5, code, "NR");
  ++code;
}
void E1LOCK(int32_t) {}
void E1PRT() {}
int32_t N1RGB() { return 0; }
void C1TCI(std::string_view, int32_t& number, int32_t& status) { number = 0; status = 0; }
void C1TIC(int32_t, std::span<char>, int32_t& status) { status = 0; }
void library_stop() { textio::end_run(1); }
std::string_view render_integer(int32_t, char (&buffer)[16]) { return {buffer, 0}; }
int32_t render_real(float, char (&)[32]) { return 0; }
}  // namespace propbf::numlib
