// PrepareProcessForRuns, looked at in a child process: a fork copies only
// the descriptors open at the time, so the child starts with a small
// table and with the limit it is given.
#include "engine/prepare_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <string>

namespace vs {
namespace {

// The size of the process's table of descriptors, as the kernel tells it
// in /proc/self/status; 0 when it does not.
long DescriptorTableSize() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("FDSize:", 0) == 0) return std::stol(line.substr(7));
  return 0;
}

// What the child found; its exit status.
enum Finding {
  kAsExpected = 0,
  kSetUpFailed = 1,
  kLimitNotRaised = 2,
  kTableNotGrown = 3,
  kTableGrownBefore = 4,  // nothing left to tell
};

Finding PrepareAndLook() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return kSetUpFailed;
  const rlim_t hard = limit.rlim_max;
  limit.rlim_cur = std::min<rlim_t>(256, hard);
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return kSetUpFailed;
  const long expected = static_cast<long>(std::min<rlim_t>(1024, hard));
  if (DescriptorTableSize() >= expected) return kTableGrownBefore;

  PrepareProcessForRuns();

  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return kSetUpFailed;
  if (limit.rlim_cur != hard) return kLimitNotRaised;
  if (DescriptorTableSize() < expected) return kTableNotGrown;
  return kAsExpected;
}

TEST(PrepareProcessTest, RaisesTheLimitAndGrowsTheTable) {
  if (DescriptorTableSize() == 0) GTEST_SKIP() << "no FDSize in /proc";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(PrepareAndLook());
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kAsExpected);
}

// What the child found about the signals of failed writes and the
// standard descriptors; its exit status.
enum WriteFinding {
  kWritesAsExpected = 0,
  kSignalNotIgnored = 1,
  kDescriptorFree = 2,      // a new file would take standard output's number
  kClosedOutputWrites = 3,  // a write to the closed standard output worked
};

WriteFinding CloseOutputPrepareAndLook() {
  close(STDOUT_FILENO);
  PrepareProcessForRuns();
  for (int signal_number : {SIGPIPE, SIGXFSZ}) {
    struct sigaction action;
    if (sigaction(signal_number, nullptr, &action) != 0 ||
        action.sa_handler != SIG_IGN)
      return kSignalNotIgnored;
  }
  const int fd = open("/dev/null", O_WRONLY);
  if (fd <= STDERR_FILENO) return kDescriptorFree;
  if (write(STDOUT_FILENO, "x", 1) != -1 || errno != EBADF)
    return kClosedOutputWrites;
  return kWritesAsExpected;
}

TEST(PrepareProcessTest, FailedWritesSignalNothingAndClosedOutputStaysClosed) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(CloseOutputPrepareAndLook());
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kWritesAsExpected);
}

}  // namespace
}  // namespace vs
