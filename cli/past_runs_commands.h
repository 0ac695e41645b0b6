// The commands on the runs the undo journal keeps: --undo, --list-runs,
// --show-run and --forget (see engine/past_runs.h, engine/undo_run.h).
#pragma once

#include <ostream>

#include "cli/cli_options.h"
#include "cli/cli_run.h"

namespace vs {

// Carries out `options.command` (anything but Command::kRun) on the runs
// kept in RunsFolder(), writing to `out` in the run's own formats (the
// listing, or JSON with --json) and errors to `err`. Returns the exit
// status: 0 when all went through, 1 when a file could not be restored
// or a journal is damaged, 2 when there is no such run (or none to undo),
// 130 or 143 when a signal stopped an undo.
int RunPastRunsCommand(const CliOptions& options, std::ostream& out,
                       std::ostream& err, const OutputKinds& kinds);

}  // namespace vs
