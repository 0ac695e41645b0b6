// What the engine does when the file system fails it: the file stays as it
// was, no temporary file is left, and the failure is recorded as one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <new>

#include "engine/scan_ahead.h"
#include "tests/fault_file_system.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

using Op = FaultFileSystem::Op;
using Snapshot = std::map<std::string, std::string>;

const std::string kText = "keep\nold one\r\nold two";
const std::string kNewText = "keep\nnew one\r\nnew two";

struct TextFault {
  const char* name;
  Op op;
  std::uint64_t after;
  Status status;
  const char* entry;  // "" for none
  bool unreadable;
};

TEST(FailuresTest, AFailedRewriteLeavesTheFileAsItWas) {
  const TextFault cases[] = {
      {"temporary file refused", Op::kCreateExclusive, 0,
       FaultFileSystem::IoError(), "Failed to change Text (Input/output error)",
       false},
      {"disk full while writing", Op::kAppend, 5, FaultFileSystem::DiskFull(),
       "Failed to change Text (No space left on device)", false},
      {"flush fails", Op::kFlush, 0, FaultFileSystem::DiskFull(),
       "Failed to change Text (No space left on device)", false},
      {"sync fails", Op::kSync, 0, FaultFileSystem::IoError(),
       "Failed to change Text (Input/output error)", false},
      {"close fails", Op::kClose, 0, FaultFileSystem::IoError(),
       "Failed to change Text (Input/output error)", false},
      {"what the file carries cannot be kept", Op::kKeepMetadata, 0,
       Status::Error(Status::Code::kIOError, "cannot keep the file's owner"),
       "Failed to change Text (cannot keep the file's owner)", false},
      {"holding the file fails", Op::kHoldForReplace, 0,
       FaultFileSystem::IoError(), "Failed to change Text (Input/output error)",
       false},
      {"the file is open for writing elsewhere", Op::kHoldForReplace, 0,
       Status::Error(Status::Code::kBusy, "in use by another program"),
       "Failed to change Text (in use by another program)", false},
      {"replacing fails", Op::kExchange, 0, FaultFileSystem::IoError(),
       "Failed to change Text (Input/output error)", false},
      // The first look reads once and stops at the occurrence; every read
      // after it belongs to the rewrite.
      {"read fails while rewriting", Op::kRead, 1, FaultFileSystem::IoError(),
       "Failed to change Text (Input/output error)", false},
      {"read fails at the first look", Op::kRead, 0,
       FaultFileSystem::IoError(), "", true},
      {"open fails", Op::kOpenForRead, 0, FaultFileSystem::IoError(), "",
       true},
  };
  for (const TextFault& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tree;
    tree.Write("a.txt", kText);
    tree.Write("b.txt", kText);
    FaultFileSystem fs;
    fs.FailAlways(c.op, "a.txt", c.status, c.after);
    TestEngine engine(&fs);
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.settings.change_names = 0;
    engine.ProcessFolder(tree.path());

    // a.txt untouched, no temporary file anywhere, b.txt still done.
    EXPECT_EQ(tree.Snapshot(), (Snapshot{{"a.txt", kText}, {"b.txt", kNewText}}));
    ChangeList expected;
    if (*c.entry) expected.push_back(c.entry);
    EXPECT_EQ(engine.log().Entries(tree.Path("a.txt")), expected);
    EXPECT_EQ(engine.problems().failure_entries, *c.entry ? 1 : 0);
    EXPECT_EQ(engine.problems().unreadable_files, c.unreadable ? 1 : 0);
    std::vector<std::string> listed{tree.Path("b.txt")};
    if (*c.entry) listed.insert(listed.begin(), tree.Path("a.txt"));
    EXPECT_EQ(engine.files, listed);
  }
}

