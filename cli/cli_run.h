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
};

// Walks `options.base_dir`, then writes to `out` every file that changed or
// failed to change, in byte order of the paths, each followed by its change
// entries on lines of their own after a TAB. Problems met on the way go to
// `err` as they happen. Returns the exit status.
int RunCli(const CliOptions& options, std::ostream& out, std::ostream& err);

// The whole program after setlocale: parses `args` (args[0] being the
// program's name), then runs, or prints the help, the version or a usage
// error. Returns the exit status.
int CliMain(const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err);

}  // namespace vs
