#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/fault_file_system.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

using Snapshot = std::map<std::string, std::string>;

class ProcessFolderTest : public ::testing::Test {
 protected:
  ProcessFolderTest() {
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.settings.code_page = CodePage(1252);
  }
  std::string P(const std::string& relative) { return tree.Path(relative); }
  void Run() { engine.ProcessFolder(tree.path()); }
  const ChangeList& Entries(const std::string& relative) {
    return engine.log().Entries(P(relative));
  }

  TempFolder tree;
  TestEngine engine;
};

TEST_F(ProcessFolderTest, WalksDepthFirstInByteOrderAndRecordsEveryFile) {
  tree.Write("a.txt", "old\n");
  tree.Write("sub/b.txt", "x\nold\n");
  tree.Write("z.txt", "nothing here\n");
  tree.Write("B.txt", "old");
  Run();
  EXPECT_EQ(engine.files, (std::vector<std::string>{P("B.txt"), P("a.txt"),
                                                   P("sub/b.txt")}));
  EXPECT_EQ(engine.log().size(), 4u);
  EXPECT_EQ(Entries("z.txt"), ChangeList{});
  EXPECT_EQ(Entries("sub/b.txt"), ChangeList{"Line 2: new"});
  EXPECT_EQ(tree.Read("sub/b.txt"), "x\nnew\n");
  EXPECT_EQ(tree.Read("z.txt"), "nothing here\n");
  EXPECT_FALSE(engine.problems().any());
}

TEST_F(ProcessFolderTest, TextThenNameUnderThePathAsFound) {
  tree.Write("old.txt", "old 1\r\nkeep\nold 3");
  Run();
  EXPECT_EQ(engine.files, std::vector<std::string>{P("old.txt")});
  EXPECT_EQ(Entries("old.txt"),
            (ChangeList{"Line 1: new 1", "Line 3: new 3",
                        "Changed File Name to: new.txt"}));
  EXPECT_EQ(tree.Snapshot(), (Snapshot{{"new.txt", "new 1\r\nkeep\nnew 3"}}));
}

