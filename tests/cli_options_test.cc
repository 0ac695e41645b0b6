#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace vs {
namespace {

using Action = ParseResult::Action;
using Args = std::vector<std::string>;

ParseResult Parse(Args args) {
  args.insert(args.begin(), "vellumshaper-cli");
  return ParseCommandLine(args);
}

void ExpectSameOptions(const CliOptions& want, const CliOptions& got) {
  EXPECT_EQ(want.find, got.find);
  EXPECT_EQ(want.replace, got.replace);
  EXPECT_EQ(want.sub_folders, got.sub_folders);
  EXPECT_EQ(want.change_names, got.change_names);
  EXPECT_EQ(want.change_text, got.change_text);
  EXPECT_EQ(want.dry_run, got.dry_run);
  EXPECT_EQ(want.code_page, got.code_page);
  EXPECT_EQ(want.format, got.format);
  EXPECT_EQ(want.include_vcs, got.include_vcs);
  EXPECT_EQ(want.no_wait, got.no_wait);
  EXPECT_EQ(want.one_file_system, got.one_file_system);
  EXPECT_EQ(want.modes.ignore_case, got.modes.ignore_case);
  EXPECT_EQ(want.modes.whole_word, got.modes.whole_word);
  EXPECT_EQ(want.modes.preserve_case, got.modes.preserve_case);
  EXPECT_EQ(want.modes.regex, got.modes.regex);
  EXPECT_EQ(want.quiet, got.quiet);
  EXPECT_EQ(want.stats, got.stats);
  EXPECT_EQ(want.color, got.color);
  EXPECT_EQ(want.base_dir, got.base_dir);
  EXPECT_EQ(want.no_undo, got.no_undo);
  EXPECT_EQ(want.command, got.command);
  EXPECT_EQ(want.run_id, got.run_id);
}

struct RunCase {
  Args args;
  // Turns the defaults, with BASE_DIR "dir", into the expected options.
  std::function<void(CliOptions&)> expect;
};

TEST(ParseCommandLineTest, RunSettings) {
  const RunCase cases[] = {
      {{"dir"}, [](CliOptions&) {}},
      {{"-f", "foo", "-r", "bar", "dir"},
       [](CliOptions& o) { o.find = "foo", o.replace = "bar"; }},
      {{"--find", "foo", "--replace", "bar", "dir"},
       [](CliOptions& o) { o.find = "foo", o.replace = "bar"; }},
      {{"--find=foo", "--replace=a=b", "dir"},
       [](CliOptions& o) { o.find = "foo", o.replace = "a=b"; }},
      // Attached short arguments, and an argument that looks like an
      // option is still the argument.
      {{"-ffoo", "-r", "-n", "dir"},
       [](CliOptions& o) { o.find = "foo", o.replace = "-n"; }},
      // An empty replacement deletes; an empty find is allowed too.
      {{"--find=", "--replace=", "dir"}, [](CliOptions&) {}},
      {{"--find", "a b\tc", "dir"}, [](CliOptions& o) { o.find = "a b\tc"; }},
      {{"--no-subfolders", "dir"},
       [](CliOptions& o) { o.sub_folders = false; }},
      {{"--no-names", "dir"}, [](CliOptions& o) { o.change_names = false; }},
      {{"--no-text", "dir"}, [](CliOptions& o) { o.change_text = false; }},
      {{"--dry-run", "dir"}, [](CliOptions& o) { o.dry_run = true; }},
      {{"-n", "dir"}, [](CliOptions& o) { o.dry_run = true; }},
      // A cluster of short options ending in one that takes an argument.
      {{"-nf", "foo", "dir"},
       [](CliOptions& o) { o.dry_run = true, o.find = "foo"; }},
      {{"--code-page", "932", "dir"}, [](CliOptions& o) { o.code_page = 932; }},
      {{"--code-page=65001", "dir"},
       [](CliOptions& o) { o.code_page = 65001; }},
      {{"--code-page=007", "dir"}, [](CliOptions& o) { o.code_page = 7; }},
      {{"--code-page=2147483647", "dir"},
       [](CliOptions& o) { o.code_page = 2147483647; }},
      // The last of a repeated option wins.
      {{"-f", "a", "--find", "b", "dir"}, [](CliOptions& o) { o.find = "b"; }},
      // Unambiguous abbreviations of long options.
      {{"--dry", "--no-t", "dir"},
       [](CliOptions& o) { o.dry_run = true, o.change_text = false; }},
      // Options after BASE_DIR.
      {{"dir", "--no-names", "-f", "x"},
       [](CliOptions& o) { o.change_names = false, o.find = "x"; }},
      // "--" ends the options, so BASE_DIR may look like one.
      {{"--", "-dir"}, [](CliOptions& o) { o.base_dir = "-dir"; }},
      {{"-n", "--", "--help"},
       [](CliOptions& o) { o.dry_run = true, o.base_dir = "--help"; }},
      {{"-"}, [](CliOptions& o) { o.base_dir = "-"; }},
      {{"/tmp/a b/"}, [](CliOptions& o) { o.base_dir = "/tmp/a b/"; }},
      {{"--json", "dir"},
       [](CliOptions& o) { o.format = OutputFormat::kJson; }},
      // A format given twice is the same format.
      {{"--diff", "dir", "--diff"},
       [](CliOptions& o) { o.format = OutputFormat::kDiff; }},
      {{"--include-vcs", "--no-wait", "dir"},
       [](CliOptions& o) { o.include_vcs = true, o.no_wait = true; }},
      {{"-xn", "dir"},
       [](CliOptions& o) { o.one_file_system = true, o.dry_run = true; }},
      {{"--one-file-system", "dir"},
       [](CliOptions& o) { o.one_file_system = true; }},
      // The match modes, short and long, clustered, in any order.
      {{"-i", "-w", "-e", "dir"},
       [](CliOptions& o) {
         o.modes.ignore_case = o.modes.whole_word = o.modes.regex = true;
       }},
      {{"--ignore-case", "--word", "--regex", "dir"},
       [](CliOptions& o) {
         o.modes.ignore_case = o.modes.whole_word = o.modes.regex = true;
       }},
      {{"--preserve-case", "dir", "-iwf", "x"},
       [](CliOptions& o) {
         o.modes.preserve_case = o.modes.ignore_case = true;
         o.modes.whole_word = true, o.find = "x";
       }},
      // A pattern is not checked here: that needs the run's code page.
      {{"-e", "-f", "a(", "dir"},
       [](CliOptions& o) { o.modes.regex = true, o.find = "a("; }},
      {{"-qn", "--stats", "dir"},
       [](CliOptions& o) { o.quiet = o.dry_run = o.stats = true; }},
      {{"--stats", "--json", "dir"},
       [](CliOptions& o) { o.stats = true, o.format = OutputFormat::kJson; }},
      {{"--color=always", "dir"},
       [](CliOptions& o) { o.color = ColorMode::kAlways; }},
      {{"--color", "never", "--color=auto", "dir"}, [](CliOptions&) {}},
      {{"--col=never", "dir"},
       [](CliOptions& o) { o.color = ColorMode::kNever; }},
      {{"--no-undo", "dir"}, [](CliOptions& o) { o.no_undo = true; }},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    ParseResult result = Parse(c.args);
    ASSERT_EQ(Action::kRun, result.action) << result.error;
    CliOptions want;
    want.base_dir = "dir";
    c.expect(want);
    ExpectSameOptions(want, result.options);
  }
}

// The commands on past runs take no BASE_DIR; --undo's RUN is the
// operand, the others' their option's value.
TEST(ParseCommandLineTest, PastRunCommands) {
  const RunCase cases[] = {
      {{"--undo"}, [](CliOptions& o) { o.command = Command::kUndo; }},
      {{"--undo", "20261211-004512-1"},
       [](CliOptions& o) {
         o.command = Command::kUndo;
         o.run_id = "20261211-004512-1";
       }},
      {{"-n", "run-id", "--undo", "--json"},
       [](CliOptions& o) {
         o.command = Command::kUndo;
         o.run_id = "run-id";
         o.dry_run = true;
         o.format = OutputFormat::kJson;
       }},
      {{"--undo", "-q", "--no-wait"},
       [](CliOptions& o) {
         o.command = Command::kUndo;
         o.quiet = true;
         o.no_wait = true;
       }},
      {{"--list-runs", "--json"},
       [](CliOptions& o) {
         o.command = Command::kListRuns;
         o.format = OutputFormat::kJson;
       }},
      {{"--show-run", "x"},
       [](CliOptions& o) {
         o.command = Command::kShowRun;
         o.run_id = "x";
       }},
      {{"--forget=all"},
       [](CliOptions& o) {
         o.command = Command::kForget;
         o.run_id = "all";
       }},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    ParseResult result = Parse(c.args);
    ASSERT_EQ(Action::kRun, result.action) << result.error;
    CliOptions want;
    c.expect(want);
    ExpectSameOptions(want, result.options);
  }
}

TEST(ParseCommandLineTest, DefaultsMatchAPlainRun) {
  CliOptions options = Parse({"dir"}).options;
  EXPECT_EQ("", options.find);
  EXPECT_EQ("", options.replace);
  EXPECT_TRUE(options.sub_folders);
  EXPECT_TRUE(options.change_names);
  EXPECT_TRUE(options.change_text);
  EXPECT_FALSE(options.dry_run);
  EXPECT_FALSE(options.code_page.has_value());
  EXPECT_TRUE(options.filter.empty());
  EXPECT_FALSE(options.include_vcs);
  EXPECT_FALSE(options.gitignore);
  EXPECT_EQ(OutputFormat::kListing, options.format);
  EXPECT_FALSE(options.no_wait);
  EXPECT_FALSE(options.modes.any());
}

TEST(ParseCommandLineTest, GlobsAddUpToOneFilter) {
  ParseResult result =
      Parse({"--exclude", "*.min.js", "dir", "--include=*.js", "--exclude",
             "build/", "--include", "docs/**/*.md", "--include-vcs",
             "--gitignore"});
  ASSERT_EQ(Action::kRun, result.action) << result.error;
  const CliOptions& options = result.options;
  EXPECT_TRUE(options.include_vcs);
  EXPECT_TRUE(options.gitignore);
  EXPECT_EQ("dir", options.base_dir);
  EXPECT_TRUE(options.filter.TakesFile("a.js"));
  EXPECT_TRUE(options.filter.TakesFile("docs/x/a.md"));
  EXPECT_FALSE(options.filter.TakesFile("a.min.js"));
  EXPECT_FALSE(options.filter.TakesFile("build/a.js"));
  EXPECT_FALSE(options.filter.TakesFile("a.md"));
}

TEST(ParseCommandLineTest, HelpAndVersion) {
  const std::pair<Args, Action> cases[] = {
      {{"--help"}, Action::kHelp},
      {{"-h"}, Action::kHelp},
      {{"--version"}, Action::kVersion},
      {{"-V"}, Action::kVersion},
      // No BASE_DIR is needed, and whatever follows is not looked at.
      {{"-f", "x", "--help", "--bogus"}, Action::kHelp},
      {{"a", "b", "-V", "--code-page=0"}, Action::kVersion},
      {{"-Vh"}, Action::kVersion},
  };
  for (const auto& [args, action] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(action, Parse(args).action);
  }
}

TEST(ParseCommandLineTest, UsageErrors) {
  const std::pair<Args, std::string> cases[] = {
      {{}, "missing BASE_DIR"},
      {{"-n"}, "missing BASE_DIR"},
      {{"--", "-f", "x"}, "unexpected argument 'x': only one BASE_DIR"},
      {{"a", "b"}, "unexpected argument 'b': only one BASE_DIR"},
      {{""}, "BASE_DIR is empty"},
      {{"--bogus", "dir"}, "unknown option '--bogus'"},
      {{"--bogus=1", "dir"}, "unknown option '--bogus'"},
      {{"-z", "dir"}, "unknown option '-z'"},
      {{"-nz", "dir"}, "unknown option '-z'"},
      {{"--no", "dir"}, "ambiguous option '--no'"},
      {{"dir", "-f"}, "option '-f' requires an argument"},
      {{"dir", "-nr"}, "option '-r' requires an argument"},
      {{"dir", "--find"}, "option '--find' requires an argument"},
      {{"dir", "--repl"}, "option '--replace' requires an argument"},
      {{"dir", "--code-page"}, "option '--code-page' requires an argument"},
      {{"--dry-run=yes", "dir"},
       "option '--dry-run' doesn't allow an argument"},
      {{"--no-text=1", "dir"}, "option '--no-text' doesn't allow an argument"},
      {{"--help=1"}, "option '--help' doesn't allow an argument"},
      {{"--code-page=", "dir"}, "invalid code page ''"},
      {{"--code-page=0", "dir"}, "invalid code page '0'"},
      {{"--code-page", "-5", "dir"}, "invalid code page '-5'"},
      {{"--code-page=+5", "dir"}, "invalid code page '+5'"},
      {{"--code-page= 5", "dir"}, "invalid code page ' 5'"},
      {{"--code-page=5x", "dir"}, "invalid code page '5x'"},
      {{"--code-page=0x3a4", "dir"}, "invalid code page '0x3a4'"},
      {{"--code-page=2147483648", "dir"}, "invalid code page '2147483648'"},
      {{"--code-page=99999999999999999999", "dir"}, "invalid code page"},
      {{"--exclude=", "dir"}, "bad glob '': it is empty"},
      {{"dir", "--include", "*.[ch"}, "bad glob '*.[ch': "},
      {{"--exclude", "a", "--exclude", "!b", "dir"}, "bad glob '!b': "},
      {{"dir", "--exclude"}, "option '--exclude' requires an argument"},
      {{"--incl", "x", "dir"}, "ambiguous option '--incl'"},
      {{"--include-vcs=1", "dir"},
       "option '--include-vcs' doesn't allow an argument"},
      {{"--json", "--diff", "dir"}, "--json and --diff cannot be given"},
      {{"--diff", "dir", "--json"}, "--json and --diff cannot be given"},
      {{"--preserve-case", "dir"},
       "--preserve-case works only with -i (--ignore-case)"},
      {{"-w", "--preserve-case", "-e", "dir"},
       "--preserve-case works only with -i (--ignore-case)"},
      {{"--re", "dir"}, "ambiguous option '--re'"},
      {{"--undo", "a", "b"}, "unexpected argument 'b' after --undo"},
      {{"--undo", ""}, "RUN is empty"},
      {{"--list-runs", "dir"}, "unexpected argument 'dir' after --list-runs"},
      {{"--show-run"}, "option '--show-run' requires an argument"},
      {{"--show-run="}, "--show-run needs a run's id"},
      {{"--forget", "a", "b"}, "unexpected argument 'b' after --forget"},
      {{"--undo", "--list-runs"},
       "--undo and --list-runs cannot be given together"},
      {{"--forget=a", "--show-run=a"},
       "--forget and --show-run cannot be given together"},
      {{"--undo", "--diff"}, "--diff cannot be given with --undo"},
      {{"--list-runs", "-n"}, "--dry-run cannot be given with --list-runs"},
      {{"-q", "--json", "dir"}, "--quiet and --json cannot be given"},
      {{"--diff", "dir", "--quiet"}, "--quiet and --diff cannot be given"},
      {{"--color=yes", "dir"},
       "invalid --color value 'yes': expected auto, always or never"},
      {{"--color=", "dir"}, "invalid --color value ''"},
      {{"--color=ALWAYS", "dir"}, "invalid --color value 'ALWAYS'"},
      {{"dir", "--color"}, "option '--color' requires an argument"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    ParseResult result = Parse(args);
    EXPECT_EQ(Action::kUsageError, result.action);
    EXPECT_EQ(0u, result.error.find(message)) << result.error;
    EXPECT_EQ(std::string::npos, result.error.find('\n')) << result.error;
  }
}

// getopt_long keeps its place in a cluster of short options between calls;
// a parse that stopped inside one must not leak into the next.
TEST(ParseCommandLineTest, ParsesAfreshAfterStoppingMidCluster) {
  ASSERT_EQ(Action::kUsageError, Parse({"-zn", "dir"}).action);
  ASSERT_EQ(Action::kHelp, Parse({"-hn", "dir"}).action);
  ParseResult result = Parse({"other"});
  ASSERT_EQ(Action::kRun, result.action) << result.error;
  EXPECT_FALSE(result.options.dry_run);
  EXPECT_EQ("other", result.options.base_dir);
}

// The long options named at the start of the lines of `text` that
// `line_start` matches.
std::set<std::string> OptionsNamed(const std::string& text,
                                   const std::regex& line_start) {
  std::set<std::string> names;
  std::istringstream lines(text);
  const std::regex option("--[a-z][a-z-]*");
  for (std::string line; std::getline(lines, line);) {
    if (!std::regex_search(line, line_start)) continue;
    std::smatch found;
    if (std::regex_search(line, found, option)) names.insert(found.str());
  }
  return names;
}

// The help's option list and the README's table of options name the
// same options.
TEST(ParseCommandLineTest, HelpAndReadmeNameTheSameOptions) {
  std::ifstream readme(VS_SOURCE_DIR "/README.md");
  ASSERT_TRUE(readme) << "cannot read README.md";
  std::stringstream text;
  text << readme.rdbuf();
  const std::set<std::string> in_help =
      OptionsNamed(kUsage, std::regex("^  +-"));
  EXPECT_EQ(in_help, OptionsNamed(text.str(), std::regex("^\\| `-")));
  EXPECT_EQ(1u, in_help.count("--gitignore"));
}

}  // namespace
}  // namespace vs
