// The undo journal every run that writes keeps: what it holds after a
// run, where old versions go, when its records reach the disk, and what
// a run does when the journal cannot be written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "engine/change_entry.h"
#include "engine/journal_records.h"
#include "tests/fault_file_system.h"
#include "tests/memory_file_system.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

using Op = FaultFileSystem::Op;
using Tree = std::map<std::string, std::string>;

const std::string kRuns = "state/runs";

// The ids of the runs kept in the journal folder `runs` of `fs`.
std::vector<std::string> RunIds(const MemoryFileSystem& fs,
                                 const std::string& runs = kRuns) {
  std::vector<std::string> ids;
  if (!fs.Exists(runs)) return ids;
  for (const auto& [path, content] : fs.Snapshot(runs))
    if (path.find('/') == std::string::npos) ids.push_back(path);
  return ids;
}

// One run's journal, read back through the decoders.
struct Journal {
  std::string folder;  // the run's folder
  JournalHeader header;
  JournalChanges changes;
  bool ended = false;
  JournalEnd end;
};

Journal ReadJournal(const MemoryFileSystem& fs,
                    const std::string& runs = kRuns) {
  Journal journal;
  const std::vector<std::string> ids = RunIds(fs, runs);
  EXPECT_EQ(1u, ids.size());
  if (ids.size() != 1) return journal;
  journal.folder = runs + "/" + ids[0];
  EXPECT_TRUE(DecodeHeader(fs.Read(journal.folder + "/run"), &journal.header)
                  .ok());
  EXPECT_TRUE(
      DecodeChanges(fs.Read(journal.folder + "/changes"), &journal.changes)
          .ok());
  journal.ended = fs.Exists(journal.folder + "/end");
  if (journal.ended) {
    EXPECT_TRUE(DecodeEnd(fs.Read(journal.folder + "/end"), &journal.end).ok());
  }
  return journal;
}

void ExpectSameVersion(const FileInfo& want, const FileInfo& got) {
  EXPECT_EQ(want.device, got.device);
  EXPECT_EQ(want.inode, got.inode);
  EXPECT_EQ(want.size, got.size);
  EXPECT_EQ(want.modified_ns, got.modified_ns);
}

std::vector<std::string> Entries(const TestEngine& engine,
                                 const std::string& path) {
  const ChangeList& list = engine.log().Entries(path);
  return std::vector<std::string>(list.begin(), list.end());
}

TEST(RunJournalTest, HoldsEveryChangeAsTheTreeShowsItAndTheVeryOldFiles) {
  MemoryFileSystem fs({{"tree/a.txt", "old\n"},
                       {"tree/b.txt", "nothing\n"},
                       {"tree/sub/old-name.txt", "nothing\n"},
                       {"tree/sub/old.txt", "old old\n"}});
  fs.Chmod("tree/a.txt", 0640);
  struct Expected {
    std::string folder, name, new_name;
    OldText old_text;
    std::string old_bytes;
    FileInfo before;
  };
  std::vector<Expected> expected = {
      {"", "a.txt", "", OldText::kMoved, "old\n", {}},
      {"sub", "old-name.txt", "new-name.txt", OldText::kNone, "", {}},
      {"sub", "old.txt", "new.txt", OldText::kMoved, "old old\n", {}},
  };
  for (Expected& e : expected)
    e.before = fs.Info("tree/" + (e.folder.empty() ? "" : e.folder + "/") +
                       e.name);

  TestEngine engine(&fs);
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.settings.state_folder = "state";
  engine.ProcessFolder("tree");
  EXPECT_FALSE(engine.problems().any()) << ::testing::PrintToString(
      engine.reports);

  const Journal journal = ReadJournal(fs);
  EXPECT_EQ("/tree", journal.header.base_dir);
  EXPECT_EQ("old", journal.header.find);
  EXPECT_EQ("new", journal.header.replace);
  ASSERT_TRUE(journal.ended);
  EXPECT_FALSE(journal.end.stopped);
  for (const std::string& folder : {std::string("state"), kRuns,
                                    journal.folder,
                                    journal.folder + "/old"})
    EXPECT_EQ(0700u, fs.Info(folder).mode) << folder;

  ASSERT_EQ(expected.size(), journal.changes.records.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Expected& e = expected[i];
    const JournalRecord& record = journal.changes.records[i];
    SCOPED_TRACE(e.name);
    const std::string prefix =
        "tree/" + (e.folder.empty() ? "" : e.folder + "/");
    EXPECT_EQ(i + 1, record.number);
    EXPECT_EQ(e.folder, record.folder);
    EXPECT_EQ(e.name, record.name);
    EXPECT_EQ(e.new_name, record.new_name);
    EXPECT_EQ(e.old_text, record.old_text);
    EXPECT_EQ(e.before.mode, record.before.mode);
    ExpectSameVersion(e.before, record.before);
    ExpectSameVersion(fs.Info(prefix + record.name_after()), record.after);
    const std::string old_path =
        journal.folder + "/old/" + OldTextName(record.number);
    if (e.old_text == OldText::kMoved) {
      // The very file the run replaced: same inode, bytes and mode.
      ExpectSameVersion(e.before, fs.Info(old_path));
      EXPECT_EQ(e.before.mode, fs.Info(old_path).mode);
      EXPECT_EQ(e.old_bytes, fs.Read(old_path));
    } else {
      EXPECT_FALSE(fs.Exists(old_path));
    }
    ASSERT_TRUE(journal.changes.entries.count(record.number));
    EXPECT_EQ(Entries(engine, prefix + e.name),
              journal.changes.entries.at(record.number));
  }
  const JournalSummary& summary = engine.engine().journal_summary();
  EXPECT_EQ(journal.folder, "state/runs/" + summary.id);
  EXPECT_EQ(3u, summary.files);
  EXPECT_EQ(0u, summary.bytes_copied);
}

