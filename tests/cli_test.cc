// Runs the real vellumshaper-cli binary on trees in a scratch folder and
// checks what it prints, its exit status and what it leaves on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/run_lock.h"
#include "tests/cli_runner.h"
#include "tests/temp_folder.h"

namespace vs {
namespace {

using test::Args;
using test::Listing;
using test::Outcome;
using test::RunProgram;
using test::TooDeepFolders;
using test::Tree;

class CliTest : public testing::Test {
 protected:
  Outcome Run(const Args& args) { return RunProgram(args); }

  // Text and name changes spread over three levels. The paths sort
  // differently as bytes than by letter or in walk order ("s.txt" before
  // "s/..."), and one name starts with a byte above 0x7f.
  void MakeMixedTree() {
    tree_.Write("a.txt", "one foo\ntwo\nfoo foo\n");
    tree_.Write("B.txt", "foo");
    tree_.Write("s.txt", "foo\n");
    tree_.Write("same.txt", "no match\n");
    tree_.Write("s/foo.txt", "x\nfoo\n");
    tree_.Write("s/t/foo", "");
    tree_.Write("\xc3\xa9.txt", "foo\n");
  }
  std::string MixedTreeListing() const {
    return Listing(tree_.path(), {
                                     "B.txt",
                                     "\tLine 1: bar",
                                     "a.txt",
                                     "\tLine 1: one bar",
                                     "\tLine 3: bar bar",
                                     "s.txt",
                                     "\tLine 1: bar",
                                     "s/foo.txt",
                                     "\tLine 2: bar",
                                     "\tChanged File Name to: bar.txt",
                                     "s/t/foo",
                                     "\tChanged File Name to: bar",
                                     "\xc3\xa9.txt",
                                     "\tLine 1: bar",
                                 });
  }

