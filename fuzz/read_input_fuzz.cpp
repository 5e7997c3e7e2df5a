// Fuzz target: the whole reading of input.txt, from the heading to the observations,
// with the fuzz data as the file. Every reading ends either with the problem read or
// with the fatal report (status -1), and writes nothing to standard output either way.
// Only input.txt is open (the program also has output.txt open while it reads; the
// whole-run target covers that).
//
// Problems whose storage the program would obtain but whose reading could take seconds
// (millions of values, most of them null through repeat counts) are set aside, so that
// one input stays in the microseconds; counts whose storage is out of reach are kept, as
// they end at once with the allocation report. Counts are whole numbers written as
// digits, so when no run of digits in the data is worth more than kSmallCount, no count
// can be either and the problem is read at once. Otherwise a first pass reads only the
// counts record and decides.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "driver/problem.hpp"
#include "harness.hpp"
#include "textio/textio.hpp"

namespace {

using namespace propbf;

// 512 x 512 = 2^18 values: read in a few milliseconds at most.
constexpr int64_t kSmallCount = 512;

struct Counts {
  int32_t nitem = 0, nrestr = 0, niter = 0;
};

bool quick_to_read(const Counts& counts) {
  if (driver::storage_bytes(counts.nitem, counts.nrestr) < 0) return true;  // allocation report
  const int64_t items = counts.nitem > 0 ? counts.nitem : 0;
  const int64_t restrictions = counts.nrestr > 0 ? counts.nrestr : 0;
  return items <= (1 << 16) && restrictions <= (1 << 16) && items * restrictions <= (1 << 18);
}

// Whether every run of decimal digits in `bytes` is worth at most kSmallCount. The
// reader drops carriage returns wherever they stand in a record, so "03\r0000" is the
// number 30000: a carriage return neither ends nor starts a run.
bool only_small_numbers(std::string_view bytes) {
  int64_t value = 0;
  for (const char ch : bytes) {
    if (ch == '\r') continue;
    if (ch >= '0' && ch <= '9') {
      value = value * 10 + (ch - '0');
      if (value > kSmallCount) return false;
    } else {
      value = 0;
    }
  }
  return true;
}

void read_counts(void* context) {
  auto& counts = *static_cast<Counts*>(context);
  textio::open_unit(textio::kInputFile, fuzzing::input_path(), textio::OpenFor::Reading);
  { textio::ReadStep heading(textio::kInputFile); }
  textio::ReadStep step(textio::kInputFile);
  step.take(counts.nitem);
  step.take(counts.nrestr);
  step.take(counts.niter);
}

void read_whole(void*) {
  textio::open_unit(textio::kInputFile, fuzzing::input_path(), textio::OpenFor::Reading);
  driver::Problem problem;
  driver::Workspace workspace;
  driver::read_problem(problem, workspace);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::set_up_process();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzzing::prepare_input(input);
  fuzzing::Ending first;
  if (!only_small_numbers(input)) {
    Counts counts;
    first = fuzzing::run_guarded(read_counts, &counts);
    if (!first.ended && !quick_to_read(counts)) return -1;
  }

  const fuzzing::Ending ending = fuzzing::run_guarded(read_whole, nullptr);
  fuzzing::require(!ending.ended || ending.status == -1, "reading ends only with the fatal report");
  fuzzing::require(!first.ended || ending.ended, "a counts record that cannot be read stops the reading");
  fuzzing::require(fuzzing::take_console().empty(), "reading writes nothing to standard output");
  return 0;
}
