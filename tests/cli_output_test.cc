// The ends of a run of the real vellumshaper-cli binary that are about
// its process: a listing that cannot be written, a closed pipe, a limit
// on the size of files, and names that hold control bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "tests/temp_folder.h"

namespace vs {
namespace {

using Args = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;

// Both streams on a terminal that wants no colour, and a run too quick
// for a progress line: what is shown, plain.
OutputKinds PlainTerminal() {
  OutputKinds kinds;
  kinds.out_is_terminal = kinds.err_is_terminal = true;
  kinds.no_color = true;
  kinds.progress.delay = std::chrono::hours(1);
  return kinds;
}

struct Ended {
  std::string out;  // empty when standard output went elsewhere
  std::string err;
  bool exited = false;  // rather than killed by a signal
  int status = -1;
};

std::string ReadBack(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    text.append(buffer, got);
  std::fclose(file);
  return text;
}

// Runs the binary with `args` after its name. `set_up` runs in the child
// before the program starts, with standard output and error going to
// files the parent reads back; it may point standard output elsewhere or
// set limits, and returns false when it cannot.
Ended RunWith(const Args& args, const std::function<bool()>& set_up) {
  std::vector<std::string> storage = {VS_CLI_PATH};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);

  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (!out || !err) throw std::runtime_error("tmpfile failed");
  const pid_t pid = fork();
  if (pid == 0) {
    if (dup2(fileno(out), STDOUT_FILENO) < 0 ||
        dup2(fileno(err), STDERR_FILENO) < 0 || !set_up()) {
      _exit(126);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  Ended ended;
  int wait_status = 0;
  if (pid > 0 && waitpid(pid, &wait_status, 0) == pid) {
    ended.exited = WIFEXITED(wait_status);
    if (ended.exited) ended.status = WEXITSTATUS(wait_status);
  }
  ended.out = ReadBack(out);
  ended.err = ReadBack(err);
  return ended;
}

// Every entry of `tree` whose name ends in ".tmp".
std::vector<std::string> Temporaries(const Tree& tree) {
  std::vector<std::string> found;
  for (const auto& [path, content] : tree) {
    if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".tmp") == 0)
      found.push_back(path);
  }
  return found;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Standard output that takes no listing: the run still makes every
// change, then fails with the reason on standard error.
TEST(CliOutputTest, ListingThatCannotBeWrittenFailsTheRun) {
  struct Case {
    const char* name;
    std::function<bool()> point_output;
    const char* reason;
  };
  const Case cases[] = {
      {"full disk",
       [] {
         int fd = open("/dev/full", O_WRONLY);
         return fd >= 0 && dup2(fd, STDOUT_FILENO) >= 0;
       },
       "No space left on device"},
      {"pipe without a reader",
       [] {
         int ends[2];
         if (pipe(ends) != 0) return false;
         close(ends[0]);
         return dup2(ends[1], STDOUT_FILENO) >= 0;
       },
       "Broken pipe"},
      {"closed", [] { return close(STDOUT_FILENO) == 0; },
       "Bad file descriptor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFolder tree;
    for (const char* name : {"a.txt", "b.txt", "s/c.txt"})
      tree.Write(name, "foo\n");
    Ended run =
        RunWith({"-f", "foo", "-r", "bar", tree.path()}, c.point_output);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(1, run.status) << run.err;
    EXPECT_EQ("vellumshaper-cli: cannot write to standard output: " +
                  std::string(c.reason) + "\n",
              run.err);
    const Tree want = {{"a.txt", "bar\n"},
                       {"b.txt", "bar\n"},
                       {"s", "<dir>"},
                       {"s/c.txt", "bar\n"}};
    EXPECT_EQ(want, tree.Snapshot());
  }
}

TEST(CliOutputTest, HelpThatCannotBeWrittenFails) {
  Ended run = RunWith({"--help"}, [] {
    int fd = open("/dev/full", O_WRONLY);
    return fd >= 0 && dup2(fd, STDOUT_FILENO) >= 0;
  });
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(
      "vellumshaper-cli: cannot write to standard output: No space left on "
      "device\n",
      run.err);
}

// "Error get the next file" into a pipe nobody reads (as after
// `| head -1`): the run is not killed, it stops with every file it began
// finished and whole, and says so.
TEST(CliOutputTest, ClosedPipeStopsTheRunCleanly) {
  // Every format writes during the walk: the diff each file, all of them
  // the problems. Colours change none of it.
  for (const Args& format : {Args{}, Args{"--diff"}, Args{"--json"},
                             Args{"--color=always"},
                             Args{"--diff", "--color=always"}}) {
    SCOPED_TRACE(testing::PrintToString(format));
    test::TempFolder tree;
    constexpr int kFiles = 200;
    for (int i = 0; i < kFiles; ++i)
      tree.Write("f/foo" + std::to_string(i) + ".txt", "foo\n");
    // A run allowed few descriptors cannot open folders nested this deep.
    std::string deep = "d";
    for (int level = 0; level < 24; ++level) deep += "/d";
    tree.MakeFolder(deep);

    Args args = format;
    args.insert(args.end(), {"-f", "foo", "-r", "bar", tree.path()});
    Ended run = RunWith(args, [] {
      int ends[2];
      if (pipe(ends) != 0) return false;
      close(ends[0]);
      struct rlimit limit = {16, 16};
      return dup2(ends[1], STDOUT_FILENO) >= 0 &&
             setrlimit(RLIMIT_NOFILE, &limit) == 0;
    });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(Contains(run.err,
                         "vellumshaper-cli: cannot write to standard output: "
                         "Broken pipe (the run stopped"))
        << run.err;
    const Tree after = tree.Snapshot();
    EXPECT_EQ(std::vector<std::string>(), Temporaries(after));
    for (int i = 0; i < kFiles; ++i) {
      const std::string was = "f/foo" + std::to_string(i) + ".txt";
      const std::string now = "f/bar" + std::to_string(i) + ".txt";
      SCOPED_TRACE(was);
      if (after.count(now)) {
        EXPECT_EQ(0u, after.count(was));
        EXPECT_EQ("bar\n", after.at(now));
      } else {
        EXPECT_EQ("foo\n", after.at(was));
      }
    }
  }
}

// -q writes nothing on standard output, so a closed one fails nothing:
// every file changes and the run succeeds, where the listing would have
// met the closed pipe.
TEST(CliOutputTest, QuietRunIntoAClosedPipeFinishes) {
  test::TempFolder tree;
  constexpr int kFiles = 50;
  for (int i = 0; i < kFiles; ++i)
    tree.Write("f/foo" + std::to_string(i) + ".txt", "foo\n");
  Ended run = RunWith({"-q", "-f", "foo", "-r", "bar", tree.path()}, [] {
    int ends[2];
    if (pipe(ends) != 0) return false;
    close(ends[0]);
    return dup2(ends[1], STDOUT_FILENO) >= 0;
  });
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.err);
  const Tree after = tree.Snapshot();
  for (int i = 0; i < kFiles; ++i)
    EXPECT_EQ("bar\n", after.at("f/bar" + std::to_string(i) + ".txt")) << i;
}

// Under a limit on the size of files a new text that would pass it is a
// failed write: listed, the file kept as it was, no temporary left.
// Below the limit, files change as ever.
TEST(CliOutputTest, FileSizeLimitFailsOnlyTheFilesPastIt) {
  test::TempFolder tree;
  constexpr rlim_t kLimit = 64 << 10;
  const std::string worked_out = std::string(200 << 10, 'x') + "foo\n";
  const std::string streamed = std::string(2 << 20, 'x') + "foo\n";
  tree.Write("a.txt", "foo\n");
  tree.Write("big.txt", worked_out);
  tree.Write("huge.txt", streamed);
  tree.Write("z.txt", "foo\n");
  Ended run = RunWith({"-f", "foo", "-r", "bar", "--no-names", tree.path()},
                      [] {
                        struct rlimit limit = {kLimit, kLimit};
                        return setrlimit(RLIMIT_FSIZE, &limit) == 0;
                      });
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(1, run.status) << run.err;
  const std::string base = tree.path() + "/";
  EXPECT_EQ(base + "a.txt\n\tLine 1: bar\n" +
                base + "big.txt\n\tFailed to change Text (File too large)\n" +
                base + "huge.txt\n\tFailed to change Text (File too large)\n" +
                base + "z.txt\n\tLine 1: bar\n",
            run.out);
  const Tree want = {{"a.txt", "bar\n"},
                     {"big.txt", worked_out},
                     {"huge.txt", streamed},
                     {"z.txt", "bar\n"}};
  EXPECT_EQ(want, tree.Snapshot());
}

// Into a file or a pipe, names and entries go out byte for byte, control
// bytes and backslashes included: what reads the listing gets the names
// as they are.
TEST(CliOutputTest, ListingIntoAFileKeepsEveryByte) {
  test::TempFolder tree;
  tree.Write("a\\b\tfoo\x1b.txt", "foo\n");
  Ended run = RunWith({"-f", "foo", "-r", "q\nr", tree.path()},
                      [] { return true; });
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(tree.path() + "/a\\b\tfoo\x1b.txt\n" +
                "\tLine 1: q\n" + "r\n" +
                "\tChanged File Name to: a\\b\tq\nr\x1b.txt\n",
            run.out);
}

// On a terminal the same run shows every control byte escaped, so no name
// or Replace With text can make a line of its own; so do the messages on
// standard error.
TEST(CliOutputTest, TerminalShowsControlBytesEscaped) {
  test::TempFolder tree;
  tree.Write("a\\b\tfoo\x1b.txt", "foo\n");
  std::ostringstream out, err;
  const int status = CliMain(
      {"vellumshaper-cli", "-f", "foo", "-r", "q\nr", tree.path()}, out, err,
      PlainTerminal());
  EXPECT_EQ(0, status) << err.str();
  EXPECT_EQ(tree.path() + "/a\\\\b\\tfoo\\033.txt\n" +
                "\tLine 1: q\\nr\n" +
                "\tChanged File Name to: a\\\\b\\tq\\nr\\033.txt\n",
            out.str());

  const std::string missing = tree.Path("gone\n\tLine 1: forged");
  std::ostringstream out2, err2;
  EXPECT_EQ(1, CliMain({"vellumshaper-cli", "-f", "foo", missing}, out2, err2,
                       PlainTerminal()));
  EXPECT_EQ("Error get the next file\n", out2.str());
  EXPECT_TRUE(Contains(err2.str(), "gone\\n\\tLine 1: forged")) << err2.str();
  EXPECT_EQ(err2.str().size() - 1, err2.str().find('\n')) << err2.str();

  // A usage error quotes the argument it rejects.
  std::ostringstream out3, err3;
  EXPECT_EQ(2, CliMain({"vellumshaper-cli", "-f", "foo", tree.path(),
                        "x\nvellumshaper-cli: forged"},
                       out3, err3, PlainTerminal()));
  EXPECT_EQ(
      "vellumshaper-cli: error: unexpected argument "
      "'x\\nvellumshaper-cli: forged': only one BASE_DIR may be "
      "given\nTry 'vellumshaper-cli --help'.\n",
      err3.str());
}

// The diff's lines show their control bytes escaped on a terminal, TABs
// kept; the JSON is escaped text already and goes out as it is.
TEST(CliOutputTest, DiffAndJsonOnATerminal) {
  test::TempFolder tree;
  tree.Write("t foo", "\tfoo\x1b[2J\r\n");
  std::ostringstream diff, err;
  EXPECT_EQ(0, CliMain({"vellumshaper-cli", "-n", "--diff", "-f", "foo", "-r",
                        "bar", tree.path()},
                       diff, err, PlainTerminal()))
      << err.str();
  EXPECT_EQ(
      "diff --git a/t foo b/t bar\nrename from t foo\nrename to t bar\n"
      "--- a/t foo\t\n+++ b/t bar\t\n@@ -1 +1 @@\n"
      "-\tfoo\\033[2J\\r\n+\tbar\\033[2J\\r\n",
      diff.str());

  std::ostringstream json, err2;
  EXPECT_EQ(0, CliMain({"vellumshaper-cli", "-n", "--json", "-f", "foo", "-r",
                        "bar", tree.path()},
                       json, err2, PlainTerminal()))
      << err2.str();
  EXPECT_TRUE(Contains(json.str(),
                       R"("lines":[{"line":1,"text":{"text":"\tbar\u001b[2J"}}],)"
                       R"("new_name":{"text":"t bar"})"))
      << json.str();
}

}  // namespace
}  // namespace vs
