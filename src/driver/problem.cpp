#include "driver/problem.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "driver/sampler.hpp"
#include "random/random.hpp"
#include "textio/textio.hpp"

namespace propbf::driver {

namespace {

using textio::kInputFile;
using textio::ReadStep;

constexpr int64_t kIndexLimit = std::numeric_limits<int32_t>::max();

int64_t pages_to_bytes(long pages) {
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return -1;
  if (pages > std::numeric_limits<int64_t>::max() / page_size) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(pages) * page_size;
}

// MemAvailable of /proc/meminfo (in kB there): what can be obtained without swapping
// out other processes. -1 when the line is not found.
int64_t meminfo_available_bytes() {
  std::FILE* file = std::fopen("/proc/meminfo", "r");
  if (file == nullptr) return -1;
  char line[256];
  int64_t bytes = -1;
  constexpr char kKey[] = "MemAvailable:";
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, kKey, sizeof kKey - 1) != 0) continue;
    int64_t kilobytes = 0;
    bool digits = false;
    for (const char* p = line + sizeof kKey - 1; *p != '\0'; ++p) {
      if (*p == ' ') continue;
      if (*p < '0' || *p > '9') break;
      if (kilobytes > (std::numeric_limits<int64_t>::max() - 9) / 10 / 1024) break;
      kilobytes = kilobytes * 10 + (*p - '0');
      digits = true;
    }
    if (digits) bytes = kilobytes * 1024;
    break;
  }
  std::fclose(file);
  return bytes;
}

void skip_heading() { textio::skip_record(kInputFile); }

}  // namespace

int64_t available_memory_bytes() {
  int64_t bytes = meminfo_available_bytes();
  if (bytes < 0) bytes = pages_to_bytes(sysconf(_SC_AVPHYS_PAGES));
  if (bytes < 0) bytes = pages_to_bytes(sysconf(_SC_PHYS_PAGES));
  return bytes < 0 ? std::numeric_limits<int64_t>::max() : bytes;
}

StoragePlan plan_storage(int32_t nitem, int32_t nrestr, int64_t available) {
  const int64_t items = nitem > 0 ? nitem : 0;
  const int64_t restrictions = nrestr > 0 ? nrestr : 0;
  // Both counts are below 2^31, so their product fits 64 bits.
  const int64_t coefficients = items * restrictions;
  if (coefficients > kIndexLimit) return {-1, 0};
  // r, rc, initpi, x, pi, chit, fhit, csamp, fsamp, held for the whole run, and the
  // five replication vectors that the replication phase obtains later, each element 4 bytes.
  const int64_t held = 4 * (coefficients + 3 * items + 5 * restrictions + 5 * static_cast<int64_t>(kReplications));
  // The sampler's storage for one group of stages at a time: at least the last stage
  // alone, the largest single-stage group; the literal sampler, which stands in when a
  // group's storage cannot be obtained, needs less (at most this much is counted).
  int64_t sampler = 0;
  if (restrictions > 0) {
    sampler = std::max(fast_group_bytes(static_cast<int32_t>(items), static_cast<int32_t>(restrictions), 1),
                       literal_work_bytes(static_cast<int32_t>(items), static_cast<int32_t>(restrictions),
                                          static_cast<int32_t>(restrictions)));
  }
  if (held > available || sampler > available - held) return {-1, 0};
  return {held + sampler, available - held};
}

int64_t storage_bytes(int32_t nitem, int32_t nrestr) {
  return plan_storage(nitem, nrestr, available_memory_bytes()).bytes;
}

void allocate_storage(Problem& problem, Workspace& workspace) {
  const StoragePlan plan = plan_storage(problem.nitem, problem.nrestr, available_memory_bytes());
  if (plan.bytes < 0) textio::fatal_report(textio::kAllocationFails, textio::Statement::None, 0);
  workspace.group_byte_limit = plan.group_byte_limit;
  const int64_t items = problem.items();
  const int64_t restrictions = problem.restrictions();
  bool ok = problem.r.allocate(items * restrictions) && problem.rc.allocate(restrictions) &&
            problem.initpi.allocate(items) && problem.x.allocate(items) &&
            workspace.pi.allocate(items) &&
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
