// A new text takes a file's place only from the very version that was
// read: whatever another program does to the file at the last moment,
// between the run's check and its swap, or between the swap and its
// confirmation, survives, and the file is listed as not changed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "tests/fault_file_system.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

using Op = FaultFileSystem::Op;
using Snapshot = std::map<std::string, std::string>;

// Opens `path` as another program would, but without waiting where the
// run holds a lease: -1 with EWOULDBLOCK says the program would wait.
int OpenAsOther(const std::string& path, int flags) {
  return open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
}

// What another program does to the file through `path`. Where its open
// would wait for the run to let go, `*later` is what it does once it may,
// to the file at `file` (the very file it opened, back at its name).
using Act = std::function<void(const std::string& path, const std::string& file,
                               std::function<void()>* later)>;

// Writes through an open of `flags`, or leaves it for later if the open
// would wait.
Act WriteOpen(int flags, std::function<void(int fd)> write_to) {
  return [flags, write_to](const std::string& path, const std::string& file,
                           std::function<void()>* later) {
    int fd = OpenAsOther(path, flags);
    if (fd < 0) {
      ASSERT_EQ(errno, EWOULDBLOCK);
      *later = [file, flags, write_to] {
        int waited = open(file.c_str(), flags | O_CLOEXEC);
        ASSERT_GE(waited, 0);
        write_to(waited);
        close(waited);
      };
      return;
    }
    write_to(fd);
    close(fd);
  };
}

const Act kAppend = WriteOpen(O_WRONLY | O_APPEND, [](int fd) {
  ASSERT_EQ(write(fd, "appended\n", 9), 9);
});
const Act kTruncate = WriteOpen(O_WRONLY | O_TRUNC, [](int) {});
const Act kOpenForWriting = WriteOpen(O_WRONLY, [](int) {});

// Whether the system gives a read lease on a file in `folder`: without
// one, an open for writing that writes nothing cannot be seen.
bool LeasesWork(const TempFolder& folder) {
  std::string path = folder.Path("lease-probe");
  int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
  bool works = fd >= 0 && fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
  if (fd >= 0) close(fd);
  unlink(path.c_str());
  return works;
}

TEST(SwapInTest, AnotherProgramsChangeAtTheLastMomentSurvives) {
  const ChangeList kChanged{"Failed to change Text (changed during the run)"};
  struct Case {
    const char* name;
    // The window: before the swap, or after it, before its confirmation,
    // when the name holds the new text and the file read is elsewhere.
    Op window;
    Act act;
    Snapshot tree_after;
    ChangeList entries;
    bool needs_lease;
  };
  const Case cases[] = {
      {"nothing", Op::kExchange, nullptr, {{"a.txt", "new\n"}},
       {"Line 1: new"}, false},
      {"an append before the swap", Op::kExchange, kAppend,
       {{"a.txt", "old\nappended\n"}}, kChanged, false},
      {"a truncate before the swap", Op::kExchange, kTruncate,
       {{"a.txt", ""}}, kChanged, false},
      {"an open for writing before the swap", Op::kExchange, kOpenForWriting,
       {{"a.txt", "old\n"}}, kChanged, true},
      {"a delete before the swap", Op::kExchange,
       [](const std::string& path, const std::string&,
          std::function<void()>*) { ASSERT_EQ(unlink(path.c_str()), 0); },
       {}, kChanged, false},
      {"a move before the swap", Op::kExchange,
       [](const std::string& path, const std::string& file,
          std::function<void()>*) {
         std::string moved = file.substr(0, file.rfind('/')) + "/moved.txt";
         ASSERT_EQ(rename(path.c_str(), moved.c_str()), 0);
       },
       {{"moved.txt", "old\n"}}, kChanged, false},
      {"another file put in its place before the swap", Op::kExchange,
       [](const std::string& path, const std::string& file,
          std::function<void()>*) {
         std::string theirs = file.substr(0, file.rfind('/')) + "/theirs";
         int fd = open(theirs.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(write(fd, "theirs\n", 7), 7);
         close(fd);
         ASSERT_EQ(rename(theirs.c_str(), path.c_str()), 0);
       },
       {{"a.txt", "theirs\n"}}, kChanged, false},
      {"an append after the swap", Op::kUndisturbed, kAppend,
       {{"a.txt", "old\nappended\n"}}, kChanged, false},
      {"a truncate after the swap", Op::kUndisturbed, kTruncate,
       {{"a.txt", ""}}, kChanged, false},
      {"an open for writing after the swap", Op::kUndisturbed,
       kOpenForWriting, {{"a.txt", "old\n"}}, kChanged, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tree;
    if (c.needs_lease && !LeasesWork(tree)) {
      std::printf("skipped \"%s\": no read leases here\n", c.name);
      continue;
    }
    tree.Write("a.txt", "old\n");
    FaultFileSystem fs;
    bool done = false;
    std::function<void()> later;
    if (c.act) {
      fs.Before(c.window, "/a.txt", [&] {
        if (done) return;  // the swap back, if any
        done = true;
        // Before the swap the name holds the file read; after it, the
        // temporary name does.
        std::string path = tree.Path("a.txt");
        if (c.window == Op::kUndisturbed) {
          for (const std::string& call : fs.calls())
            if (call.rfind("Exchange ", 0) == 0)
              path = call.substr(9, call.find(' ', 9) - 9);
        }
        c.act(path, tree.Path("a.txt"), &later);
      });
    }
    TestEngine engine(&fs);
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.settings.change_names = false;
    engine.ProcessFolder(tree.path());
    if (later) later();
    EXPECT_TRUE(done || !c.act);
    EXPECT_EQ(tree.Snapshot(), c.tree_after);
    EXPECT_EQ(engine.log().Entries(tree.Path("a.txt")), c.entries);
  }
}

// A file some program holds open for writing is never replaced: what it
// writes next would go to the file the run took away.
TEST(SwapInTest, AFileOpenForWritingElsewhereIsLeftAlone) {
  TempFolder tree;
  if (!LeasesWork(tree)) GTEST_SKIP() << "no read leases here";
  tree.Write("a.txt", "old\n");
  int writer = open(tree.Path("a.txt").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  TestEngine engine(RealFileSystem());
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.ProcessFolder(tree.path());
  close(writer);
  EXPECT_EQ(tree.Snapshot(), (Snapshot{{"a.txt", "old\n"}}));
  EXPECT_EQ(engine.log().Entries(tree.Path("a.txt")),
            (ChangeList{"Failed to change Text (in use by another program)"}));
}

}  // namespace
}  // namespace vs::test
