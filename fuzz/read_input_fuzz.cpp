// Fuzz target: the whole reading of input.txt, from the heading to the observations,
// with the fuzz data as the file. Every reading ends either with the problem read or
// with the fatal report (status -1), and output.txt stays empty either way.
//
// A first pass reads only the counts. Problems whose storage the program would obtain
// but whose reading could take seconds (millions of values) are set aside, so that one
// input stays in the milliseconds; counts whose storage is out of reach are kept, as
// they end at once with the allocation report.
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/problem.hpp"
#include "harness.hpp"
#include "textio/textio.hpp"

namespace {

using namespace propbf;

struct Counts {
  int32_t nitem = 0, nrestr = 0, niter = 0;
};

void read_counts(void* context) {
  auto& counts = *static_cast<Counts*>(context);
  textio::open_unit(textio::kInputFile, "input.txt");
  { textio::ReadStep heading(textio::kInputFile); }
  textio::ReadStep step(textio::kInputFile);
  step.take(counts.nitem);
  step.take(counts.nrestr);
  step.take(counts.niter);
}

bool quick_to_read(const Counts& counts) {
  if (driver::storage_bytes(counts.nitem, counts.nrestr) < 0) return true;  // allocation report
  const int64_t items = counts.nitem > 0 ? counts.nitem : 0;
  const int64_t restrictions = counts.nrestr > 0 ? counts.nrestr : 0;
  return items <= (1 << 16) && restrictions <= (1 << 16) && items * restrictions <= (1 << 18);
}

void read_whole(void*) {
  textio::open_unit(textio::kInputFile, "input.txt");
  textio::open_unit(textio::kOutputFile, "output.txt");
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
  const std::string input(reinterpret_cast<const char*>(data), size);
  fuzzing::prepare_files(input);
  Counts counts;
  const fuzzing::Ending first = fuzzing::run_guarded(read_counts, &counts);
  if (!first.ended && !quick_to_read(counts)) return -1;

  fuzzing::prepare_files(input);
  const fuzzing::Ending ending = fuzzing::run_guarded(read_whole, nullptr);
  fuzzing::require(!ending.ended || ending.status == -1, "reading ends only with the fatal report");
  fuzzing::require(!first.ended || ending.ended, "a counts record that cannot be read stops the reading");
  fuzzing::require(fuzzing::read_output().empty(), "output.txt stays empty while the problem is read");
  return 0;
}