// New files are created off the walk, when descriptors may all be taken
// for a moment; the walk tries once more before it reports a failure.
TEST(FailuresTest, ATemporaryFileShortOfDescriptorsIsTriedAgain) {
  for (bool twice : {false, true}) {
    SCOPED_TRACE(twice);
    TempFolder tree;
    tree.Write("a.txt", kText);
    FaultFileSystem fs;
    const Status no_descriptors = Status::FromErrno(EMFILE);
    if (twice) {
      fs.FailAlways(Op::kCreateExclusive, "a.txt", no_descriptors);
    } else {
      fs.FailNext(Op::kCreateExclusive, "a.txt", no_descriptors);
    }
    TestEngine engine(&fs);
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.ProcessFolder(tree.path());
    EXPECT_EQ(tree.Snapshot(), (Snapshot{{"a.txt", twice ? kText : kNewText}}));
    const ChangeList expected =
        twice ? ChangeList{"Failed to change Text (Too many open files)"}
              : ChangeList{"Line 2: new one", "Line 3: new two"};
    EXPECT_EQ(engine.log().Entries(tree.Path("a.txt")), expected);
  }
}

TEST(FailuresTest, AnUnreadableFileStillGetsItsNewName) {
  TempFolder tree;
  tree.Write("old.txt", "old");
  FaultFileSystem fs;
  fs.FailAlways(Op::kOpenForRead, "old.txt", Status::FromErrno(EACCES));
  TestEngine engine(&fs);
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.ProcessFolder(tree.path());
  EXPECT_EQ(tree.Snapshot(), (Snapshot{{"new.txt", "old"}}));
  EXPECT_EQ(engine.log().Entries(tree.Path("old.txt")),
            ChangeList{"Changed File Name to: new.txt"});
  ASSERT_EQ(engine.reports.size(), 1u);
  EXPECT_EQ(engine.reports[0],
            "cannot read " + tree.Path("old.txt") + ": Permission denied");
}

TEST(FailuresTest, AFailedRenameFollowsTheLineEntries) {
  TempFolder tree;
  tree.Write("old.txt", "old");
  FaultFileSystem fs;
  fs.FailAlways(Op::kRenameNoReplace, "old.txt", FaultFileSystem::IoError());
  TestEngine engine(&fs);
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.ProcessFolder(tree.path());
  EXPECT_EQ(tree.Snapshot(), (Snapshot{{"old.txt", "new"}}));
  EXPECT_EQ(engine.log().Entries(tree.Path("old.txt")),
            (ChangeList{"Line 1: new", "Failed to change File Name to: new.txt "
                                       "(Input/output error)"}));
  EXPECT_EQ(engine.problems().failure_entries, 1);
}

TEST(FailuresTest, AFailedListingEndsOnlyItsOwnFolder) {
  struct Case {
    const char* name;
    Op op;
    std::uint64_t after;
    std::size_t files_recorded;
  };
  // The tree: a.txt, sub/1.txt, sub/2.txt, z.txt; sub's listing fails.
  const Case cases[] = {{"at its start", Op::kListFolder, 0, 2},
                        {"after one entry", Op::kListFolderAfter, 1, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tree;
    tree.Write("a.txt", "q");
    tree.Write("sub/1.txt", "q");
    tree.Write("sub/2.txt", "q");
    tree.Write("z.txt", "q");
    FaultFileSystem fs;
    fs.FailAlways(c.op, "/sub", FaultFileSystem::IoError(), c.after);
    TestEngine engine(&fs);
    engine.settings.find = "q";
    engine.settings.replace = "r";
    engine.ProcessFolder(tree.path());
    ASSERT_EQ(engine.problems_met.size(), 1u);
    EXPECT_EQ(engine.problems_met[0].kind, Problem::Kind::kUnlistedFolder);
    EXPECT_EQ(engine.problems_met[0].path, tree.Path("sub"));
    EXPECT_EQ(engine.log().size(), c.files_recorded);
    EXPECT_EQ(tree.Read("z.txt"), "r");  // the parent went on
    EXPECT_EQ(engine.problems().unlisted_folders, 1);
  }
}

// New text is on the disk before any file of the batch is replaced, and
// files are replaced and renamed in walk order, each text before its name,
// a subfolder's files in their place.
TEST(FailuresTest, EverythingIsDurableBeforeItReplacesAnything) {
  TempFolder tree;
  tree.Write("old-a.txt", "old");
  tree.Write("old-b/old-c.txt", "old");
  tree.Write("old-d.txt", "old");
  FaultFileSystem fs;
  TestEngine engine(&fs);
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.ProcessFolder(tree.path());

  std::vector<std::string> effects;
  for (const std::string& call : fs.calls()) {
    std::string name = call.substr(0, call.find(' '));
    std::string file;
    for (const char* f : {"a", "c", "d"})
      if (call.find(std::string("old-") + f) != std::string::npos) file = f;
    if (name == "CreateExclusive" || name == "Sync" || name == "Exchange" ||
        name == "RenameNoReplace")
      effects.push_back(name + " " + file);
  }
  // Texts are flushed on other threads as soon as they are written, in
  // any order among them, but all before the first replacement.
  auto first_replace = std::find(effects.begin(), effects.end(), "Exchange a");
  std::sort(effects.begin(), first_replace);
  EXPECT_EQ(effects,
            (std::vector<std::string>{
                "CreateExclusive a", "CreateExclusive c", "CreateExclusive d",
                "Sync a", "Sync c", "Sync d",
                "Exchange a", "RenameNoReplace a",
                "Exchange c", "RenameNoReplace c",
                "Exchange d", "RenameNoReplace d"}));
  EXPECT_EQ(tree.Snapshot(), (Snapshot{{"new-a.txt", "new"},
                                       {"old-b", "<dir>"},
                                       {"old-b/new-c.txt", "new"},
                                       {"new-d.txt", "new"}}));
}

}  // namespace
}  // namespace vs::test

