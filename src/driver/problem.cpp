#include "driver/problem.hpp"

#include <unistd.h>

#include <limits>

#include "random/random.hpp"
#include "textio/textio.hpp"

namespace propbf::driver {

namespace {

using textio::kInputFile;
using textio::ReadStep;

constexpr int64_t kIndexLimit = std::numeric_limits<int32_t>::max();

int64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return std::numeric_limits<int64_t>::max();
  if (pages > std::numeric_limits<int64_t>::max() / page_size) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(pages) * page_size;
}

void skip_heading() { ReadStep heading(kInputFile); }

}  // namespace

int64_t storage_bytes(int32_t nitem, int32_t nrestr) {
  const int64_t items = nitem > 0 ? nitem : 0;
  const int64_t restrictions = nrestr > 0 ? nrestr : 0;
  // Both counts are below 2^31, so their product fits 64 bits.
  const int64_t coefficients = items * restrictions;
  if (coefficients > kIndexLimit) return -1;
  // r, rc, initpi, x, pi, eval, chit, fhit, csamp, fsamp and the five replication
  // vectors that the replication phase obtains later, each element 4 bytes; the sampler's per-stage work arrays are of the size of r at most.
  const int64_t elements = 2 * coefficients + 3 * items + 7 * restrictions +
                           5 * static_cast<int64_t>(kReplications) + 4 * items;
  const int64_t bytes = elements * 4;
  if (bytes > physical_memory_bytes()) return -1;
  return bytes;
}

void allocate_storage(Problem& problem, Workspace& workspace) {
  if (storage_bytes(problem.nitem, problem.nrestr) < 0) {
    textio::fatal_report(textio::kAllocationFails, textio::Statement::None, 0);
  }
  const int64_t items = problem.items();
  const int64_t restrictions = problem.restrictions();
  bool ok = problem.r.allocate(items * restrictions) && problem.rc.allocate(restrictions) &&
            problem.initpi.allocate(items) && problem.x.allocate(items) &&
            workspace.pi.allocate(items) && workspace.eval.allocate(restrictions) &&
            workspace.chit.allocate(restrictions) && workspace.fhit.allocate(restrictions) &&
            workspace.csamp.allocate(restrictions) && workspace.fsamp.allocate(restrictions);
  if (!ok) textio::fatal_report(textio::kAllocationFails, textio::Statement::None, 0);
}

void read_problem(Problem& problem, Workspace& workspace) {
  skip_heading();
  {
    ReadStep counts(kInputFile);
    counts.take(problem.nitem);
    counts.take(problem.nrestr);
    counts.take(problem.niter);
  }
  // The only seeding of the run: the same input always gives the same report.
  numlib::RNSET(1);
  allocate_storage(problem, workspace);

  const int32_t items = problem.items();
  skip_heading();
  for (int32_t t = 0; t < problem.restrictions(); ++t) {
    ReadStep restriction(kInputFile);
    restriction.take(std::span<float>(problem.r.data() + static_cast<int64_t>(t) * items,
                                      static_cast<size_t>(items)));
    restriction.take(problem.rc[t]);
  }
  skip_heading();
  {
    ReadStep start(kInputFile);
    start.take(problem.initpi.span());
  }
  skip_heading();
  {
    ReadStep observations(kInputFile);
    observations.take(problem.x.span());
  }
}

}  // namespace propbf::driver
