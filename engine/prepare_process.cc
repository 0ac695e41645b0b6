#include "engine/prepare_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace vs {
namespace {

// A walk holds one descriptor for each level of nesting, so allow as
// many as the system lets this process have.
void RaiseOpenFilesLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 &&
      limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// The kernel grows a process's table of descriptors as higher ones are
// taken, and once the process has threads, each growth waits until every
// CPU has passed through the scheduler: milliseconds, in the middle of a
// run, on whichever thread opened the file. Grown once, before a run
// starts its threads, the table holds what a run takes: folders listed
// ahead, a batch's folders and new files, replaced files being let go.
void GrowDescriptorTable() {
  constexpr rlim_t kDescriptors = 1024;
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t highest = std::min(kDescriptors, limit.rlim_cur) - 1;
  int probe = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (probe < 0) return;
  int high = fcntl(probe, F_DUPFD_CLOEXEC, static_cast<int>(highest));
  if (high >= 0) close(high);
  close(probe);
}

}  // namespace

void PrepareProcessForRuns() {
  RaiseOpenFilesLimit();  // first: the table grows up to the new limit
  GrowDescriptorTable();
}

}  // namespace vs