// Only changes that will be tried are recorded: a new name the run
// refuses is none, and a run with none keeps no journal; a dry run
// records nothing at all.
TEST(RunJournalTest, NothingRecordedForRefusedNamesOrDryRuns) {
  MemoryFileSystem fs(Tree{{"tree/x.txt", "nothing\n"}});
  TestEngine engine(&fs);
  engine.settings.find = "x";
  engine.settings.replace = "a/b";  // no name may hold a slash
  engine.settings.state_folder = "state";
  engine.ProcessFolder("tree");
  EXPECT_EQ(1, engine.problems().failure_entries);
  EXPECT_TRUE(RunIds(fs).empty());
  EXPECT_TRUE(engine.engine().journal_summary().id.empty());

  MemoryFileSystem dry_fs(Tree{{"tree/x.txt", "x\n"}});
  TestEngine dry(&dry_fs);
  dry.settings.find = "x";
  dry.settings.replace = "y";
  dry.settings.state_folder = "state";
  dry.settings.dry_run = true;
  dry.ProcessFolder("tree");
  EXPECT_EQ(1u, dry.files.size());
  EXPECT_FALSE(dry_fs.Exists("state"));
  EXPECT_TRUE(dry.engine().journal_summary().id.empty());
}

// On another file system than the tree the old text cannot be moved:
// its bytes and mode are copied, and the summary counts them.
TEST(RunJournalTest, OnAnotherDeviceOldTextsAreCopied) {
  MemoryFileSystem fs({{"tree/a.txt", "old\n"}, {"tree/b.txt", "old old\n"},
                       {"state", "<dir>"}});
  fs.Mount("state", 77);
  fs.Chmod("tree/b.txt", 0604);
  const FileInfo before = fs.Info("tree/b.txt");
  TestEngine engine(&fs);
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.settings.state_folder = "state";
  engine.ProcessFolder("tree");
  EXPECT_FALSE(engine.problems().any());
  EXPECT_EQ("new new\n", fs.Read("tree/b.txt"));

  const Journal journal = ReadJournal(fs);
  ASSERT_EQ(2u, journal.changes.records.size());
  for (const JournalRecord& record : journal.changes.records)
    EXPECT_EQ(OldText::kCopied, record.old_text);
  const std::string copy = journal.folder + "/old/2";
  EXPECT_EQ("old old\n", fs.Read(copy));
  EXPECT_EQ(0604u, fs.Info(copy).mode);
  ExpectSameVersion(before, journal.changes.records[1].before);
  EXPECT_EQ(12u, engine.engine().journal_summary().bytes_copied);
}

