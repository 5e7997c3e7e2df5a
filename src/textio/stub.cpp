// Temporary stand-in for the text layer; replaced by the real implementation.
#include <cstdio>
#include <cstdlib>
#include "textio/textio.hpp"
namespace propbf::textio {
void open_unit(int32_t, const std::string&) {}
void close_all_files() noexcept {}
void end_run(int status) { std::fflush(stdout); std::exit(status); }
void fatal_report(std::string_view message, Statement, int32_t, bool) {
  std::fprintf(stderr, "? Run-time Error\r\n? %.*s\r\n", int(message.size()), message.data());
  std::exit(-1);
}
ReadStep::ReadStep(int32_t) : scan_(nullptr) {}
ReadStep::~ReadStep() = default;
void ReadStep::take(int32_t&) {}
void ReadStep::take(float&) {}
void ReadStep::take(std::span<int32_t>) {}
void ReadStep::take(std::span<float>) {}
bool convert_integer_token(std::string_view, int32_t&) { return false; }
bool convert_real_token(std::string_view, float&) { return false; }
void write_free(int32_t, std::initializer_list<FreeItem>) {}
void write_fixed(int32_t, std::span<const LayoutElement>, std::span<const FieldValue>) {}
void write_line(int32_t, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout); std::fputs("\r\n", stdout); std::fflush(stdout);
}
std::string fixed_point_field(float, int32_t, int32_t) { return {}; }
std::string integer_field(int32_t, int32_t) { return {}; }
SignificantDigits first_eight_digits(float) { return {}; }
}  // namespace propbf::textio
