// What a person at a terminal sees: the progress line on standard error,
// --stats, -q and colours.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "cli/output.h"
#include "cli/progress_line.h"
#include "tests/temp_folder.h"

namespace vs {
namespace {

using Args = std::vector<std::string>;
using std::chrono::milliseconds;

struct Ran {
  int status;
  std::string out;
  std::string err;
};

Ran RunInProcess(const Args& args, const OutputKinds& kinds = {}) {
  Args all = {"vellumshaper-cli"};
  all.insert(all.end(), args.begin(), args.end());
  std::ostringstream out, err;
  const int status = CliMain(all, out, err, kinds);
  return {status, out.str(), err.str()};
}

TEST(ProgressLineTest, DrawsAfterTheDelayAtMostEachIntervalAndClears) {
  std::ostringstream err;
  const ProgressLine::Clock::time_point start;
  ProgressLine line(err, start, {milliseconds(1000), milliseconds(250)});
  EXPECT_FALSE(line.Due(start + milliseconds(999)));
  ASSERT_TRUE(line.Due(start + milliseconds(1000)));
  line.Show({12, 3, 100}, start + milliseconds(1000));
  EXPECT_EQ("\r12 files looked at, 3 changed", err.str());
  EXPECT_FALSE(line.Due(start + milliseconds(1249)));
  ASSERT_TRUE(line.Due(start + milliseconds(1250)));
  line.Show({1200, 30, 100}, start + milliseconds(1250));
  EXPECT_EQ("\r12 files looked at, 3 changed\r1200 files looked at, 30 changed",
            err.str());

  err.str("");
  line.Clear();
  line.Clear();  // nothing on the screen: nothing to do
  EXPECT_EQ("\r" + std::string(32, ' ') + "\r", err.str());

  line.Finish();
  EXPECT_FALSE(line.Due(start + std::chrono::hours(1)));
}

// Whatever goes through an Output that shares the terminal with the line
// finds it cleared first; the line is drawn again only when due.
TEST(ProgressLineTest, AnOutputClearsTheLineBeforeItWrites) {
  std::ostringstream screen;
  const ProgressLine::Clock::time_point start;
  ProgressLine line(screen, start, {milliseconds(0), milliseconds(0)});
  const CodePage code_page;
  Output err(screen, /*is_terminal=*/true, code_page);
  err.set_line_to_clear(&line);
  line.Show({1, 0, 0}, start);
  err.Words("vellumshaper-cli: ").Text("cannot read x\n").Words("\n");
  EXPECT_EQ("\r1 files looked at, 0 changed\r" + std::string(28, ' ') +
                "\rvellumshaper-cli: cannot read x\\n\n",
            screen.str());
}

// A tree whose run changes a text, renames a file and fails a rename,
// and leaves a file alone.
void WriteMixedTree(const test::TempFolder& tree) {
  tree.Write("a.txt", "foo\n");
  tree.Write("foo1.txt", "x\n");
  tree.Write("foo2.txt", "x\n");
  tree.Write("bar2.txt", "x\n");
  tree.Write("plain.txt", "x\n");
}

// Standard output and standard error on one terminal, the line drawn at
// every file: taking out the drawings and the clearing that follows them
// leaves the very text a run without a terminal on standard error
// writes, so no line was left under or in the middle of it.
TEST(CliTerminalTest, ProgressLineNeverMixesWithOtherOutput) {
  for (const Args& format : {Args{"--diff"}, Args{}, Args{"--json"}}) {
    SCOPED_TRACE(testing::PrintToString(format));
    test::TempFolder tree;
    for (int i = 0; i < 20; ++i)
      tree.Write("d" + std::to_string(i % 3) + "/foo" + std::to_string(i),
                 "a\nfoo\n");
    Args args = format;
    args.insert(args.end(), {"-n", "--color=never", "-f", "foo", "-r", "bar",
                             tree.path()});

    OutputKinds quiet_err;
    quiet_err.out_is_terminal = true;
    quiet_err.progress = {milliseconds(0), milliseconds(0)};
    const Ran plain = RunInProcess(args, quiet_err);
    ASSERT_EQ(0, plain.status) << plain.err;
    EXPECT_EQ(std::string::npos, plain.err.find('\r')) << plain.err;

    OutputKinds both = quiet_err;
    both.err_is_terminal = true;
    std::ostringstream screen;
    Args all = {"vellumshaper-cli"};
    all.insert(all.end(), args.begin(), args.end());
    ASSERT_EQ(0, CliMain(all, screen, screen, both));
    // A line drawn over the one before, as often as it is due, then
    // cleared.
    const std::regex drawn_and_cleared(
        "(\r[0-9]+ files looked at, [0-9]+ changed)+\r *\r");
    const std::string shown = screen.str();
    EXPECT_TRUE(std::regex_search(shown, drawn_and_cleared)) << shown;
    std::string without = std::regex_replace(shown, drawn_and_cleared, "");
    if (format == Args{"--json"}) {  // the seconds differ
      const std::regex seconds("\"seconds\":[0-9.]+");
      without = std::regex_replace(without, seconds, "");
      EXPECT_EQ(std::regex_replace(plain.out, seconds, ""), without);
    } else {
      EXPECT_EQ(plain.out, without);
    }
  }
}

// --stats gives the numbers of the JSON summary, last on standard error,
// whatever the format; a listing run counts as a JSON run does.
TEST(CliTerminalTest, StatsGiveTheNumbersOfTheJsonSummary) {
  test::TempFolder tree;
  WriteMixedTree(tree);
  const Ran json =
      RunInProcess({"-n", "--json", "--stats", "-f", "foo", "-r", "bar", tree.path()});
  EXPECT_EQ(1, json.status);  // the failed rename
  const std::size_t summary_at = json.out.find("{\"type\":\"summary\"");
  ASSERT_NE(std::string::npos, summary_at) << json.out;
  const std::string summary = json.out.substr(summary_at);
  const auto field = [&summary](const std::string& name) {
    std::smatch found;
    std::regex_search(summary, found,
                      std::regex("\"" + name + "\":([0-9.]+)"));
    return found[1].str();
  };
  const std::string want =
      "files looked at: 5\n"
      "files changed:   2\n"
      "files renamed:   1\n"
      "files failed:    1\n"
      "problems:        0\n"
      "bytes read:      " + field("bytes_read") + "\n"
      "seconds:         " + field("seconds") + "\n"
      "a dry run: nothing was changed\n";
  EXPECT_EQ(want, json.err);
  EXPECT_EQ("5", field("files_looked_at"));
  EXPECT_EQ("2", field("files_changed"));
  EXPECT_EQ("1", field("files_renamed"));
  EXPECT_EQ("1", field("files_failed"));
  EXPECT_NE("0", field("bytes_read"));

  const Ran listing =
      RunInProcess({"-n", "--stats", "-f", "foo", "-r", "bar", tree.path()});
  const std::regex seconds("seconds: +[0-9.]+\n");
  EXPECT_EQ(std::regex_replace(want, seconds, ""),
            std::regex_replace(listing.err, seconds, ""));
}

// -q: nothing on standard output, the run as ever, its status and its
// messages on standard error as ever.
TEST(CliTerminalTest, QuietWritesNothingOnStandardOutput) {
  test::TempFolder tree;
  WriteMixedTree(tree);
  const Ran run = RunInProcess({"-q", "-f", "foo", "-r", "bar", tree.path()});
  EXPECT_EQ(1, run.status);  // the failed rename
  EXPECT_EQ("", run.out);
  EXPECT_EQ("", run.err);
  EXPECT_EQ("bar\n", tree.Read("a.txt"));
  EXPECT_TRUE(tree.Exists("bar1.txt"));
  EXPECT_TRUE(tree.Exists("foo2.txt"));

  const Ran missing = RunInProcess({"-q", "-f", "foo", tree.Path("gone")});
  EXPECT_EQ(1, missing.status);
  EXPECT_EQ("", missing.out);
  EXPECT_NE(std::string::npos, missing.err.find("cannot list")) << missing.err;
}

TEST(CliTerminalTest, ColourFollowsTheModeTheTerminalAndNoColor) {
  struct Case {
    ColorMode mode;
    bool out_is_terminal;
    bool no_color;
    bool colored;
  };
  const Case cases[] = {
      {ColorMode::kAuto, true, false, true},
      {ColorMode::kAuto, false, false, false},
      {ColorMode::kAuto, true, true, false},
      {ColorMode::kAlways, false, false, true},
      {ColorMode::kAlways, true, true, true},
      {ColorMode::kNever, true, false, false},
  };
  for (const Case& c : cases) {
    OutputKinds kinds;
    kinds.out_is_terminal = c.out_is_terminal;
    kinds.no_color = c.no_color;
    EXPECT_EQ(c.colored, UseColor(c.mode, kinds))
        << static_cast<int>(c.mode) << c.out_is_terminal << c.no_color;
  }
}

// Each entry's kind shows in its colour; its text stays as it is, and a
// format meant for programs gets none.
TEST(CliTerminalTest, ColouredListingAndDiff) {
  test::TempFolder tree;
  WriteMixedTree(tree);
  const Ran listing = RunInProcess(
      {"-n", "--color=always", "-f", "foo", "-r", "bar", tree.path()});
  const std::string base = tree.path() + "/";
  EXPECT_EQ("\033[35m" + base + "a.txt\033[m\n"
            "\t\033[32mLine 1: \033[mbar\n"
            "\033[35m" + base + "foo1.txt\033[m\n"
            "\t\033[36mChanged File Name to: \033[mbar1.txt\n"
            "\033[35m" + base + "foo2.txt\033[m\n"
            "\t\033[31mFailed to change File Name to: bar2.txt "
            "(File exists)\033[m\n",
            listing.out);

  const Ran diff = RunInProcess({"-n", "--diff", "--color=always", "--no-names", "-f",
                        "foo", "-r", "bar", tree.path()});
  EXPECT_EQ("\033[1mdiff --git a/a.txt b/a.txt\033[m\n"
            "\033[1m--- a/a.txt\033[m\n"
            "\033[1m+++ b/a.txt\033[m\n"
            "\033[36m@@ -1 +1 @@\033[m\n"
            "\033[31m-foo\033[m\n"
            "\033[32m+bar\033[m\n",
            diff.out);

  const Ran json = RunInProcess({"-n", "--json", "--color=always", "-f", "foo", "-r",
                        "bar", tree.path()});
  EXPECT_EQ(std::string::npos, json.out.find('\033')) << json.out;
}

}  // namespace
}  // namespace vs
