// Read leases: how the run learns that another program opens a file for
// writing while the run replaces it, and makes that program wait until
// the run has put the file back.
#pragma once

namespace vs {

enum class LeaseResult {
  kTaken,        // held until the descriptor is closed
  kBusy,         // the file is open for writing elsewhere
  kUnavailable,  // not the file's owner, or a file system without leases
};

// Takes a read lease on `fd`, a file opened read-only. A program that
// opens the file for writing, or truncates it, then breaks the lease and
// waits until the descriptor is closed (or the system's lease break time
// has passed). Breaking it sends no signal that could end the process.
LeaseResult TakeReadLease(int fd);

// Whether the lease `fd` took is still whole: no program has tried to
// open the file for writing since.
bool LeaseIntact(int fd);

}  // namespace vs
