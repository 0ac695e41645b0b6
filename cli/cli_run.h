// Runs the replace engine as the command line asks and prints its result.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace vs {

// Exit statuses of vellumshaper-cli.
enum ExitStatus {
  kExitSuccess = 0,
  kExitFailure = 1,  // a folder, a file or a change failed
  kExitUsage = 2,    // a bad command line; nothing was run
  // A run stopped by SIGINT or SIGTERM exits with 128 and the signal's
  // number: 130 or 143.
};

// Walks `options.base_dir`, then writes to `out` every file that changed or
// failed to change, in byte order of the paths, each followed by its change
// entries on lines of their own after a TAB. Problems met on the way go to
// `err` as they happen. Returns the exit status.
//
// SIGINT and SIGTERM stop the run: the files it has begun are finished,
// what was done is listed, and the status tells the signal.
//
// With `process_ends_after`, what the run built (the change log of every
// file visited) is left for the process's end to reclaim: freeing it
// entry by entry takes a noticeable share of a run over a large tree.
int RunCli(const CliOptions& options, std::ostream& out, std::ostream& err,
           bool process_ends_after = false);

// The whole program after setlocale: parses `args` (args[0] being the
// program's name), then runs, or prints the help, the version or a usage
// error. Returns the exit status.
int CliMain(const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, bool process_ends_after = false);

}  // namespace vs