  test::TempFolder tree_;
};

TEST_F(CliTest, ListsChangedFilesInByteOrderAndRewritesThem) {
  MakeMixedTree();
  Outcome run = Run({"--find", "foo", "--replace", "bar", tree_.path()});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(MixedTreeListing(), run.out);
  EXPECT_EQ("", run.err);
  const Tree want = {
      {"B.txt", "bar"},
      {"a.txt", "one bar\ntwo\nbar bar\n"},
      {"s", "<dir>"},
      {"s.txt", "bar\n"},
      {"same.txt", "no match\n"},
      {"s/bar.txt", "x\nbar\n"},
      {"s/t", "<dir>"},
      {"s/t/bar", ""},
      {"\xc3\xa9.txt", "bar\n"},
  };
  EXPECT_EQ(want, tree_.Snapshot());
}

TEST_F(CliTest, DryRunListsTheSameAndWritesNothing) {
  MakeMixedTree();
  const Tree before = tree_.Snapshot();
  for (const char* flag : {"--dry-run", "-n"}) {
    Outcome run = Run({flag, "-f", "foo", "-r", "bar", tree_.path()});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(MixedTreeListing(), run.out);
    EXPECT_EQ(before, tree_.Snapshot());
  }
}

TEST(CliSwitchesTest, EachSwitchTurnsOffItsPart) {
  struct Case {
    Args flags;
    Args listing;
    Tree after;
  };
  const Case cases[] = {
      {{"--no-text"},
       {"foo.txt", "\tChanged File Name to: bar.txt", "s/foo.txt",
        "\tChanged File Name to: bar.txt"},
       {{"bar.txt", "none\n"},
        {"s", "<dir>"},
        {"s/bar.txt", "foo\n"},
        {"top.txt", "foo\n"}}},
      {{"--no-names"},
       {"s/foo.txt", "\tLine 1: bar", "top.txt", "\tLine 1: bar"},
       {{"foo.txt", "none\n"},
        {"s", "<dir>"},
        {"s/foo.txt", "bar\n"},
        {"top.txt", "bar\n"}}},
      {{"--no-subfolders"},
       {"foo.txt", "\tChanged File Name to: bar.txt", "top.txt",
        "\tLine 1: bar"},
       {{"bar.txt", "none\n"},
        {"s", "<dir>"},
        {"s/foo.txt", "foo\n"},
        {"top.txt", "bar\n"}}},
      {{"--no-text", "--no-names"},
       {},
       {{"foo.txt", "none\n"},
        {"s", "<dir>"},
        {"s/foo.txt", "foo\n"},
        {"top.txt", "foo\n"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.flags));
    test::TempFolder tree;
    tree.Write("top.txt", "foo\n");
    tree.Write("foo.txt", "none\n");
    tree.Write("s/foo.txt", "foo\n");
    Args args = c.flags;
    args.insert(args.end(), {"-f", "foo", "-r", "bar", tree.path()});
    Outcome run = RunProgram(args);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(Listing(tree.path(), c.listing), run.out);
    EXPECT_EQ(c.after, tree.Snapshot());
  }
}

TEST_F(CliTest, EmptyFindChangesNothing) {
  MakeMixedTree();
  const Tree before = tree_.Snapshot();
  for (const Args& args : {Args{tree_.path()}, Args{"-r", "x", tree_.path()},
                           Args{"--find=", "-r", "x", tree_.path()}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    Outcome run = Run(args);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_EQ("", run.err);
  }
  EXPECT_EQ(before, tree_.Snapshot());
}

TEST_F(CliTest, MissingBaseDirFailsWithTheWalkersLine) {
  const std::string missing = tree_.Path("missing");
  Outcome run = Run({"-f", "foo", missing});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("Error get the next file\n", run.out);
  EXPECT_EQ(0u, run.err.find("vellumshaper-cli: ")) << run.err;
  EXPECT_NE(std::string::npos, run.err.find(missing)) << run.err;
  EXPECT_EQ(run.err.size() - 1, run.err.find('\n')) << run.err;
}

// The walker's line is written through stdio while the walk runs; it must
// stay ahead of the listing, which is written once the walk is over.
TEST_F(CliTest, UnlistableFolderLineComesBeforeTheListing) {
  tree_.Write("a.txt", "foo\n");
  TooDeepFolders deep(tree_.path());
  Outcome run = RunProgram({"-f", "foo", "-r", "bar", tree_.path()}, "",
                           /*max_open_files=*/16);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("Error get the next file\n" +
                Listing(tree_.path(), {"a.txt", "\tLine 1: bar"}),
            run.out);
  EXPECT_EQ(0u, run.err.find("vellumshaper-cli: cannot list ")) << run.err;
}

TEST_F(CliTest, RefusedRenameIsListedAndFails) {
  tree_.Write("foo.txt", "x\n");
  tree_.Write("bar.txt", "y\n");
  const Tree before = tree_.Snapshot();
  Outcome run = Run({"-f", "foo", "-r", "bar", tree_.path()});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(0u, run.out.find(Listing(tree_.path(), {"foo.txt"}) +
                             "\tFailed to change File Name to: bar.txt ("))
      << run.out;
  EXPECT_EQ(before, tree_.Snapshot());
}

TEST_F(CliTest, FollowsABaseDirThatIsALink) {
  tree_.Write("real/foo.txt", "foo\n");
  ASSERT_EQ(0, symlink("real", tree_.Path("link").c_str()));
  Outcome run = Run({"-f", "foo", "-r", "bar", tree_.Path("link")});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(Listing(tree_.Path("link"), {"foo.txt", "\tLine 1: bar",
                                         "\tChanged File Name to: bar.txt"}),
            run.out);
  const Tree want = {
      {"link", "-> real"}, {"real", "<dir>"}, {"real/bar.txt", "bar\n"}};
  EXPECT_EQ(want, tree_.Snapshot());
}

// "--" lets BASE_DIR start with a dash; a relative BASE_DIR is printed as
// given.
TEST_F(CliTest, BaseDirAfterDoubleDash) {
  tree_.Write("-d/x.txt", "foo\n");
  Outcome run =
      RunProgram({"-f", "foo", "-r", "bar", "--", "-d"}, tree_.path());
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("-d/x.txt\n\tLine 1: bar\n", run.out);
}

TEST_F(CliTest, GlobsAndVersionControlChooseWhatIsWalked) {
  for (const char* file : {"a.c", "a.h", "gen/b.c", ".svn/c.c"})
    tree_.Write(file, "foo\n");
  const std::pair<Args, Args> cases[] = {
      {{}, {"a.c", "a.h", "gen/b.c"}},
      {{"--include-vcs"}, {".svn/c.c", "a.c", "a.h", "gen/b.c"}},
      {{"--include=*.c", "--exclude=gen/"}, {"a.c"}},
      {{"--exclude", "*.h", "--include-vcs", "--exclude", "/.svn"},
       {"a.c", "gen/b.c"}},
  };
  for (const auto& [flags, listed] : cases) {
    SCOPED_TRACE(testing::PrintToString(flags));
    Args args = {"-n", "-f", "foo", "-r", "bar", tree_.path()};
    args.insert(args.end(), flags.begin(), flags.end());
    Outcome run = Run(args);
    EXPECT_EQ(0, run.status) << run.err;
    std::string want;
    for (const std::string& file : listed)
      want += tree_.Path(file) + "\n\tLine 1: bar\n";
    EXPECT_EQ(want, run.out);
  }
}

TEST_F(CliTest, UsageErrorsRunNothing) {
  tree_.Write("foo.txt", "foo\n");
  const Tree before = tree_.Snapshot();
  const std::string base = tree_.path();
  const Args cases[] = {
      {"--bogus", base},       {base, "-f"},          {}, {base, base}, {""},
      {"--code-page=0", base}, {"--dry-run=1", base},
      {"--exclude=a[b", base},
  };
  for (Args args : cases) {
    args.insert(args.begin(), {"-f", "foo", "-r", "bar"});
    SCOPED_TRACE(testing::PrintToString(args));
    Outcome run = Run(args);
    EXPECT_EQ(2, run.status);
    EXPECT_EQ("", run.out);
    EXPECT_EQ(0u, run.err.find("vellumshaper-cli: error: ")) << run.err;
    // One message line, then the hint.
    const std::string hint = "\nTry 'vellumshaper-cli --help'.\n";
    ASSERT_GT(run.err.size(), hint.size());
    EXPECT_EQ(run.err.size() - hint.size(), run.err.find('\n')) << run.err;
    EXPECT_EQ(hint, run.err.substr(run.err.size() - hint.size()));
  }
  EXPECT_EQ(before, tree_.Snapshot());
}

TEST_F(CliTest, HelpAndVersionGoToStandardOutput) {
  tree_.Write("foo.txt", "foo\n");
  const Tree before = tree_.Snapshot();
  const std::string version = "vellumshaper-cli 1.0.0.1\n";
  const std::pair<Args, std::string> cases[] = {
      {{"--help"}, "Usage: vellumshaper-cli "},
      {{"-h", "-f", "foo", tree_.path()}, "Usage: vellumshaper-cli "},
      {{"--version"}, version},
      {{"-f", "foo", "-V", tree_.path()}, version},
  };
  for (const auto& [args, start] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    Outcome run = Run(args);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(0u, run.out.find(start)) << run.out;
    if (start == version) {
      EXPECT_EQ(version, run.out);
    }
    EXPECT_EQ("", run.err);
  }
  EXPECT_EQ(before, tree_.Snapshot());
}

}  // namespace
}  // namespace vs

namespace vs {
namespace {

using test::Finish;
using test::Listing;
using test::Outcome;
using test::Started;
using test::StartProgram;
using test::Tree;

// SIGINT or SIGTERM in the middle of a run: the files begun are finished,
// each whole, nothing more is begun, what was done is listed, and the
// status tells the signal.
TEST_F(CliTest, ASignalStopsTheRunWithEveryFileWholeAndListed) {
  struct Case {
    int signal_number;
    int status;
  };
  for (const Case& c : {Case{SIGINT, 130}, Case{SIGTERM, 143}}) {
    SCOPED_TRACE(c.signal_number);
    test::TempFolder tree;
    constexpr int kFiles = 3000;
    auto name = [](const char* stem, int i) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%s%05d.txt", stem, i);
      return std::string(buffer);
    };
    for (int i = 0; i < kFiles; ++i) tree.Write(name("foo", i), "foo\n");
    Started run = StartProgram({"-f", "foo", "-r", "bar", tree.path()});
    // Once the first file has its new name, the run is under way.
    while (!tree.Exists(name("bar", 0))) usleep(1000);
    kill(run.pid, c.signal_number);
    Outcome outcome = Finish(run);
    EXPECT_EQ(c.status, outcome.status) << outcome.err;

    std::string listing;
    int changed = 0;
    for (int i = 0; i < kFiles; ++i) {
      if (tree.Exists(name("bar", i))) {
        ++changed;
        EXPECT_FALSE(tree.Exists(name("foo", i)));
        EXPECT_EQ("bar\n", tree.Read(name("bar", i)));
        listing += Listing(tree.path(), {name("foo", i), "\tLine 1: bar",
                                         "\tChanged File Name to: " +
                                             name("bar", i)});
      } else {
        EXPECT_EQ("foo\n", tree.Read(name("foo", i)));
      }
    }
    EXPECT_GT(changed, 0);
    EXPECT_LT(changed, kFiles);  // it stopped
    EXPECT_EQ(listing, outcome.out);
    EXPECT_EQ(static_cast<std::size_t>(kFiles), tree.Snapshot().size());
  }
}

// Runs over one tree never overlap: the second waits for the first, or
// with --no-wait refuses, and a dry run goes ahead.
TEST_F(CliTest, AnotherRunInTheTreeMakesARunWaitOrRefuse) {
  test::TempFolder state;
  ASSERT_EQ(setenv("XDG_STATE_HOME", state.path().c_str(), 1), 0);
  tree_.Write("sub/a.txt", "foo\n");
  RunLock::Options options;
  std::unique_ptr<RunLock> held;
  ASSERT_TRUE(RunLock::Take(tree_.path(), options, &held).ok());
  const std::string busy = "vellumshaper-cli: another run is working in "
                           "this tree (pid " + std::to_string(getpid()) + ")\n";

  Outcome refused = Run({"--no-wait", "-f", "foo", "-r", "bar",
                         tree_.Path("sub")});
  EXPECT_EQ(1, refused.status);
  EXPECT_EQ(busy, refused.err);
  EXPECT_EQ("", refused.out);
  Outcome dry = Run({"--no-wait", "-n", "-f", "foo", "-r", "bar",
                     tree_.Path("sub")});
  EXPECT_EQ(0, dry.status) << dry.err;
  EXPECT_EQ("foo\n", tree_.Read("sub/a.txt"));

  Started waiting = StartProgram({"-f", "foo", "-r", "bar", tree_.path()});
  // It says it waits, and does nothing until the other run ends.
  std::string said;
  while (said.find("waiting") == std::string::npos) {
    usleep(1000);
    char buffer[256];
    ssize_t got = pread(fileno(waiting.err), buffer, sizeof buffer, 0);
    said.assign(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
  }
  EXPECT_EQ("foo\n", tree_.Read("sub/a.txt"));
  held.reset();
  Outcome went_on = Finish(waiting);
  EXPECT_EQ(0, went_on.status) << went_on.err;
  EXPECT_EQ("bar\n", tree_.Read("sub/a.txt"));
}

// Two runs started together over one tree, names on: without the lock,
// both renamed some files, one file ended under two names, and one run
// rewrote the other's temporary files.
TEST_F(CliTest, TwoRunsAtOnceLeaveEveryFileOnceAndNoTemporaryFile) {
  test::TempFolder state;
  ASSERT_EQ(setenv("XDG_STATE_HOME", state.path().c_str(), 1), 0);
  constexpr int kFiles = 40;
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    test::TempFolder tree;
    for (int i = 0; i < kFiles; ++i)
      tree.Write("foo_" + std::to_string(i) + ".txt", "foo\n");
    Started bar = StartProgram({"-f", "foo", "-r", "bar", tree.path()});
    Started foofoo = StartProgram({"-f", "foo", "-r", "foofoo", tree.path()});
    EXPECT_EQ(0, Finish(bar).status);
    EXPECT_EQ(0, Finish(foofoo).status);
    Tree after = tree.Snapshot();
    EXPECT_EQ(static_cast<std::size_t>(kFiles), after.size());
    for (const auto& [name, content] : after) {
      // Each file is whole and changed by one run or by each in turn,
      // under the name that goes with its content.
      const std::string stem = name.substr(0, name.find('_'));
      EXPECT_EQ(stem + "\n", content) << name;
    }
  }
}

// Change entries past the budget go to the scratch file and come back
// for the listing: the same bytes as a run that kept them in memory,
// over several files of a few entries and one with many.
TEST_F(CliTest, SpilledEntriesListTheSameAsEntriesInMemory) {
  for (int f = 0; f < 5; ++f) {
    std::string text;
    for (int i = 0; i < 2000; ++i)
      text += "line " + std::to_string(i) + (i % 3 ? " foo\n" : "\n");
    tree_.Write("f" + std::to_string(f) + ".txt", text);
  }
  std::string big;  // larger than a new text worked out in memory
  for (int i = 0; i < 120000; ++i)
    big += "foo " + std::to_string(i) + std::string(i % 50, 'x') + "\n";
  tree_.Write("m/big.txt", big);
  const Outcome in_memory = Run({"-n", "-f", "foo", "-r", "bar", tree_.path()});
  ASSERT_EQ(in_memory.status, 0) << in_memory.err;
  ASSERT_GT(in_memory.out.size(), std::size_t{4} << 20);
  const Outcome spilled =
      Finish(StartProgram({"-f", "foo", "-r", "bar", tree_.path()}, "", 0,
                          {0, "4096"}));
  EXPECT_EQ(spilled.status, 0) << spilled.err;
  EXPECT_EQ(spilled.err, "");
  EXPECT_TRUE(spilled.out == in_memory.out);  // megabytes: not printed
  EXPECT_EQ(tree_.Snapshot().at("m/big.txt").find("foo"), std::string::npos);
}

// Out of memory for real, under an address-space limit, with a budget
// too large to spill: exit status 1 and a message, no abort, every file
// old or new and listed exactly when new, no temporary file left.
TEST_F(CliTest, OutOfMemoryStopsTheRunAndSaysSo) {
#ifdef VS_SANITIZED
  GTEST_SKIP() << "sanitizers reserve more address space than the limit";
#endif
  for (char c = 'a'; c <= 'e'; ++c)
    tree_.Write(std::string(1, c) + ".txt", "foo\n");
  std::string line = "foo " + std::string(1000, 'x') + "\n";
  std::string big;
  big.reserve(line.size() * 60000);
  for (int i = 0; i < 60000; ++i) big += line;
  tree_.Write("m.txt", big);
  big.clear();
  big.shrink_to_fit();
  const Outcome run =
      Finish(StartProgram({"-f", "foo", "-r", "bar", tree_.path()}, "", 0,
                          {rlim_t{128} << 20, "1099511627776"}));
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("vellumshaper-cli: out of memory: the run stopped"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("terminate"), std::string::npos) << run.err;
  const Tree after = tree_.Snapshot();
  EXPECT_EQ(after.size(), 6u);  // no temporary file
  for (const auto& [name, content] : after) {
    if (name == "m.txt") {
      EXPECT_EQ(content.compare(0, 4, "foo "), 0);
      EXPECT_EQ(run.out.find(tree_.Path(name) + "\n"), std::string::npos);
      continue;
    }
    EXPECT_TRUE(content == "foo\n" || content == "bar\n") << name;
    EXPECT_EQ(content == "bar\n",
              run.out.find(tree_.Path(name) + "\n\tLine 1: bar\n") !=
                  std::string::npos)
        << name;
  }
}

// The modes from the command line to the listing, in code page 1252 and
// UTF-8 given by number, so that the locale does not matter.
TEST_F(CliTest, MatchModesChangeTextsAndNames) {
  struct Case {
    Args args;
    std::string text, name, expected_text, expected_name;
  };
  const Case cases[] = {
      {{"-i", "--preserve-case", "-f", "widget", "-r", "gadget",
        "--code-page=1252"},
       "Widget WIDGET widget wIdGet\n", "WIDGET.txt",
       "Gadget GADGET gadget gadget\n", "GADGET.txt"},
      {{"-w", "-f", "ab", "-r", "X", "--code-page=65001"},
       "ab abc \xC3\xA9" "ab ab\xE2\x80\x94\n", "ab-ab.txt",
       "X abc \xC3\xA9" "ab X\xE2\x80\x94\n", "X-X.txt"},
      {{"-e", "-f", "([a-z]+)_([0-9]+)", "-r", "$2$$${1}",
        "--code-page=65001"},
       "x foo_12 y\n", "v_1.txt", "x 12$foo y\n", "1$v.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    test::TempFolder tree;
    tree.Write(c.name, c.text);
    Args args = c.args;
    args.push_back(tree.path());
    const Outcome outcome = Run(args);
    EXPECT_EQ(0, outcome.status) << outcome.err;
    EXPECT_EQ(c.expected_text, tree.Read(c.expected_name));
    EXPECT_FALSE(tree.Exists(c.name));
  }
}

// A pattern that cannot run is a bad command line: status 2, a message
// that says why, and nothing walked, so nothing changed.
TEST_F(CliTest, APatternThatCannotRunIsAUsageError) {
  const std::pair<Args, std::string> cases[] = {
      {{"-e", "-f", "a(b", "--code-page=65001"},
       "invalid regular expression 'a(b'"},
      {{"-e", "-f", "(a)", "-r", "$2", "--code-page=1252"},
       "the replacement names group 2, but the pattern has 1 group"},
      {{"-e", "-f", "a.b", "--code-page=932"}, "code page 932 is double-byte"},
      {{"-i", "-f", "\xFF", "--code-page=65001"}, "not valid UTF-8"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    test::TempFolder tree;
    tree.Write("a(b.txt", "a(b aab (a)\n");
    Args full = args;
    full.push_back(tree.path());
    const Outcome outcome = Run(full);
    EXPECT_EQ(2, outcome.status);
    EXPECT_NE(std::string::npos, outcome.err.find(message)) << outcome.err;
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ("a(b aab (a)\n", tree.Read("a(b.txt"));
  }
}

}  // namespace
}  // namespace vs
