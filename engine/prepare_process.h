// Readies the process for runs: called once by each front end at its
// start, before any thread starts.
#pragma once

namespace vs {

// Readies the process for the life of it:
// - SIGPIPE and SIGXFSZ are caught and do nothing, so that no signal ends
//   a run between two changes: a write to a closed pipe fails with EPIPE,
//   and a write past the file-size limit (RLIMIT_FSIZE) with EFBIG, each
//   an error the caller sees and handles like any other failed write.
//   Programs the process starts get both at their defaults.
// - Standard input, output and error that are closed are held open on
//   /dev/null, for reading only: no file a run opens can take their
//   numbers and so receive what is meant for them, and writing to a
//   closed standard output or error still fails (EBADF).
// - The limit of open files is raised to the most the system allows this
//   process, and the kernel grows the process's table of descriptors to
//   the size a run takes.
// Call it before the process starts any thread: once there are threads,
// growing the table waits for every CPU to pass through the scheduler.
void PrepareProcessForRuns();

}  // namespace vs