// The journal may lie in the tree (the tree is the home folder, say):
// the walk never enters it, whatever its files hold.
TEST(RunJournalTest, StateFolderInTheTreeIsNeverWalked) {
  for (const std::string state : {"tree/.local/state", "tree"}) {
    SCOPED_TRACE(state);
    MemoryFileSystem fs(Tree{{"tree/a.txt", "old\n"}});
    for (int run = 0; run < 2; ++run) {
      TestEngine engine(&fs);
      engine.settings.find = run == 0 ? "old" : "new";
      engine.settings.replace = run == 0 ? "new" : "old";
      engine.settings.state_folder = state;
      engine.ProcessFolder("tree");
      EXPECT_EQ(std::vector<std::string>{"tree/a.txt"}, engine.files);
      EXPECT_EQ(1u, engine.last_progress.files_looked_at);
    }
    const std::vector<std::string> ids = RunIds(fs, state + "/runs");
    ASSERT_EQ(2u, ids.size());
    // The first run's journal is as it wrote it.
    const std::string first = state + "/runs/" + ids[0];
    JournalHeader header;
    ASSERT_TRUE(DecodeHeader(fs.Read(first + "/run"), &header).ok());
    EXPECT_EQ("old", header.find);
    EXPECT_EQ("new", header.replace);
    EXPECT_EQ("old\n", fs.Read(first + "/old/1"));
  }
}

TEST(RunJournalTest, JournalThatCannotBeBegunWalksNothing) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> tree;
    Op op;
    std::string path_part;
    std::string reason;  // after "cannot keep the undo journal in ..."
  };
  const std::string full = FaultFileSystem::DiskFull().reason();
  const Case cases[] = {
      {"the state folder is a file", {{"state", "a file\n"}}, Op::kListFolder,
       "never", "Not a directory"},
      {"no room for the settings", {}, Op::kSync, "/run",
       "cannot write the run's settings: " + full},
      {"the run's folder cannot be made", {}, Op::kCreateFolder,
       "state/runs/", "cannot make the run's folder: " + full},
      {"the journal folder cannot be made", {}, Op::kCreateFolder,
       "state/runs", full},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, std::string> tree = c.tree;
    tree["tree/a.txt"] = "old\n";
    MemoryFileSystem memory(tree);
    FaultFileSystem fs(&memory);
    fs.FailNext(c.op, c.path_part, FaultFileSystem::DiskFull());
    TestEngine engine(&fs);
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.settings.state_folder = "state";
    engine.ProcessFolder("tree");
    EXPECT_TRUE(engine.problems().journal);
    EXPECT_EQ(std::vector<std::string>{"cannot keep the undo journal in "
                                       "state/runs: " + c.reason},
              engine.reports);
    EXPECT_EQ("old\n", memory.Read("tree/a.txt"));
    EXPECT_EQ(0u, engine.last_progress.files_looked_at);
    EXPECT_TRUE(RunIds(memory).empty());  // nothing half-made is left
  }
}

std::map<std::string, std::string> ManyFiles(int count) {
  std::map<std::string, std::string> tree;
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "tree/f%03d.txt", i);
    tree[name] = "old\n";
  }
  return tree;
}