TEST_F(ProcessFolderTest, SettingsChooseTheSteps) {
  struct Case {
    const char* name;
    int sub_folders, names, text;
    std::string find, replace;
    Snapshot after;
    std::vector<std::string> listed;
  };
  const Case cases[] = {
      {"all on", 1, 1, 1, "old", "new",
       {{"new.txt", "new"}, {"sub", "<dir>"}, {"sub/new.txt", "new"}},
       {"old.txt", "sub/old.txt"}},
      {"text off", 1, 1, 0, "old", "new",
       {{"new.txt", "old"}, {"sub", "<dir>"}, {"sub/new.txt", "old"}},
       {"old.txt", "sub/old.txt"}},
      {"names off", 1, 0, 1, "old", "new",
       {{"old.txt", "new"}, {"sub", "<dir>"}, {"sub/old.txt", "new"}},
       {"old.txt", "sub/old.txt"}},
      {"subfolders off", 0, 1, 1, "old", "new",
       {{"new.txt", "new"}, {"sub", "<dir>"}, {"sub/old.txt", "old"}},
       {"old.txt"}},
      {"both steps off", 1, 0, 0, "old", "new",
       {{"old.txt", "old"}, {"sub", "<dir>"}, {"sub/old.txt", "old"}},
       {}},
      {"empty find", 1, 1, 1, "", "new",
       {{"old.txt", "old"}, {"sub", "<dir>"}, {"sub/old.txt", "old"}},
       {}},
      {"find equals replace", 1, 1, 1, "old", "old",
       {{"old.txt", "old"}, {"sub", "<dir>"}, {"sub/old.txt", "old"}},
       {}},
      {"case only", 1, 1, 1, "o", "O",
       {{"Old.txt", "Old"}, {"sub", "<dir>"}, {"sub/Old.txt", "Old"}},
       {"old.txt", "sub/old.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder t;
    t.Write("old.txt", "old");
    t.Write("sub/old.txt", "old");
    TestEngine e;
    e.settings.sub_folders = c.sub_folders;
    e.settings.change_names = c.names;
    e.settings.change_text = c.text;
    e.settings.find = c.find;
    e.settings.replace = c.replace;
    e.ProcessFolder(t.path());
    EXPECT_EQ(t.Snapshot(), c.after);
    std::vector<std::string> listed;
    for (const std::string& f : c.listed) listed.push_back(t.Path(f));
    EXPECT_EQ(e.files, listed);
    // Every file met is recorded, changed or not; no folder ever is.
    EXPECT_EQ(e.log().size(), c.sub_folders ? 2u : 1u);
  }
}

TEST_F(ProcessFolderTest, ANewNameNeverOverwritesAndBadNamesAreRefused) {
  struct Case {
    std::string name, find, replace;
    std::string entry;
  };
  const std::string long_name(250, 'o');
  const Case cases[] = {
      {"old.txt", "old", "taken", "Failed to change File Name to: taken.txt "
                                  "(File exists)"},
      {"old.dat", "old", "dangling",
       "Failed to change File Name to: dangling.dat (File exists)"},
      {"old.sub", "old", "folder",
       "Failed to change File Name to: folder.sub (File exists)"},
      {"whole", "whole", "", "Failed to change File Name to:  (not a valid "
                             "file name)"},
      {"dot", "dot", ".", "Failed to change File Name to: . (not a valid "
                          "file name)"},
      {"slash.txt", "slash", "a/b",
       "Failed to change File Name to: a/b.txt (not a valid file name)"},
      {"q", "q", long_name + "xxxxxx",
       "Failed to change File Name to: " + long_name +
           "xxxxxx (File name too long)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder t;
    t.Write(c.name, "kept");
    t.Write("taken.txt", "someone else's");
    t.MakeFolder("folder.sub");
    ASSERT_EQ(symlink("nowhere", t.Path("dangling.dat").c_str()), 0);
    Snapshot before = t.Snapshot();
    TestEngine e;
    e.settings.find = c.find;
    e.settings.replace = c.replace;
    e.ProcessFolder(t.path());
    EXPECT_EQ(t.Snapshot(), before);
    EXPECT_EQ(e.log().Entries(t.Path(c.name)), ChangeList{c.entry});
    EXPECT_EQ(e.files, std::vector<std::string>{t.Path(c.name)});
    EXPECT_EQ(e.problems().failure_entries, 1);
  }
}

TEST_F(ProcessFolderTest, LinksAndSpecialFilesKeepTheirTextButGetNewNames) {
  tree.Write("target/old.txt", "old");
  ASSERT_EQ(symlink("target", P("old-dir-link").c_str()), 0);
  ASSERT_EQ(symlink("target/old.txt", P("old-file-link").c_str()), 0);
  ASSERT_EQ(mkfifo(P("old-fifo").c_str(), 0600), 0);
  engine.settings.sub_folders = 0;
  Run();
  EXPECT_EQ(tree.Snapshot(),
            (Snapshot{{"new-dir-link", "-> target"},
                      {"new-file-link", "-> target/old.txt"},
                      {"new-fifo", "<special>"},
                      {"target", "<dir>"},
                      {"target/old.txt", "old"}}));
  EXPECT_EQ(Entries("old-file-link"),
            ChangeList{"Changed File Name to: new-file-link"});
  EXPECT_FALSE(engine.problems().any());
}

TEST_F(ProcessFolderTest, BinaryFilesKeepTheirTextButGetNewNames) {
  const std::string binary("old\0old", 7);
  tree.Write("old.bin", binary);
  tree.Write("eof.txt", "old\x1A");
  Run();
  EXPECT_EQ(tree.Snapshot(),
            (Snapshot{{"new.bin", binary}, {"eof.txt", "old\x1A"}}));
  EXPECT_EQ(Entries("old.bin"), ChangeList{"Changed File Name to: new.bin"});
  EXPECT_EQ(Entries("eof.txt"), ChangeList{});
}

TEST_F(ProcessFolderTest, UnchangedFilesAreOnlyRead) {
  tree.Write("same.txt", "nothing\n");
  struct stat before, after;
  ASSERT_EQ(stat(P("same.txt").c_str(), &before), 0);
  ASSERT_EQ(chmod(P("").c_str(), 0555), 0);  // a write would be noticed
  Run();
  ASSERT_EQ(chmod(P("").c_str(), 0755), 0);
  ASSERT_EQ(stat(P("same.txt").c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_EQ(tree.Snapshot(), (Snapshot{{"same.txt", "nothing\n"}}));
}

TEST_F(ProcessFolderTest, RewriteKeepsModeAndSparesAFileOfTheTemporaryName) {
  tree.Write("a.txt", "old");
  tree.Write("a.txt.tmp", "precious");
  ASSERT_EQ(chmod(P("a.txt").c_str(), 0640), 0);
  tree.Write("ro.txt", "old");
  ASSERT_EQ(chmod(P("ro.txt").c_str(), 0444), 0);
  engine.settings.change_names = 0;
  Run();
  EXPECT_EQ(tree.Snapshot(), (Snapshot{{"a.txt", "new"},
                                       {"a.txt.tmp", "precious"},
                                       {"ro.txt", "new"}}));
  struct stat st;
  ASSERT_EQ(stat(P("a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(stat(P("ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
}

// Temporary files have names of their own, which no walk lists: a file of
// the tree never waits for a rename behind a temporary file, and a run
// never takes one (its own, or another run's) for a file of the tree.
TEST_F(ProcessFolderTest, TemporaryFilesAreNeverInTheWay) {
  engine.settings.find = "a";
  engine.settings.replace = "b.tmp";
  tree.Write("b", "text a\n");  // rewritten while "a" is renamed to b.tmp
  tree.Write("a", "x\n");
  tree.Write(".vellumshaper-c.tmp", "a left-over a\n");
  Run();
  EXPECT_EQ(tree.Snapshot(),
            (Snapshot{{"b", "text b.tmp\n"},
                      {"b.tmp", "x\n"},
                      {".vellumshaper-c.tmp", "a left-over a\n"}}));
  EXPECT_EQ(Entries("a"), ChangeList{"Changed File Name to: b.tmp"});

  // No file takes a temporary file's form.
  engine.settings.find = "b";
  engine.settings.replace = ".vellumshaper-b";
  Run();
  EXPECT_EQ(Entries("b.tmp"),
            (ChangeList{"Failed to change File Name to: .vellumshaper-b.tmp "
                        "(a name kept for temporary files)"}));
  EXPECT_TRUE(tree.Exists("b.tmp"));
}

TEST_F(ProcessFolderTest, ASecondRunReplacesListsAndKeepsOtherPaths) {
  tree.Write("old.txt", "old");
  tree.Write("b.txt", "old");
  Run();
  engine.files.clear();
  engine.settings.find = "zzz";
  Run();
  EXPECT_TRUE(engine.files.empty());
  EXPECT_EQ(Entries("b.txt"), ChangeList{});  // replaced by an empty list
  EXPECT_EQ(Entries("old.txt"),                // not met again: kept
            (ChangeList{"Line 1: new", "Changed File Name to: new.txt"}));
  EXPECT_EQ(Entries("new.txt"), ChangeList{});
}

TEST(ChangeLogTest, LookUpOfAnUnknownPathAddsAnEmptyListAndEntriesDoNot) {
  ChangeLog log;
  EXPECT_EQ(log.Entries("/nowhere"), ChangeList{});
  EXPECT_EQ(log.size(), 0u);
  EXPECT_EQ(log.LookUp("/nowhere"), ChangeList{});
  EXPECT_EQ(log.size(), 1u);
}

// Listings go through the changed files only; a path whose list a later
// record empties leaves them, one that a record fills joins them.
TEST(ChangeLogTest, NotEmptyFollowsEveryRecordInPathOrder) {
  struct Step {
    std::string path;
    ChangeList changes;
    std::vector<std::string> not_empty;  // after the step
  };
  const std::vector<Step> steps = {
      {"b", {"Line 1: x"}, {"b"}},
      {"a", {}, {"b"}},
      {"c", {"Line 2: y"}, {"b", "c"}},
      {"a", {"Line 3: z"}, {"a", "b", "c"}},  // recorded empty before
      {"b", {}, {"a", "c"}},                  // emptied
      {"c", {"Line 4: w"}, {"a", "c"}},       // replaced, still listed
      {"b", {"Line 5: v"}, {"a", "b", "c"}},
  };
  ChangeLog log;
  log.LookUp("d");  // an empty list, not listed
  for (const Step& step : steps) {
    log.Record(step.path, step.changes);
    std::vector<std::string> listed;
    for (const ChangeLog::Entry* entry : log.not_empty()) {
      listed.push_back(entry->first);
      EXPECT_EQ(entry->second, log.Entries(entry->first));
    }
    EXPECT_EQ(listed, step.not_empty) << "after recording " << step.path;
  }
  ChangeLog moved = std::move(log);
  EXPECT_EQ((*moved.not_empty().begin())->second, ChangeList{"Line 3: z"});
}

// The walk meets a folder it cannot list; the front end says so.
TEST_F(ProcessFolderTest, AFolderThatCannotBeListedIsToldAndNothingPrinted) {
  ::testing::internal::CaptureStdout();
  engine.ProcessFolder(P("missing"));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(engine.problems().unlisted_folders, 1);
  EXPECT_EQ(engine.log().size(), 0u);
  ASSERT_EQ(engine.problems_met.size(), 1u);
  EXPECT_EQ(engine.problems_met[0].kind, Problem::Kind::kUnlistedFolder);
  EXPECT_EQ(engine.problems_met[0].path, P("missing"));
  EXPECT_EQ(engine.problems_met[0].reason, "No such file or directory");
}

TEST_F(ProcessFolderTest, AnEmptyFolderAndAnEmptyBaseDoNothing) {
  ::testing::internal::CaptureStdout();
  Run();
  engine.ProcessFolder("");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(engine.log().size(), 0u);
  EXPECT_FALSE(engine.problems().any());
}

TEST_F(ProcessFolderTest, TheBaseFolderMayBeALinkButNoLinkBelowIsFollowed) {
  TempFolder outside;
  outside.Write("old.txt", "old");
  tree.Write("real/old.txt", "old");
  ASSERT_EQ(symlink(outside.path().c_str(), P("real/out").c_str()), 0);
  ASSERT_EQ(symlink("real", P("base-link").c_str()), 0);
  engine.settings.change_names = 0;
  engine.ProcessFolder(P("base-link"));
  EXPECT_EQ(tree.Read("real/old.txt"), "new");
  EXPECT_EQ(outside.Read("old.txt"), "old");
  EXPECT_EQ(engine.files, std::vector<std::string>{P("base-link/old.txt")});
}

TEST_F(ProcessFolderTest, DryRunRecordsWhatARunWouldAndWritesNothing) {
  tree.Write("old.txt", "a\nold\n");
  tree.Write("sub/old.txt", "old");
  tree.Write("sub/new.txt", "in the way");
  Snapshot before = tree.Snapshot();
  engine.settings.dry_run = 1;
  Run();
  EXPECT_EQ(tree.Snapshot(), before);
  EXPECT_EQ(Entries("old.txt"),
            (ChangeList{"Line 2: new", "Changed File Name to: new.txt"}));
  EXPECT_EQ(Entries("sub/old.txt"),
            (ChangeList{"Line 1: new",
                        "Failed to change File Name to: new.txt (File exists)"}));
}

}  // namespace
}  // namespace vs::test

namespace vs::test {
namespace {

// Threads that look at files ahead of the walk must not change anything a
// run does: the same files in the same order, the same entries, the same
// events told, the same tree afterwards.
TEST(ScanThreadsTest, ARunDoesTheSameWithAnyNumberOfThreads) {
  auto make_tree = [](const TempFolder& tree) {
    for (int f = 0; f < 12; ++f) {
      std::string folder = "d" + std::to_string(f % 4) + "/e" +
                           std::to_string(f) + "/";
      for (int i = 0; i < 25; ++i) {
        std::string name = folder + (i % 7 ? "f" : "old") + std::to_string(i);
        std::string text = "line\n";
        if (i % 3 == 0) text += "an old line\r\n";
        if (i % 11 == 0) text += std::string("\0old", 4);  // binary
        tree.Write(name, text + "end");
      }
      tree.Write(folder + "new0", "in the way of a rename");
    }
  };
  struct Outcome {
    std::vector<std::string> files;
    std::vector<ChangeList> entries;
    std::vector<std::string> events;  // what the front end was told
    RunProgress progress;
    Snapshot after;
  };
  auto run = [&](unsigned threads) {
    TempFolder tree;
    make_tree(tree);
    // A file that cannot be read and a folder that cannot be listed, so
    // problems are told among the files.
    FaultFileSystem fs;
    fs.FailAlways(FaultFileSystem::Op::kOpenForRead, "/e5/f3",
                  FaultFileSystem::IoError());
    fs.FailAlways(FaultFileSystem::Op::kListFolder, "/e6",
                  FaultFileSystem::IoError());
    TestEngine engine(&fs);
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.settings.scan_threads = threads;
    engine.ProcessFolder(tree.path());
    Outcome outcome;
    for (const std::string& path : engine.files) {
      outcome.files.push_back(path.substr(tree.path().size()));
      outcome.entries.push_back(engine.log().Entries(path));
    }
    for (std::string event : engine.events) {
      const std::size_t at = event.find(tree.path());
      if (at != std::string::npos) event.erase(at, tree.path().size());
      outcome.events.push_back(event);
    }
    outcome.progress = engine.last_progress;
    outcome.after = tree.Snapshot();
    return outcome;
  };
  Outcome alone = run(0);
  ASSERT_GT(alone.files.size(), 100u);
  ASSERT_EQ(alone.events.size(), alone.files.size() + 2);
  EXPECT_EQ(alone.progress.files_looked_at, 11u * 26);  // all but e6's
  EXPECT_EQ(alone.progress.files_changed, alone.files.size());
  for (unsigned threads : {1u, 3u}) {
    SCOPED_TRACE(threads);
    Outcome helped = run(threads);
    EXPECT_EQ(helped.files, alone.files);
    EXPECT_EQ(helped.entries, alone.entries);
    EXPECT_EQ(helped.events, alone.events);
    EXPECT_EQ(helped.progress.files_looked_at, alone.progress.files_looked_at);
    EXPECT_EQ(helped.progress.files_changed, alone.progress.files_changed);
    EXPECT_EQ(helped.progress.bytes_read, alone.progress.bytes_read);
    EXPECT_EQ(helped.after, alone.after);
  }
}

}  // namespace
}  // namespace vs::test
