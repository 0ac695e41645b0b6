// What vellumshaper-cli writes on standard output about a run, in the
// format the command line chose: the listing, JSON Lines or a diff.
// Problems come as the walk meets them, each finished file as the walk
// finishes it, and the rest once the walk is over. Every format writes
// through one Output, which keeps the first failure.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/cli_options.h"
#include "cli/output.h"
#include "cli/run_summary.h"
#include "engine/change_log.h"
#include "engine/run_observer.h"

namespace vs {

// What is known of a run once it is over.
struct RunEnd {
  RunProgress progress;
  ProblemCounts problems;
  // What the listed files' entries tell.
  FileCounts files;
  bool dry_run = false;
  // Stopped before its end: by a signal, for want of memory, or because
  // the output could not be written.
  bool stopped = false;
  double seconds = 0;  // from the walk's start to the end of the output
};

class RunReport {
 public:
  virtual ~RunReport() = default;

  // Whether the run must keep its changed lines whole for this format
  // (RunSettings::keep_line_texts).
  virtual bool NeedsLineTexts() const { return false; }
  // A problem the walk met, as it meets it. Out of memory comes to End.
  virtual void Problem(const vs::Problem& problem) = 0;
  // A file that changed or failed to, once the walk is done with it;
  // `line_texts` is empty unless NeedsLineTexts().
  virtual void File(const std::string& /*path*/,
                    const ChangeList& /*changes*/,
                    const ChangeList& /*line_texts*/) {}
  // Once the walk is over: `log` holds every file it met. Stops at the
  // first write that fails. May throw what reading the log back throws
  // (std::bad_alloc, std::system_error for a spilled list).
  virtual void End(const ChangeLog& log, const RunEnd& end) = 0;
};

// The report of `format` on `out` (with `quiet`, one that writes
// nothing), which must outlive it. `base_dir` is
// the folder the run walks, as given.
std::unique_ptr<RunReport> MakeRunReport(OutputFormat format, bool quiet,
                                         const std::string& base_dir,
                                         Output* out);

}  // namespace vs