// A journal that fails mid-run: no file of the batch it failed for is
// changed, each says why, and the run stops there.
TEST(RunJournalTest, FailedJournalWriteChangesNoneOfTheBatchAndStops) {
  const std::string why =
      "cannot write the undo journal: " + FaultFileSystem::DiskFull().reason();
  for (Op op : {Op::kAppend, Op::kSync}) {
    SCOPED_TRACE(static_cast<int>(op));
    std::map<std::string, std::string> tree = ManyFiles(100);
    tree["tree/f005-old.name"] = "nothing\n";  // a new name alone
    MemoryFileSystem memory(tree);
    FaultFileSystem fs(&memory);
    fs.FailNext(op, "/changes", FaultFileSystem::DiskFull());
    TestEngine engine(&fs);
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.settings.state_folder = "state";
    engine.ProcessFolder("tree");

    EXPECT_TRUE(engine.problems().journal);
    const Journal journal = ReadJournal(memory);
    ASSERT_EQ(1u, engine.reports.size());
    EXPECT_EQ("cannot keep the undo journal in " + journal.folder + ": " +
                  FaultFileSystem::DiskFull().reason(),
              engine.reports[0]);
    // Stopped after its first batch.
    EXPECT_LT(engine.last_progress.files_looked_at, 80u);
    EXPECT_FALSE(engine.files.empty());
    for (const std::string& path : engine.files) {
      if (path == "tree/f005-old.name") {
        EXPECT_EQ(std::vector<std::string>{NameFailureEntry("f005-new.name",
                                                            why)},
                  Entries(engine, path));
      } else {
        EXPECT_EQ(std::vector<std::string>{TextFailureEntry(why)},
                  Entries(engine, path));
      }
    }
    tree["tree/f005-old.name"] = "nothing\n";
    std::map<std::string, std::string> after = memory.Snapshot("tree");
    for (const auto& [path, content] : tree)
      EXPECT_EQ(content, after[path.substr(5)]) << path;
    EXPECT_EQ(tree.size(), after.size());  // no temporary file left
    ASSERT_TRUE(journal.ended);
    EXPECT_TRUE(journal.end.stopped);
  }
}

