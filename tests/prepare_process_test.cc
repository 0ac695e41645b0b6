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

#include "tests/temp_folder.h"

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

// What the child found about failed writes and the standard
// descriptors; its exit status. A signal that still ended the process on
// a failed write shows as the child killed by it.
enum WriteFinding {
  kWritesAsExpected = 0,
  kWriteSetUpFailed = 1,
  kPipeWriteDidNotFail = 2,  // not EPIPE
  kBigWriteDidNotFail = 3,   // not EFBIG
  kDescriptorFree = 4,       // a new file would take standard output's number
  kClosedOutputWrites = 5,   // a write to the closed standard output worked
};

WriteFinding CloseOutputPrepareAndLook(const std::string& folder) {
  close(STDOUT_FILENO);
  PrepareProcessForRuns();

  int ends[2];
  if (pipe(ends) != 0) return kWriteSetUpFailed;
  close(ends[0]);
  if (write(ends[1], "x", 1) != -1 || errno != EPIPE)
    return kPipeWriteDidNotFail;
  close(ends[1]);

  struct rlimit limit = {4096, 4096};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return kWriteSetUpFailed;
  const std::string big = folder + "/big";
  const int file = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (file <= STDERR_FILENO) return kDescriptorFree;
  const std::string block(8192, 'x');
  // The write stops at the limit, and the next one fails.
  if (write(file, block.data(), block.size()) != 4096)
    return kBigWriteDidNotFail;
  if (write(file, block.data(), block.size()) != -1 || errno != EFBIG)
    return kBigWriteDidNotFail;
  close(file);
  unlink(big.c_str());

  if (write(STDOUT_FILENO, "x", 1) != -1 || errno != EBADF)
    return kClosedOutputWrites;
  return kWritesAsExpected;
}

TEST(PrepareProcessTest, FailedWritesSignalNothingAndClosedOutputStaysClosed) {
  test::TempFolder folder;
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(CloseOutputPrepareAndLook(folder.path()));
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), kWritesAsExpected);
}

// A program the process starts has the signals of failed writes at their
// defaults, as programs expect: here a shell that sends itself each one
// is ended by it.
TEST(PrepareProcessTest, ProgramsStartedGetTheDefaultSignals) {
  for (int signal_number : {SIGPIPE, SIGXFSZ}) {
    SCOPED_TRACE(signal_number);
    const std::string script =
        "kill -" + std::to_string(signal_number) + " $$; exit 0";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      PrepareProcessForRuns();
      execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(signal_number, WTERMSIG(status));
  }
}

}  // namespace
}  // namespace vs
