// Readies the process for runs: called once by each front end at its
// start, before any thread starts.
#pragma once

namespace vs {

// Raises the limit of open files to the most the system allows this
// process, and has the kernel grow the process's table of descriptors to
// the size a run takes. Both last for the life of the process. Call it
// before the process starts any thread: once there are threads, growing
// the table waits for every CPU to pass through the scheduler.
void PrepareProcessForRuns();

}  // namespace vs