// What a batch will change is on the disk before its first file changes:
// one sync of the records for each batch, not one for each file.
TEST(RunJournalTest, BatchRecordsAreSyncedBeforeItsFilesChange) {
  struct Case {
    const char* name;
    std::string content;  // of every file, named f000.txt ... f069.txt
    std::string replace;
    std::string change;   // the call that changes a file
  };
  const Case cases[] = {
      {"new texts", "old\n", "new", "Exchange "},
      {"new names alone", "nothing\n", "", "RenameNoReplace "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, std::string> tree;
    for (const auto& [path, content] : ManyFiles(70))
      tree[path.substr(0, path.size() - 4) + "-f.txt"] = c.content;
    MemoryFileSystem memory(tree);
    FaultFileSystem fs(&memory);
    TestEngine engine(&fs);
    engine.settings.find = c.replace.empty() ? "-f" : "old";
    engine.settings.replace = c.replace;
    engine.settings.state_folder = "state";
    engine.ProcessFolder("tree");
    EXPECT_FALSE(engine.problems().any());
    EXPECT_EQ(70u, engine.files.size());

    // The syncs of the records and the changes, in order, counted.
    std::string order;
    char last = 0;
    int run = 0;
    auto flush = [&] {
      if (run > 0) order += last + std::to_string(run) + " ";
    };
    for (const std::string& call : fs.calls()) {
      char kind = 0;
      if (call.rfind("Sync ", 0) == 0 &&
          call.size() > 8 && call.compare(call.size() - 8, 8, "/changes") == 0)
        kind = 'S';
      if (call.rfind(c.change, 0) == 0 &&
          call.find("state/") == std::string::npos)
        kind = 'C';
      if (!kind) continue;
      if (kind != last) {
        flush();
        last = kind;
        run = 0;
      }
      ++run;
    }
    flush();
    EXPECT_EQ("S1 C64 S1 C6 S1 ", order);
  }
}

// Where names cannot be swapped, the old file goes into the journal
// first and the new text takes its name after; should that fail, the old
// file comes back.
TEST(RunJournalTest, WithoutSwapsOldFileMovesOutFirst) {
  const Status unsupported =
      Status::Error(Status::Code::kNotSupported, "not supported");
  for (bool rename_fails : {false, true}) {
    SCOPED_TRACE(rename_fails);
    MemoryFileSystem memory(Tree{{"tree/a.txt", "old\n"}});
    const FileInfo before = memory.Info("tree/a.txt");
    FaultFileSystem fs(&memory);
    fs.FailAlways(Op::kExchange, "", unsupported);
    if (rename_fails)
      fs.FailNext(Op::kRenameNoReplace, "a.txt", FaultFileSystem::IoError());
    TestEngine engine(&fs);
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.settings.state_folder = "state";
    engine.ProcessFolder("tree");
    const Journal journal = ReadJournal(memory);
    const std::string old_path = journal.folder + "/old/1";
    if (rename_fails) {
      EXPECT_EQ("old\n", memory.Read("tree/a.txt"));
      ExpectSameVersion(before, memory.Info("tree/a.txt"));
      EXPECT_FALSE(memory.Exists(old_path));
      EXPECT_EQ(std::vector<std::string>{TextFailureEntry(
                    FaultFileSystem::IoError().reason())},
                Entries(engine, "tree/a.txt"));
    } else {
      EXPECT_EQ("new\n", memory.Read("tree/a.txt"));
      ExpectSameVersion(before, memory.Info(old_path));
      EXPECT_FALSE(engine.problems().any());
    }
    EXPECT_EQ(1u, memory.Snapshot("tree").size());  // no temporary file
  }
}

// An old version the journal cannot take: the change stands, and the
// run tells that it cannot be undone for that file.
TEST(RunJournalTest, OldVersionNotKeptIsTold) {
  MemoryFileSystem memory(Tree{{"tree/a.txt", "old\n"}});
  FaultFileSystem fs(&memory);
  fs.FailNext(Op::kMoveNoReplace, "/old/", FaultFileSystem::IoError());
  TestEngine engine(&fs);
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.settings.state_folder = "state";
  engine.ProcessFolder("tree");
  EXPECT_EQ("new\n", memory.Read("tree/a.txt"));
  EXPECT_EQ(1, engine.problems().old_texts_lost);
  EXPECT_EQ(std::vector<std::string>{"cannot keep the old version of "
                                     "tree/a.txt for undo: " +
                                     FaultFileSystem::IoError().reason()},
            engine.reports);
  EXPECT_EQ(1u, memory.Snapshot("tree").size());  // no temporary file
  EXPECT_FALSE(memory.Exists(ReadJournal(memory).folder + "/old/1"));
}

// On the disk: the old file in the journal is the very inode the tree
// held, and the record's after is what the tree holds now.
TEST(RunJournalTest, OnTheDiskOldFileIsTheVeryInode) {
  TempFolder tree;
  TempFolder state;
  tree.Write("sub/a.txt", "old\n");
  ASSERT_EQ(0, chmod(tree.Path("sub/a.txt").c_str(), 0604));
  struct stat before;
  ASSERT_EQ(0, lstat(tree.Path("sub/a.txt").c_str(), &before));
  TestEngine engine;
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.settings.state_folder = state.Path("vellumshaper");
  engine.ProcessFolder(tree.path());
  EXPECT_FALSE(engine.problems().any());
  EXPECT_EQ("new\n", tree.Read("sub/a.txt"));

  const std::string run = "vellumshaper/runs/" +
                          engine.engine().journal_summary().id;
  struct stat old, now, folder, changes_file;
  ASSERT_EQ(0, lstat(state.Path(run + "/old/1").c_str(), &old));
  EXPECT_EQ(before.st_ino, old.st_ino);
  EXPECT_EQ(0604u, old.st_mode & 07777);
  EXPECT_EQ("old\n", state.Read(run + "/old/1"));
  ASSERT_EQ(0, lstat(state.Path(run).c_str(), &folder));
  EXPECT_EQ(0700u, folder.st_mode & 07777);
  ASSERT_EQ(0, lstat(state.Path(run + "/changes").c_str(), &changes_file));
  EXPECT_EQ(0600u, changes_file.st_mode & 07777);

  JournalChanges changes;
  ASSERT_TRUE(DecodeChanges(state.Read(run + "/changes"), &changes).ok());
  ASSERT_EQ(1u, changes.records.size());
  const JournalRecord& record = changes.records[0];
  EXPECT_EQ("sub", record.folder);
  ASSERT_EQ(0, lstat(tree.Path("sub/a.txt").c_str(), &now));
  EXPECT_EQ(now.st_ino, record.after.inode);
  EXPECT_EQ(static_cast<std::uint64_t>(now.st_size), record.after.size);
  EXPECT_EQ(before.st_ino, record.before.inode);
  JournalHeader header;
  ASSERT_TRUE(DecodeHeader(state.Read(run + "/run"), &header).ok());
  EXPECT_EQ(tree.path(), header.base_dir);
  EXPECT_TRUE(state.Exists(run + "/end"));
}

}  // namespace
}  // namespace vs::test
