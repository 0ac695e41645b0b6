#include "engine/prepare_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

void DoNothing(int) {}

// Whatever ends the process by default on a failed write would end a run
// between two changes; the failed write itself is what the run reports.
// Caught by a handler that does nothing, the signal leaves the write to
// fail (EPIPE, EFBIG) as it would if ignored; unlike an ignored signal, a
// caught one is back to its default in the programs the process starts
// (the dialog opens its help through xdg-open), which may rely on it.
void CatchWriteSignals() {
  struct sigaction action = {};
  action.sa_handler = DoNothing;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &action, nullptr);
  sigaction(SIGXFSZ, &action, nullptr);
}

// A closed standard descriptor would be the number the next open() gets,
// so a file of the run could receive the listing. Opened for reading
// only, /dev/null takes the number and makes every write to it fail.
void HoldStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int held = open("/dev/null", O_RDONLY);
    // open() takes the lowest free number: this one, as the lower ones
    // are open by now.
    if (held >= 0 && held != fd) close(held);
  }
}

}  // namespace

void PrepareProcessForRuns() {
  CatchWriteSignals();
  HoldStandardDescriptors();
  RaiseOpenFilesLimit();  // first: the table grows up to the new limit
  GrowDescriptorTable();
}

}  // namespace vs