namespace vs::test {
namespace {

// Another program changes the tree while the run works in it. The run
// handles each thing as it finds it, or records a failure; it never
// follows a link out of the tree and never loses what the other program
// wrote.
TEST(RacesTest, ChangesMadeDuringTheRunAreNeverLostOrFollowed) {
  struct Case {
    const char* name;
    // Runs while the engine reads tree/a.txt, the first file it works on.
    std::function<void(const TempFolder& tree, const TempFolder& outside)>
        meddle;
    Snapshot tree_after;
    ChangeList b_entries;
    bool problems;
  };
  auto swap_for_link = [](const TempFolder& tree, const std::string& folder,
                          const std::string& target) {
    ASSERT_EQ(rename(tree.Path(folder).c_str(), tree.Path("moved").c_str()),
              0);
    ASSERT_EQ(symlink(target.c_str(), tree.Path(folder).c_str()), 0);
  };
  const Case cases[] = {
      {"a subfolder swapped for a link to outside before it is entered",
       [&](const TempFolder& tree, const TempFolder& outside) {
         swap_for_link(tree, "z", outside.path());
       },
       {{"a.txt", "new"}, {"b.txt", "new"}, {"moved", "<dir>"},
        {"moved/b.txt", "old"}, {"z", "<link>"}},
       {"Line 1: new"},
       true},
      {"a file deleted before its turn",
       [](const TempFolder& tree, const TempFolder&) {
         ASSERT_EQ(unlink(tree.Path("b.txt").c_str()), 0);
       },
       {{"a.txt", "new"}},
       {},
       true},
      {"a file swapped for a link to outside before its turn",
       [&](const TempFolder& tree, const TempFolder& outside) {
         ASSERT_EQ(unlink(tree.Path("b.txt").c_str()), 0);
         ASSERT_EQ(symlink(outside.Path("b.txt").c_str(),
                           tree.Path("b.txt").c_str()),
                   0);
       },
       {{"a.txt", "new"}, {"b.txt", "<link>"}},
       {},
       false},
      {"a file grown before its turn",
       [](const TempFolder& tree, const TempFolder&) {
         tree.Write("b.txt", "old\nmore old");
       },
       {{"a.txt", "new"}, {"b.txt", "new\nmore new"}},
       {"Line 1: new", "Line 2: more new"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tree, outside;
    tree.Write("a.txt", "old");
    tree.Write("b.txt", "old");
    tree.Write("z/b.txt", "old");
    outside.Write("b.txt", "old");
    FaultFileSystem fs;
    bool done = false;
    fs.OnRead("/a.txt", [&](std::uint64_t) {
      if (!done) c.meddle(tree, outside);
      done = true;
    });
    TestEngine engine(&fs);
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.settings.change_names = 0;
    // Helper threads may look at b.txt or z before a.txt is read, so
    // before the meddling: only the walk on its own makes the moment
    // exact.
    engine.settings.scan_threads = 0;
    ::testing::internal::CaptureStdout();
    engine.ProcessFolder(tree.path());
    ::testing::internal::GetCapturedStdout();

    Snapshot after = tree.Snapshot();
    for (auto& [path, content] : after)
      if (content.rfind("-> ", 0) == 0) content = "<link>";
    Snapshot expected = c.tree_after;
    if (!expected.count("moved") && !expected.count("z")) {
      expected["z"] = "<dir>";
      expected["z/b.txt"] = "new";
    }
    EXPECT_EQ(after, expected);
    EXPECT_EQ(outside.Snapshot(), (Snapshot{{"b.txt", "old"}}));
    EXPECT_EQ(engine.log().Entries(tree.Path("b.txt")), c.b_entries);
    EXPECT_EQ(engine.problems().any(), c.problems);
  }
}

// The folder the run is working in is moved while the run reads in it:
// out of the tree, within it, or away with a link to outside in its
// place. The run never follows the link, and changes nothing in the
// folder from then on, wherever it went: it tells the folder once.
TEST(RacesTest, AFolderMovedDuringItsWalkIsLeftAlone) {
  struct Case {
    const char* name;
    std::function<void(TempFolder& tree, TempFolder& outside)> move;
    const char* moved_to;  // in `tree`, or "" when moved outside
  };
  const Case cases[] = {
      {"out of the tree",
       [](TempFolder& tree, TempFolder& outside) {
         ASSERT_EQ(rename(tree.Path("sub").c_str(),
                          outside.Path("sub").c_str()),
                   0);
       },
       ""},
      {"within the tree",
       [](TempFolder& tree, TempFolder&) {
         ASSERT_EQ(rename(tree.Path("sub").c_str(), tree.Path("moved").c_str()),
                   0);
       },
       "moved"},
      {"with a link to outside in its place",
       [](TempFolder& tree, TempFolder& outside) {
         ASSERT_EQ(rename(tree.Path("sub").c_str(), tree.Path("moved").c_str()),
                   0);
         ASSERT_EQ(symlink(outside.path().c_str(), tree.Path("sub").c_str()),
                   0);
       },
       "moved"},
  };
  for (const Case& c : cases) {
    for (unsigned threads : {0u, 2u}) {
      SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
      TempFolder tree, outside;
      tree.Write("sub/a.txt", "old");
      tree.Write("sub/old-b.txt", "old");
      tree.Write("z.txt", "old");
      outside.Write("a.txt", "old");
      FaultFileSystem fs;
      bool done = false;
      // Just before the run checks where the folder is, as it commits.
      fs.Before(Op::kStillReaches, "/sub", [&] {
        if (done) return;
        done = true;
        c.move(tree, outside);
      });
      TestEngine engine(&fs);
      engine.settings.find = "old";
      engine.settings.replace = "new";
      engine.settings.scan_threads = threads;
      engine.ProcessFolder(tree.path());
      TempFolder& holder = *c.moved_to ? tree : outside;
      const std::string moved = *c.moved_to ? c.moved_to : "sub";
      EXPECT_TRUE(done);
      EXPECT_EQ(holder.Read(moved + "/a.txt"), "old");
      EXPECT_EQ(holder.Read(moved + "/old-b.txt"), "old");
      EXPECT_EQ(tree.Read("z.txt"), "new");
      EXPECT_EQ(outside.Read("a.txt"), "old");
      EXPECT_EQ(engine.problems().moved_folders, 1);
      EXPECT_EQ(engine.files, std::vector<std::string>{tree.Path("z.txt")});
    }
  }
}

// Text another program writes to a file while the run rewrites it would
// be lost if the rewrite went ahead.
TEST(RacesTest, AFileWrittenWhileItIsRewrittenIsLeftAlone) {
  TempFolder tree;
  tree.Write("a.txt", "old\n");
  FaultFileSystem fs;
  // While the new text is made durable, after it was worked out.
  fs.Before(Op::kSync, "a.txt.tmp", [&] {
    std::FILE* f = std::fopen(tree.Path("a.txt").c_str(), "ab");
    std::fputs("appended by someone else\n", f);
    std::fclose(f);
  });
  TestEngine engine(&fs);
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.ProcessFolder(tree.path());
  EXPECT_EQ(tree.Snapshot(),
            (Snapshot{{"a.txt", "old\nappended by someone else\n"}}));
  EXPECT_EQ(engine.log().Entries(tree.Path("a.txt")),
            ChangeList{"Failed to change Text (changed during the run)"});
}

}  // namespace
}  // namespace vs::test

namespace vs::test {
namespace {

// Running out of memory stops the run wherever it is, as a stop request
// does. What was done stays done and is in the log; nothing is left half
// done, no temporary file remains, and the run tells of it, throwing
// nothing.
TEST(OutOfMemoryTest, AThrowingObserverStopsTheRun) {
  class ThrowingEngine : public TestEngine {
   public:
    void OnFileChanged(const std::string&, const ChangeList&) override {
      throw std::bad_alloc();
    }
  };
  TempFolder tree;
  tree.Write("a.txt", "old");
  tree.Write("b.txt", "old");
  ThrowingEngine engine;
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.settings.change_names = 0;
  EXPECT_NO_THROW(engine.ProcessFolder(tree.path()));
  EXPECT_EQ(tree.Snapshot(), (Snapshot{{"a.txt", "new"}, {"b.txt", "old"}}));
  EXPECT_EQ(engine.log().Entries(tree.Path("a.txt")),
            ChangeList{"Line 1: new"});
  EXPECT_TRUE(engine.problems().out_of_memory);
  EXPECT_TRUE(engine.problems().any());
  EXPECT_EQ(engine.reports,
            std::vector<std::string>{"out of memory: the run stopped"});
}

TEST(OutOfMemoryTest, EveryFileIsOldOrNewAndLoggedSo) {
  // Files a to h hold "old" once; big.txt is too large to be worked out
  // in memory, so it streams into its temporary file as it is read.
  const std::string big_line = std::string(1000, 'x') + " old\n";
  std::string big;
  while (big.size() <= kMaxNewTextSource) big += big_line;
  std::string big_new = big;
  for (std::size_t at = 0; (at = big_new.find(" old\n", at)) !=
                           std::string::npos;)
    big_new.replace(++at, 3, "new");

  struct Case {
    const char* name;
    std::function<void(FaultFileSystem&)> fault;
  } cases[] = {
      {"reading ahead",
       [](FaultFileSystem& fs) {
         fs.OnRead("/e", [](std::uint64_t) { throw std::bad_alloc(); });
       }},
      {"streaming a rewrite",
       [](FaultFileSystem& fs) {
         fs.OnRead("/big.txt", [](std::uint64_t read) {
           if (read > 3) throw std::bad_alloc();
         });
       }},
      {"creating a temporary file on the sync pool",
       [](FaultFileSystem& fs) {
         fs.Before(Op::kCreateExclusive, "-d",
                   [] { throw std::bad_alloc(); });
       }},
      {"putting a file in place",
       [](FaultFileSystem& fs) {
         fs.Before(Op::kExchange, "/c", [] { throw std::bad_alloc(); });
       }},
  };
  for (const Case& c : cases) {
    for (unsigned threads : {0u, 1u, 3u}) {
      SCOPED_TRACE(std::string(c.name) + ", threads " +
                   std::to_string(threads));
      TempFolder tree;
      for (char f = 'a'; f <= 'h'; ++f) tree.Write(std::string(1, f), "old");
      tree.Write("big.txt", big);
      FaultFileSystem fs;
      c.fault(fs);
      TestEngine engine(&fs);
      engine.settings.find = "old";
      engine.settings.replace = "new";
      engine.settings.change_names = false;
      engine.settings.scan_threads = threads;
      EXPECT_NO_THROW(engine.ProcessFolder(tree.path()));
      EXPECT_TRUE(engine.problems().out_of_memory);
      const Snapshot after = tree.Snapshot();
      EXPECT_EQ(after.size(), 9u);  // no temporary file left
      for (const auto& [name, content] : after) {
        const bool old = content == (name == "big.txt" ? big : "old");
        const bool now = content == (name == "big.txt" ? big_new : "new");
        EXPECT_TRUE(old || now) << name;
        // Changed exactly when its change is in the log.
        EXPECT_EQ(now, !engine.log().Entries(tree.Path(name)).empty())
            << name;
      }
    }
  }
}

}  // namespace
}  // namespace vs::test
