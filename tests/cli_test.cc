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
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/temp_folder.h"

namespace vs {
namespace {

using Args = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;  // the exit status; -1 when killed by a signal
};

std::string ReadBack(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
  }
  std::fclose(file);
  return text;
}

// A run of the binary, started with its standard output and standard
// error caught apart.
struct Started {
  pid_t pid = -1;
  std::FILE* out = nullptr;
  std::FILE* err = nullptr;
};

// Starts the binary with `args` after its name, in the folder `cwd` if
// given, with at most `max_open_files` descriptors if that is not 0.
// With `limits`, the run gets at most that much address space, and the
// budget for change entries in memory it names.
struct MemoryLimits {
  rlim_t address_space = 0;  // 0: no limit
  std::string entries_budget;  // bytes; "": the program's own
};
Started StartProgram(const Args& args, const std::string& cwd = "",
                     rlim_t max_open_files = 0,
                     const MemoryLimits& limits = {}) {
  std::vector<std::string> storage = {VS_CLI_PATH};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);

  Started started;
  started.out = std::tmpfile();
  started.err = std::tmpfile();
  if (!started.out || !started.err) throw std::runtime_error("tmpfile failed");
  started.pid = fork();
  if (started.pid == 0) {
    if (dup2(fileno(started.out), STDOUT_FILENO) < 0 ||
        dup2(fileno(started.err), STDERR_FILENO) < 0 ||
        (!cwd.empty() && chdir(cwd.c_str()) != 0)) {
      _exit(126);
    }
    if (max_open_files) {
      struct rlimit limit = {max_open_files, max_open_files};
      if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
    }
    if (limits.address_space) {
      struct rlimit limit = {limits.address_space, limits.address_space};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    if (!limits.entries_budget.empty() &&
        setenv("VELLUMSHAPER_CHANGE_MEMORY_BUDGET",
               limits.entries_budget.c_str(), 1) != 0)
      _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return started;
}

// Waits for the run to end and reads what it printed.
Outcome Finish(const Started& started) {
  Outcome outcome;
  int wait_status = 0;
  if (started.pid > 0 && waitpid(started.pid, &wait_status, 0) == started.pid &&
      WIFEXITED(wait_status)) {
    outcome.status = WEXITSTATUS(wait_status);
  }
  outcome.out = ReadBack(started.out);
  outcome.err = ReadBack(started.err);
  return outcome;
}

Outcome RunProgram(const Args& args, const std::string& cwd = "",
                   rlim_t max_open_files = 0) {
  return Finish(StartProgram(args, cwd, max_open_files));
}

// The expected listing: a line starting with a TAB is an entry, any other
// line a path relative to `base`.
std::string Listing(const std::string& base, const Args& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += (line[0] == '\t' ? line : base + "/" + line) + "\n";
  }
  return text;
}

// Nested folders, deeper than a run with few descriptors can go: the walk
// holds one open descriptor for each level. Their full path also grows
// past PATH_MAX, so they are made and removed through descriptors.
class TooDeepFolders {
 public:
  explicit TooDeepFolders(const std::string& parent) : parent_(parent) {
    int fd = open(parent.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < kDepth && fd >= 0; ++i) {
      mkdirat(fd, name_.c_str(), 0755);
      int next = openat(fd, name_.c_str(), O_RDONLY | O_DIRECTORY);
      close(fd);
      fd = next;
    }
    if (fd < 0) throw std::runtime_error("cannot make the deep folders");
    close(fd);
  }
  ~TooDeepFolders() {
    std::vector<int> fds = {open(parent_.c_str(), O_RDONLY | O_DIRECTORY)};
    for (int i = 1; i < kDepth; ++i) {
      fds.push_back(openat(fds.back(), name_.c_str(), O_RDONLY | O_DIRECTORY));
    }
    for (int i = kDepth - 1; i >= 0; --i) {
      unlinkat(fds[i], name_.c_str(), AT_REMOVEDIR);
      close(fds[i]);
    }
  }

 private:
  static constexpr int kDepth = 20;  // 20 * 251 bytes > PATH_MAX (4096)
  std::string parent_;
  std::string name_ = std::string(250, 'd');
};

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
