#include "cli/cli_options.h"

#include <getopt.h>

#include <climits>
#include <cstring>

namespace vs {

const char kUsage[] =
    "Usage: vellumshaper-cli [OPTION]... BASE_DIR\n"
    "  or:  vellumshaper-cli --undo [RUN] [--dry-run] [--json]\n"
    "  or:  vellumshaper-cli --list-runs | --show-run=RUN | --forget=RUN|all\n"
    "Replaces the find text in the files under BASE_DIR and in their names,\n"
    "then lists every file that changed, each change on a line below it\n"
    "after a TAB (or writes them as JSON or as a diff).\n"
    "\n"
    "Options:\n"
    "  -f, --find=TEXT      the text to find (default: empty, which changes\n"
    "                       nothing)\n"
    "  -r, --replace=TEXT   the text to put in its place (default: empty)\n"
    "  -i, --ignore-case    match letters in either case: ASCII letters, and\n"
    "                       in UTF-8 every letter (Unicode simple case\n"
    "                       folding); in a double-byte code page ASCII only\n"
    "  -w, --word           match whole words only: no letter, digit or '_'\n"
    "                       right before or after a match (in UTF-8 also\n"
    "                       Unicode letters, marks and digits, and bytes\n"
    "                       that are not UTF-8)\n"
    "      --preserve-case  with -i: a match all in lower case, all in upper\n"
    "                       case, or with its first letter upper and the\n"
    "                       rest lower gives its replacement that case\n"
    "                       (widget->gadget: Widget->Gadget, WIDGET->GADGET);\n"
    "                       any other match takes the replacement as typed.\n"
    "                       Only ASCII letters count and change\n"
    "  -e, --regex          the find TEXT is a regular expression (RE2),\n"
    "                       matched within a line; in the replacement $1 or\n"
    "                       ${1} is a group, ${name} a named group, $0 the\n"
    "                       match, $$ a dollar\n"
    "      --no-subfolders  leave the subfolders of BASE_DIR alone\n"
    "      --no-names       leave file names alone\n"
    "      --no-text        leave the text in the files alone\n"
    "  -n, --dry-run        list what would change, but change nothing\n"
    "      --code-page=N    match characters of code page N (default: the\n"
    "                       locale's)\n"
    "      --exclude=GLOB   leave alone the files and folders GLOB matches;\n"
    "                       an excluded folder is not entered (repeatable)\n"
    "      --include=GLOB   work only on the files GLOB matches, or that lie\n"
    "                       below a folder it matches (repeatable)\n"
    "      --include-vcs    walk version control's own folders too\n"
    "  -x, --one-file-system  leave alone the folders on other file systems\n"
    "                       than BASE_DIR's (mount points)\n"
    "      --gitignore      leave alone the files and folders git ignores\n"
    "      --json           write JSON Lines instead of the listing: a record\n"
    "                       for each listed file, then a summary\n"
    "      --diff           write a unified diff instead of the listing, which\n"
    "                       git apply applies (with --dry-run: to an\n"
    "                       untouched copy of the tree)\n"
    "      --no-wait        exit at once, rather than wait, when another run\n"
    "                       is working in this tree\n"
    "      --no-undo        keep no undo journal of this run\n"
    "      --undo           undo the latest run not undone yet, or the RUN\n"
    "                       given after it: each file it changed goes back,\n"
    "                       if it is still as the run left it (with\n"
    "                       --dry-run: list what would go back)\n"
    "      --list-runs      list the runs the undo journal keeps\n"
    "      --show-run=RUN   list what the run RUN changed\n"
    "      --forget=RUN     delete the run RUN from the undo journal ('all':\n"
    "                       every run)\n"
    "  -q, --quiet          write nothing on standard output: the exit status\n"
    "                       tells how the run went, errors still go to\n"
    "                       standard error\n"
    "      --stats          at the end, write the run's numbers on standard\n"
    "                       error: files looked at, changed, renamed and\n"
    "                       failed, bytes read, seconds\n"
    "      --color=WHEN     colour the listing and the diff: auto (the\n"
    "                       default), always or never\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n"
    "\n"
    "GLOB is matched as in .gitignore against each path relative to\n"
    "BASE_DIR: a GLOB without a '/' (but for a trailing one) matches a name\n"
    "at any depth ('*.min.js'), one with a '/' matches from BASE_DIR\n"
    "('docs/**/*.md', '/build'); a trailing '/' matches folders only; '**'\n"
    "matches any number of folders. Exclude wins over include.\n"
    "\n"
    "With --gitignore, a file git ignores is neither rewritten nor renamed\n"
    "and an ignored folder is not entered. The rules are git's: the\n"
    ".gitignore files (those above BASE_DIR too), .git/info/exclude and the\n"
    "global excludes file (core.excludesFile, by default\n"
    "$XDG_CONFIG_HOME/git/ignore), matched from the top of the repository.\n"
    "A file git tracks is never ignored, and a repository nested below\n"
    "BASE_DIR follows its own rules. Outside a git repository no rules\n"
    "apply.\n"
    "A regular expression is matched in time linear in the line, whatever\n"
    "it is, and never across a line end; a match of no character (from 'x*'\n"
    "or '^') is skipped. Names are matched as one line. Lines are matched as\n"
    "UTF-8 in the UTF-8 code page, as bytes in a single-byte one (where a\n"
    "regular expression with -i also folds Latin-1 letters); a double-byte\n"
    "code page takes only a pattern without metacharacters. One that does\n"
    "not compile is a bad command line. With -i, -w or -e a file with a line over 32 MiB is left\n"
    "alone, as unreadable.\n"
    "\n"
    "Version control's own folders (.git, .hg, .svn, .bzr, _darcs, CVS) are\n"
    "never entered, a file named .git is never touched, and no file is\n"
    "renamed to one of those names, unless --include-vcs is given.\n"
    "\n"
    "Two runs never work in one tree at once: a run (but a dry run) whose\n"
    "BASE_DIR is, is inside or is above the BASE_DIR of another that is\n"
    "working waits for it to end, or with --no-wait exits 1. The runs' locks\n"
    "are kept in $XDG_STATE_HOME/vellumshaper/running (by default\n"
    "~/.local/state/vellumshaper/running), or in /tmp/vellumshaper-UID where\n"
    "the home folder cannot be written.\n"
    "\n"
    "Every run that changes a file keeps an undo journal in\n"
    "$XDG_STATE_HOME/vellumshaper/runs (by default\n"
    "~/.local/state/vellumshaper/runs): what it asked, each file it changed\n"
    "and the file's old version. --undo puts back every file still exactly\n"
    "as the run left it, last changed first: the very file it was, under its\n"
    "old name, never over anything that holds that name now; any other file\n"
    "is left alone and listed as a failure ('changed since the run', 'name\n"
    "taken'). An undo cut short finishes when run again. A run starts by\n"
    "pruning the journal to the last 20 runs, none older than 30 days.\n"
    "\n"
    "Ctrl-C (SIGINT) or SIGTERM stops a run: the files it has begun are\n"
    "finished, each whole, and what was done is listed.\n"
    "\n"
    "On a terminal, control bytes in names and entries are shown escaped\n"
    "(\\n, \\t, \\033, and \\\\ for a backslash); into files and pipes they\n"
    "go out unchanged.\n"
    "\n"
    "When standard error is a terminal, a run that takes longer than a\n"
    "second shows a progress line there (files looked at, files changed),\n"
    "cleared before anything else is written and when the run ends.\n"
    "\n"
    "--color=auto colours paths, entries and the diff when standard output\n"
    "is a terminal, unless the environment variable NO_COLOR is set and not\n"
    "empty, or TERM is 'dumb'. --color=always colours them anywhere,\n"
    "whatever NO_COLOR says; --json is never coloured.\n"
    "\n"
    "--json writes one JSON object a line: an \"error\" record for each\n"
    "folder or file the walk could not read, as it meets it, a \"file\"\n"
    "record for each listed file, then a \"summary\". Paths and texts that\n"
    "are not UTF-8 are given as {\"bytes\": BASE64}, others as {\"text\": ...}.\n"
    "README.md gives the schema.\n"
    "\n"
    "--diff writes each file's changes as a unified diff, renames with git's\n"
    "headers, paths relative to BASE_DIR: 'git apply' applies a dry run's\n"
    "diff to an untouched copy of the tree. Failures and folders that could\n"
    "not be read are notes, lines starting with '# ', which git apply skips.\n"
    "\n"
    "Memory stays under 256 MiB however many lines change: change entries\n"
    "beyond 64 MiB go to a nameless scratch file in $TMPDIR (or /tmp), gone\n"
    "when the program ends. Out of memory stops the run like Ctrl-C, lists\n"
    "what was done and exits 1.\n"
    "\n"
    "Exit status: 0 when nothing failed, 1 when a folder, a file or a change\n"
    "failed, a folder was moved out of the tree during the run, another run\n"
    "works in the tree (--no-wait), memory ran out or the output could not\n"
    "be written, 2 for a bad command line, 130 or 143 when SIGINT or SIGTERM\n"
    "stopped the run. Output that cannot be written (a full disk, a closed\n"
    "pipe) never ends a run between two changes: met during the walk, it\n"
    "stops the run as SIGINT does. A write past the file-size limit (ulimit\n"
    "-f) fails that file's change only.\n";

namespace {

// Values of the options that have no short form.
enum LongOnlyOption {
  kNoSubFolders = 256,
  kNoNames,
  kNoText,
  kCodePage,
  kExclude,
  kInclude,
  kIncludeVcs,
  kGitignore,
  kJson,
  kDiff,
  kNoWait,
  kPreserveCase,
  kStats,
  kColor,
  kNoUndo,
  kUndo,
  kListRuns,
  kShowRun,
  kForget,
};

const option kOptions[] = {
    {"find", required_argument, nullptr, 'f'},
    {"replace", required_argument, nullptr, 'r'},
    {"ignore-case", no_argument, nullptr, 'i'},
    {"word", no_argument, nullptr, 'w'},
    {"preserve-case", no_argument, nullptr, kPreserveCase},
    {"regex", no_argument, nullptr, 'e'},
    {"no-subfolders", no_argument, nullptr, kNoSubFolders},
    {"no-names", no_argument, nullptr, kNoNames},
    {"no-text", no_argument, nullptr, kNoText},
    {"dry-run", no_argument, nullptr, 'n'},
    {"code-page", required_argument, nullptr, kCodePage},
    {"exclude", required_argument, nullptr, kExclude},
    {"include", required_argument, nullptr, kInclude},
    {"include-vcs", no_argument, nullptr, kIncludeVcs},
    {"gitignore", no_argument, nullptr, kGitignore},
    {"json", no_argument, nullptr, kJson},
    {"diff", no_argument, nullptr, kDiff},
    {"no-wait", no_argument, nullptr, kNoWait},
    {"one-file-system", no_argument, nullptr, 'x'},
    {"quiet", no_argument, nullptr, 'q'},
    {"stats", no_argument, nullptr, kStats},
    {"color", required_argument, nullptr, kColor},
    {"no-undo", no_argument, nullptr, kNoUndo},
    {"undo", no_argument, nullptr, kUndo},
    {"list-runs", no_argument, nullptr, kListRuns},
    {"show-run", required_argument, nullptr, kShowRun},
    {"forget", required_argument, nullptr, kForget},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// The leading ':' makes getopt_long return ':' for a missing argument and
// keeps it from printing anything itself.
constexpr char kShortOptions[] = ":f:r:iwenqxhV";

const option* FindOption(int value) {
  for (const option* o = kOptions; o->name; ++o) {
    if (o->val == value) return o;
  }
  return nullptr;
}

// How many long options start with `prefix`; getopt_long takes any
// unambiguous abbreviation.
int CountLongMatches(const std::string& prefix) {
  int count = 0;
  for (const option* o = kOptions; o->name; ++o) {
    if (std::strncmp(o->name, prefix.c_str(), prefix.size()) == 0) ++count;
  }
  return count;
}

// `typed` is the argument that held the option, as given.
std::string OptionName(int value, const std::string& typed) {
  const option* o = FindOption(value);
  if (typed.compare(0, 2, "--") == 0 || value > UCHAR_MAX || !o) {
    return std::string("--") + (o ? o->name : "?");
  }
  return std::string("-") + static_cast<char>(value);
}

// Puts into words what getopt_long rejected: `result` is ':' or '?',
// `typed` the argument it stopped at.
std::string DescribeRejected(int result, const std::string& typed) {
  if (result == ':') {
    return "option '" + OptionName(optopt, typed) + "' requires an argument";
  }
  if (optopt != 0 && FindOption(optopt)) {
    return "option '" + OptionName(optopt, typed) +
           "' doesn't allow an argument";
  }
  if (optopt != 0) {
    return std::string("unknown option '-") + static_cast<char>(optopt) + "'";
  }
  std::string name = typed.substr(0, typed.find('='));
  if (name.size() > 2 && CountLongMatches(name.substr(2)) > 1) {
    return "ambiguous option '" + name + "'";
  }
  return "unknown option '" + name + "'";
}

// A positive decimal number that fits an int, digits only.
std::optional<int> ParsePositive(const std::string& text) {
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<ColorMode> ParseColorMode(const std::string& text) {
  if (text == "auto") return ColorMode::kAuto;
  if (text == "always") return ColorMode::kAlways;
  if (text == "never") return ColorMode::kNever;
  return std::nullopt;
}

ParseResult UsageError(std::string message) {
  ParseResult result;
  result.action = ParseResult::Action::kUsageError;
  result.error = std::move(message);
  return result;
}

Command CommandOf(int option) {
  switch (option) {
    case kUndo: return Command::kUndo;
    case kListRuns: return Command::kListRuns;
    case kShowRun: return Command::kShowRun;
    case kForget: return Command::kForget;
  }
  return Command::kRun;
}

const char* CommandName(Command command) {
  switch (command) {
    case Command::kUndo: return "--undo";
    case Command::kListRuns: return "--list-runs";
    case Command::kShowRun: return "--show-run";
    case Command::kForget: return "--forget";
    case Command::kRun: break;
  }
  return "";
}

// One command on past runs at most; the run it names must be one.
bool SetCommand(int c, const char* argument, ParseResult* result) {
  CliOptions& options = result->options;
  const Command command = CommandOf(c);
  if (options.command != Command::kRun && options.command != command) {
    *result = UsageError(std::string(CommandName(options.command)) + " and " +
                         CommandName(command) + " cannot be given together");
    return false;
  }
  options.command = command;
  if (argument) {
    if (*argument == '\0') {
      *result = UsageError(std::string(CommandName(command)) +
                           " needs a run's id (see --list-runs)");
      return false;
    }
    options.run_id = argument;
  }
  return true;
}

// Applies the option that getopt_long returned as `c` with `argument`.
// Returns true when parsing goes on; false when `result` is final.
bool ApplyOption(int c, const char* argument, ParseResult* result) {
  CliOptions& options = result->options;
  switch (c) {
    case 'f':
      options.find = argument;
      return true;
    case 'r':
      options.replace = argument;
      return true;
    case 'i':
      options.modes.ignore_case = true;
      return true;
    case 'w':
      options.modes.whole_word = true;
      return true;
    case kPreserveCase:
      options.modes.preserve_case = true;
      return true;
    case 'e':
      options.modes.regex = true;
      return true;
    case kNoSubFolders:
      options.sub_folders = false;
      return true;
    case kNoNames:
      options.change_names = false;
      return true;
    case kNoText:
      options.change_text = false;
      return true;
    case 'n':
      options.dry_run = true;
      return true;
    case kCodePage:
      options.code_page = ParsePositive(argument);
      if (options.code_page) return true;
      *result = UsageError(std::string("invalid code page '") + argument +
                           "': expected a positive decimal number");
      return false;
    case kExclude:
    case kInclude: {
      std::string error;
      const bool added = c == kExclude
                             ? options.filter.Exclude(argument, &error)
                             : options.filter.Include(argument, &error);
      if (added) return true;
      *result = UsageError(error);
      return false;
    }
    case kIncludeVcs:
      options.include_vcs = true;
      return true;
    case kGitignore:
      options.gitignore = true;
      return true;
    case kJson:
    case kDiff: {
      const OutputFormat format =
          c == kJson ? OutputFormat::kJson : OutputFormat::kDiff;
      if (options.format == OutputFormat::kListing || options.format == format) {
        options.format = format;
        return true;
      }
      *result = UsageError("--json and --diff cannot be given together");
      return false;
    }
    case kNoWait:
      options.no_wait = true;
      return true;
    case 'x':
      options.one_file_system = true;
      return true;
    case 'q':
      options.quiet = true;
      return true;
    case kStats:
      options.stats = true;
      return true;
    case kColor:
      if (std::optional<ColorMode> mode = ParseColorMode(argument)) {
        options.color = *mode;
        return true;
      }
      *result = UsageError(std::string("invalid --color value '") + argument +
                           "': expected auto, always or never");
      return false;
    case kNoUndo:
      options.no_undo = true;
      return true;
    case kUndo:
    case kListRuns:
    case kShowRun:
    case kForget:
      return SetCommand(c, argument, result);
    case 'h':
      result->action = ParseResult::Action::kHelp;
      return false;
    case 'V':
      result->action = ParseResult::Action::kVersion;
      return false;
  }
  return false;
}

// Checks the operands left after the options: exactly one, not empty.
void TakeBaseDir(const std::vector<char*>& operands, ParseResult* result) {
  if (operands.empty()) {
    *result = UsageError("missing BASE_DIR");
  } else if (operands.size() > 1) {
    *result = UsageError(std::string("unexpected argument '") + operands[1] +
                         "': only one BASE_DIR may be given");
  } else if (*operands[0] == '\0') {
    *result = UsageError("BASE_DIR is empty");
  } else {
    result->options.base_dir = operands[0];
  }
}

// The commands on past runs take no BASE_DIR: --undo takes one RUN at
// most, the others none. Their output is a listing or JSON.
void TakeCommandOperands(const std::vector<char*>& operands,
                         ParseResult* result) {
  CliOptions& options = result->options;
  const std::string name = CommandName(options.command);
  const std::size_t allowed = options.command == Command::kUndo ? 1 : 0;
  if (operands.size() > allowed) {
    *result = UsageError(std::string("unexpected argument '") +
                         operands[allowed] + "' after " + name);
  } else if (!operands.empty() && *operands[0] == '\0') {
    *result = UsageError("RUN is empty");
  } else if (options.format == OutputFormat::kDiff) {
    *result = UsageError("--diff cannot be given with " + name);
  } else if (options.dry_run && options.command != Command::kUndo) {
    *result = UsageError("--dry-run cannot be given with " + name);
  } else if (!operands.empty()) {
    options.run_id = operands[0];
  }
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  // getopt_long reorders the pointers, so it gets its own copy.
  std::vector<std::string> storage(args);
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(storage.size());

  ParseResult result;
  optind = 0;  // GNU getopt: forget every earlier parse, mid-cluster too
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv.data(), kShortOptions, kOptions,
                          nullptr)) != -1) {
    if (c == '?' || c == ':') {
      return UsageError(DescribeRejected(c, argv[optind - 1]));
    }
    if (!ApplyOption(c, optarg, &result)) return result;
  }
  // Quiet says nothing on standard output; a format asks for something.
  if (result.options.quiet &&
      result.options.format != OutputFormat::kListing) {
    return UsageError(std::string("--quiet and ") +
                      (result.options.format == OutputFormat::kJson
                           ? "--json"
                           : "--diff") +
                      " cannot be given together");
  }
  std::vector<char*> operands;
  for (int i = optind; i < argc; ++i) operands.push_back(argv[i]);
  if (result.options.command != Command::kRun) {
    TakeCommandOperands(operands, &result);
    return result;
  }
  TakeBaseDir(operands, &result);
  if (result.action == ParseResult::Action::kRun &&
      result.options.modes.preserve_case && !result.options.modes.ignore_case)
    return UsageError("--preserve-case works only with -i (--ignore-case)");
  return result;
}

}  // namespace vs
