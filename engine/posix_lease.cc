#include "engine/posix_lease.h"

#include <fcntl.h>

#include <cerrno>
#include <csignal>

namespace vs {

#if defined(F_SETLEASE) && defined(F_SETSIG)

LeaseResult TakeReadLease(int fd) {
  // A broken lease signals its holder, with SIGIO unless told otherwise,
  // and SIGIO ends a process that does not handle it. SIGURG is ignored
  // unless handled, and this program has no out-of-band data to wait for;
  // the run asks with LeaseIntact instead.
  if (fcntl(fd, F_SETSIG, SIGURG) != 0) return LeaseResult::kUnavailable;
  if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) return LeaseResult::kTaken;
  return errno == EAGAIN ? LeaseResult::kBusy : LeaseResult::kUnavailable;
}

bool LeaseIntact(int fd) {
  // While a break is pending, the lease reads as what it is being broken
  // to: F_UNLCK.
  return fcntl(fd, F_GETLEASE) == F_RDLCK;
}

#else  // no leases

LeaseResult TakeReadLease(int) { return LeaseResult::kUnavailable; }
bool LeaseIntact(int) { return true; }

#endif

}  // namespace vs
