// Runs the replace engine as the command line asks and prints its result.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/progress_line.h"
#include "engine/run_lock.h"

namespace vs {

// Exit statuses of vellumshaper-cli.
enum ExitStatus {
  kExitSuccess = 0,
  // A folder, a file or a change failed, or the output (listing, JSON or
  // diff) could not be written.
  kExitFailure = 1,
  kExitUsage = 2,    // a bad command line; nothing was run
  // A run stopped by SIGINT or SIGTERM exits with 128 and the signal's
  // number: 130 or 143.
};

// Where the output streams go, as far as printing cares. On a terminal,
// the control bytes of names and entries are shown escaped (see
// EscapeForTerminal); into pipes and files every byte goes out as it is.
// A terminal on standard error shows the progress line; one on standard
// output gets colours unless `no_color` or --color say otherwise.
struct OutputKinds {
  bool out_is_terminal = false;
  bool err_is_terminal = false;
  // The environment asks for no colour (NO_COLOR set and not empty, or a
  // dumb terminal): --color=auto gives none.
  bool no_color = false;
  ProgressTiming progress;
};

// Whether standard output gets colours: `mode` as --color gave it.
bool UseColor(ColorMode mode, const OutputKinds& kinds);

// Walks `options.base_dir` and writes to `out` what the run did in the
// format `options.format` asks for (see RunReport): by default every file
// that changed or failed to change, in byte order of the paths, each
// followed by its change entries on lines of their own after a TAB.
// Problems met on the way go to `err` as they happen, and with
// `options.stats` the run's numbers at the end. Returns the exit status.
//
// SIGINT and SIGTERM stop the run: the files it has begun are finished,
// what was done is listed, and the status tells the signal.
//
// Output that cannot be written (a full disk, a closed pipe or a
// closed `out`) is a failure: found during the walk, it stops the run as
// a signal would, the files begun being finished; either way it is told
// on `err` and the status is kExitFailure.
//
// With `process_ends_after`, what the run built (the change log of every
// file visited) is left for the process's end to reclaim: freeing it
// entry by entry takes a noticeable share of a run over a large tree.
int RunCli(const CliOptions& options, std::ostream& out, std::ostream& err,
           const OutputKinds& kinds = {}, bool process_ends_after = false);

class Output;
class StopOnSignals;

// Ended by the signal: 128 and its number, as a shell reports it.
int StatusOfSignal(int signal_number);

// Waits, unless `no_wait`, until no other run works in the tree
// `base_dir`, and says so on `err` while it waits. Returns the exit
// status of a run that may not go ahead, or kExitSuccess.
int TakeRunLock(const std::string& base_dir, bool no_wait,
                const StopOnSignals& signals, Output* err,
                std::unique_ptr<RunLock>* lock);

// The whole program after setlocale: parses `args` (args[0] being the
// program's name), then runs, or prints the help, the version or a usage
// error. Help or version text that cannot be written is a failure too.
// Returns the exit status.
int CliMain(const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, const OutputKinds& kinds = {},
            bool process_ends_after = false);

}  // namespace vs
