#include "tests/refused_syscalls.h"

#if defined(__linux__)
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#endif

namespace vs::test {

#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))
namespace {

#if defined(__x86_64__)
constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#else
constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#endif

// The child's exit status when the filter could not be installed.
constexpr int kNoFilter = 125;

// Where the low and high 32 bits of argument `arg` are in seccomp_data.
std::uint32_t ArgWord(int arg, bool high) {
  const std::uint32_t at =
      offsetof(seccomp_data, args) + 8 * static_cast<std::uint32_t>(arg);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return high ? at + 4 : at;
#else
  return high ? at : at + 4;
#endif
}

sock_filter Load(std::uint32_t offset) {
  return BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset);
}

// One block for each refusal: it returns the errno when its call
// matches, and jumps to the next block as soon as something does not.
std::vector<sock_filter> Filter(const std::vector<RefusedSyscall>& refused) {
  std::vector<sock_filter> program = {
      Load(offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  for (const RefusedSyscall& r : refused) {
    std::vector<sock_filter> block = {
        Load(offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K,
                 static_cast<std::uint32_t>(r.number), 0, 0),
    };
    if (r.arg >= 0) {
      for (bool high : {false, true}) {
        const int shift = high ? 32 : 0;
        const auto mask = static_cast<std::uint32_t>(r.mask >> shift);
        const auto value = static_cast<std::uint32_t>(r.value >> shift);
        block.push_back(Load(ArgWord(r.arg, high)));
        block.push_back(BPF_STMT(BPF_ALU | BPF_AND | BPF_K, mask));
        block.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, 0));
      }
    }
    block.push_back(
        BPF_STMT(BPF_RET | BPF_K,
                 SECCOMP_RET_ERRNO |
                     (static_cast<std::uint32_t>(r.error) & SECCOMP_RET_DATA)));
    // Every test's false branch leaves the block.
    for (std::size_t i = 0; i < block.size(); ++i) {
      if (BPF_CLASS(block[i].code) == BPF_JMP)
        block[i].jf = static_cast<std::uint8_t>(block.size() - i - 1);
    }
    program.insert(program.end(), block.begin(), block.end());
  }
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  return program;
}

bool WriteAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// The child: installs the filter, runs `body`, sends its Status (a code
// byte, then the reason) and leaves without running any exit handlers.
[[noreturn]] void RunChild(const std::vector<sock_filter>& program,
                           const std::function<Status()>& body, int out) {
  sock_fprog fprog = {static_cast<unsigned short>(program.size()),
                      const_cast<sock_filter*>(program.data())};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog) != 0)
    _exit(kNoFilter);
  const Status status = body();
  const char code = static_cast<char>(status.code());
  const bool sent =
      WriteAll(out, &code, 1) &&
      WriteAll(out, status.reason().data(), status.reason().size());
  _exit(sent ? 0 : 1);
}

}  // namespace

bool RunWithRefusedSyscalls(const std::vector<RefusedSyscall>& refused,
                            const std::function<Status()>& body,
                            Status* result) {
  // Built before the fork: the child should do as little as it can.
  const std::vector<sock_filter> program = Filter(refused);
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return false;
  const pid_t child = fork();
  if (child < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return false;
  }
  if (child == 0) {
    close(pipe_fds[0]);
    RunChild(program, body, pipe_fds[1]);
  }
  close(pipe_fds[1]);
  std::string sent;
  char buffer[256];
  for (;;) {
    ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sent.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipe_fds[0]);
  int wait_status = 0;
  while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == kNoFilter)
    return false;
  if (!WIFEXITED(wait_status) || WEXITSTATUS(wait_status) != 0 ||
      sent.empty()) {
    *result = Status::Error(Status::Code::kIOError,
                            "the child process did not report back");
    return true;
  }
  const auto code = static_cast<Status::Code>(sent[0]);
  *result = code == Status::Code::kOk ? Status::Ok()
                                      : Status::Error(code, sent.substr(1));
  return true;
}

#else

bool RunWithRefusedSyscalls(const std::vector<RefusedSyscall>&,
                            const std::function<Status()>&, Status*) {
  return false;
}

#endif

}  // namespace vs::test
