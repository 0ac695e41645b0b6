// Runs a piece of code the way it runs where the kernel or the file
// system refuses some system calls: in a forked child process under a
// seccomp filter that fails the chosen calls with a chosen errno. The
// refusals end with the child, so the test process is never affected.
//
//   Status status;
//   bool supported = RunWithRefusedSyscalls(
//       {{SYS_linkat, EPERM}}, [&] { return Rename(...); }, &status);
//
// Linux only; elsewhere, and where no filter can be installed, it runs
// nothing and returns false.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/status.h"

namespace vs::test {

struct RefusedSyscall {
  long number;  // SYS_...
  int error;    // the errno the call fails with
  // With arg >= 0 only the calls whose argument number `arg` (from 0)
  // satisfies (argument & mask) == value are refused.
  int arg = -1;
  std::uint64_t mask = ~std::uint64_t{0};
  std::uint64_t value = 0;
};

// Runs `body` in a child process with `refused` in force and stores the
// Status it returned (code and reason) in *result. Returns false, with
// *result untouched, when the system cannot refuse calls this way. The
// child does nothing but `body`, so `body` should only make the calls
// under test.
bool RunWithRefusedSyscalls(const std::vector<RefusedSyscall>& refused,
                            const std::function<Status()>& body,
                            Status* result);

}  // namespace vs::test
