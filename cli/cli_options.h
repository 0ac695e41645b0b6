// The command line of vellumshaper-cli, parsed into run settings. Parsing
// does no I/O: it returns what to do, and the caller prints.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/path_filter.h"
#include "engine/run_settings.h"

namespace vs {

inline constexpr char kProgramName[] = "vellumshaper-cli";
inline constexpr char kProgramVersion[] = "1.0.0.1";

// The help text, ending with a newline.
extern const char kUsage[];

// What standard output gets: the listing, JSON Lines (--json) or a
// unified diff (--diff).
enum class OutputFormat { kListing, kJson, kDiff };

// --color: colour the listing and the diff always, never, or when
// standard output is a terminal and the environment does not say no.
enum class ColorMode { kAuto, kAlways, kNever };

// What the command line asks for: a run (the default), or one of the
// commands on the runs the undo journal keeps.
enum class Command {
  kRun,
  kUndo,      // --undo [RUN]
  kListRuns,  // --list-runs
  kShowRun,   // --show-run RUN
  kForget,    // --forget RUN|all
};

// The settings of one run, as the command line gives them.
struct CliOptions {
  Command command = Command::kRun;
  // The run --undo, --show-run or --forget names ("all" for every run with
  // --forget); empty with --undo: the latest not yet undone.
  std::string run_id;
  // A run that keeps no undo journal.
  bool no_undo = false;
  std::string find;  // empty: the run changes nothing
  std::string replace;
  // -i, -w, --preserve-case (only with -i) and -e. Whether a regular
  // expression compiles is learnt when the run starts, in the code page
  // of the run.
  MatchModes modes;
  bool sub_folders = true;
  bool change_names = true;
  bool change_text = true;
  bool dry_run = false;
  // Unset: the code page of the locale, learnt when the run starts.
  std::optional<int> code_page;
  // --exclude and --include, every glob checked.
  PathFilter filter;
  bool include_vcs = false;
  // Leave alone what git ignores in the repository of base_dir.
  bool gitignore = false;
  OutputFormat format = OutputFormat::kListing;
  // -q: nothing on standard output, the exit status says it all.
  bool quiet = false;
  // --stats: the run's numbers on standard error once it is over.
  bool stats = false;
  ColorMode color = ColorMode::kAuto;
  // Exit at once when another run works in the tree, rather than wait.
  bool no_wait = false;
  bool one_file_system = false;  // -x: stay on BASE_DIR's file system
  // Never empty after a successful parse of a run; empty for the
  // commands on past runs.
  std::string base_dir;
};

struct ParseResult {
  enum class Action { kRun, kHelp, kVersion, kUsageError };
  Action action = Action::kRun;
  CliOptions options;  // meaningful for kRun only
  std::string error;   // for kUsageError: one line, no program name
};

// Parses `args`, where args[0] is the program's name. Options may come
// before or after BASE_DIR; "--" ends them. The first --help or --version
// wins over anything after it. May be called any number of times.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

}  // namespace vs
