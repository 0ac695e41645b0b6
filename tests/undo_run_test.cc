// The undo of a run, on a real tree with a journal made by hand: what
// comes back, what is left alone, an undo cut short and run again, and
// journals that lie.
#include "engine/undo_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/change_entry.h"
#include "engine/file_names.h"
#include "tests/fault_file_system.h"
#include "tests/hand_journal.h"
#include "tests/temp_folder.h"

namespace vs {
namespace {

using test::FaultFileSystem;
using test::HandJournal;
using test::InfoOf;
using test::TempFolder;

constexpr char kId[] = "20261211-004512-100";

// Keeps what an undo tells: "PATH: ENTRY | ENTRY" a file.
class Told : public RunObserver {
 public:
  void OnFileChanged(const std::string& path,
                     const ChangeList& changes) override {
    std::string line = path + ":";
    for (const std::string& entry : changes) line += " " + entry + " |";
    lines.push_back(line);
  }
  std::vector<std::string> lines;
};

// Which file each path is and its mode: an undo must give back the very
// files, not copies of their bytes.
std::map<std::string, std::pair<ino_t, mode_t>> Identities(
    const TempFolder& tree) {
  std::map<std::string, std::pair<ino_t, mode_t>> ids;
  for (const auto& [path, content] : tree.Snapshot()) {
    if (content == "<dir>") continue;
    const FileInfo info = InfoOf(tree.Path(path));
    ids[path] = {info.inode, info.mode};
  }
  return ids;
}

class UndoRunTest : public ::testing::Test {
 protected:
  UndoRunTest() : journal_(tree_.path(), Runs(), kId) {}

  std::string Runs() const { return state_.path() + "/runs"; }
  std::string In(const std::string& relative) const {
    return tree_.Path(relative);
  }

  // Undoes the run through `fs`; its observer's lines go to `told_`.
  Status Undo(FileSystem* fs = RealFileSystem(), bool dry_run = false) {
    UndoRun undo(&told_, fs);
    Status status = undo.Undo(Runs(), kId, dry_run);
    failures_ = undo.failures();
    return status;
  }

  TempFolder tree_;
  TempFolder state_;
  HandJournal journal_;
  Told told_;
  std::uint64_t failures_ = 0;
};

// A text change, a rename, both at once in a subfolder, a binary file,
// an odd mode, and a change that failed in the run: all back as they
// were, the very files, and the run marked undone.
TEST_F(UndoRunTest, GivesTheTreeBackExactly) {
  tree_.Write("a.txt", "foo\n");
  tree_.Write("foo.txt", "unchanged text\n");
  tree_.Write("sub/foo.c", "int foo;\n");
  tree_.Write("bin.dat", std::string("\0foo\xff\n", 6));
  tree_.Write("locked.txt", "foo\n");
  ASSERT_EQ(0, chmod(In("sub/foo.c").c_str(), 0751));
  const auto before = tree_.Snapshot();
  const auto identities = Identities(tree_);

  journal_.Change("", "a.txt", "bar\n");
  journal_.Change("", "foo.txt", std::nullopt, "bar.txt");
  journal_.Change("sub", "foo.c", "int bar;\n", "bar.c");
  journal_.Change("", "bin.dat", std::string("\0bar\xff\n", 6));
  journal_.Unmade("", "locked.txt", "bar\n",
                  {TextFailureEntry("Permission denied")});
  journal_.Write();
  ASSERT_NE(before, tree_.Snapshot());

  ASSERT_TRUE(Undo().ok());
  EXPECT_EQ(before, tree_.Snapshot());
  EXPECT_EQ(identities, Identities(tree_));
  EXPECT_EQ(0u, failures_);
  // Last changed first, each under its path after the run.
  EXPECT_EQ((std::vector<std::string>{
                In("bin.dat") + ": Restored Text |",
                In("sub/bar.c") +
                    ": Restored Text | Restored File Name: foo.c |",
                In("bar.txt") + ": Restored File Name: foo.txt |",
                In("a.txt") + ": Restored Text |",
            }),
            told_.lines);
  EXPECT_EQ(0, access((journal_.run_folder() + "/undone").c_str(), F_OK));

  Status again = Undo();
  EXPECT_EQ("run " + std::string(kId) + " was undone already",
            again.reason());
  EXPECT_EQ(before, tree_.Snapshot());
}

// Whatever is no longer as the run left it stays as it is now, listed
// with the reason; the other files of the run still come back.
TEST_F(UndoRunTest, LeavesAloneWhatIsNoLongerAsTheRunLeftIt) {
  struct Case {
    const char* name;
    std::function<void(const TempFolder&)> after_run;
    std::string entry;  // of foo.txt, renamed to bar.txt with new text
  };
  const std::vector<Case> cases = {
      {"edited", [](const TempFolder& t) { t.Write("bar.txt", "mine\n"); },
       "Failed to restore (changed since the run)"},
      {"removed", [](const TempFolder& t) { unlink(t.Path("bar.txt").c_str()); },
       "Failed to restore (changed since the run)"},
      {"replaced by a link",
       [](const TempFolder& t) {
         unlink(t.Path("bar.txt").c_str());
         symlink("a.txt", t.Path("bar.txt").c_str());
       },
       "Failed to restore (changed since the run)"},
      {"old name taken",
       [](const TempFolder& t) { t.Write("foo.txt", "new file\n"); },
       "Failed to restore File Name: foo.txt (name taken)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tree, state;
    HandJournal journal(tree.path(), state.path() + "/runs", kId);
    tree.Write("a.txt", "foo\n");
    tree.Write("foo.txt", "foo\n");
    journal.Change("", "a.txt", "bar\n");
    journal.Change("", "foo.txt", "bar\n", "bar.txt");
    journal.Write();
    c.after_run(tree);
    auto expected = tree.Snapshot();
    expected["a.txt"] = "foo\n";

    Told told;
    UndoRun undo(&told, RealFileSystem());
    ASSERT_TRUE(undo.Undo(state.path() + "/runs", kId, false).ok());
    EXPECT_EQ(expected, tree.Snapshot());
    EXPECT_EQ(1u, undo.failures());
    EXPECT_EQ((std::vector<std::string>{
                  tree.Path("bar.txt") + ": " + c.entry + " |",
                  tree.Path("a.txt") + ": Restored Text |"}),
              told.lines);
    // The old version stays in the journal, for nothing was put back.
    EXPECT_EQ("foo\n", test::ReadFile(journal.OldPath(2)));
  }
}

// An undo cut short just before any of its steps (the process dies: the
// hook throws out of it) finishes when run again, and the tree is as
// before the run: the same files, no temporary file left.
TEST_F(UndoRunTest, AnUndoCutShortFinishesWhenRunAgain) {
  struct Cut {
    FaultFileSystem::Op op;
    const char* path_part;
    int nth;  // the call of that op and path it dies before, from 1
  };
  using Op = FaultFileSystem::Op;
  const std::vector<Cut> cuts = {
      {Op::kMoveNoReplace, "/old/", 1},  // the first old version in
      {Op::kHoldForReplace, "a.txt", 1},
      {Op::kExchange, "a.txt", 1},
      {Op::kRemove, ".vellumshaper-a.txt", 1},  // the run's version, out
      {Op::kMoveNoReplace, "/old/", 2},
      {Op::kRenameNoReplace, "sub/.vellumshaper-foo.c", 1},  // old name back
      {Op::kRemove, "sub/bar.c", 1},  // the renamed file's new text, gone
      {Op::kRenameNoReplace, "bar.txt", 1},  // a rename undone
      {Op::kCreateExclusive, "undone", 1},
  };
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(std::string(cut.path_part) + " #" + std::to_string(cut.nth));
    TempFolder tree, state;
    const std::string runs = state.path() + "/runs";
    HandJournal journal(tree.path(), runs, kId);
    tree.Write("a.txt", "foo\n");
    tree.Write("foo.txt", "keep\n");
    tree.Write("sub/foo.c", "foo\n");
    const auto before = tree.Snapshot();
    const auto identities = Identities(tree);
    journal.Change("", "a.txt", "bar\n");
    journal.Change("", "foo.txt", std::nullopt, "bar.txt");
    journal.Change("sub", "foo.c", "bar\n", "bar.c");
    journal.Write();

    FaultFileSystem fs;
    int calls = 0;
    fs.Before(cut.op, cut.path_part, [&calls, &cut] {
      if (++calls == cut.nth) throw std::runtime_error("killed");
    });
    Told told;
    UndoRun cut_short(&told, &fs);
    EXPECT_THROW(cut_short.Undo(runs, kId, false), std::runtime_error);
    EXPECT_GE(calls, cut.nth);

    UndoRun again(&told, RealFileSystem());
    ASSERT_TRUE(again.Undo(runs, kId, false).ok());
    EXPECT_EQ(0u, again.failures());
    EXPECT_EQ(before, tree.Snapshot());
    EXPECT_EQ(identities, Identities(tree));
    EXPECT_EQ(0, access((journal.run_folder() + "/undone").c_str(), F_OK));
  }
}

// Where the journal is on another file system than the tree, the run
// copies the old version: it comes back with its bytes and mode, and an
// undo cut short after the swap does not take its own copy for a change
// made since the run.
TEST_F(UndoRunTest, ACopiedOldVersionComesBackOnce) {
  tree_.Write("a.txt", "foo\nold\n");
  tree_.Write("b.txt", "foo\n");
  ASSERT_EQ(0, chmod(In("a.txt").c_str(), 0604));
  journal_.Change("", "a.txt", "bar\nold\n", "", /*copied=*/true);
  journal_.Change("", "b.txt", "bar\n", "", /*copied=*/true);
  journal_.Write();

  FaultFileSystem fs;
  fs.Before(FaultFileSystem::Op::kRemove, ".vellumshaper-a.txt", [] {
    throw std::runtime_error("killed");
  });
  EXPECT_THROW(Undo(&fs), std::runtime_error);
  EXPECT_EQ("foo\nold\n", tree_.Read("a.txt"));
  told_.lines.clear();

  ASSERT_TRUE(Undo().ok());
  EXPECT_EQ(0u, failures_);
  EXPECT_EQ((std::map<std::string, std::string>{{"a.txt", "foo\nold\n"},
                                                {"b.txt", "foo\n"}}),
            tree_.Snapshot());
  EXPECT_EQ(0604u, InfoOf(In("a.txt")).mode);
  // a.txt was done before the cut: nothing left to tell of it.
  EXPECT_EQ((std::vector<std::string>{}), told_.lines);
}

// A run killed after a swap, with the old file still under the run's
// temporary name and no entries, and after a record whose change it
// never made: undone whole.
TEST_F(UndoRunTest, UndoesAKilledRun) {
  tree_.Write("a.txt", "foo\n");
  tree_.Write("b.txt", "foo\n");
  tree_.Write("c.txt", "foo\n");
  const auto before = tree_.Snapshot();
  const auto identities = Identities(tree_);
  journal_.Change("", "a.txt", "bar\n");
  journal_.KilledAfterSwap("", "b.txt", "bar\n");
  journal_.Unmade("", "c.txt", "bar\n");
  journal_.Write(/*ended=*/false);
  ASSERT_TRUE(tree_.Exists(TemporaryName("b.txt", 0)));

  ASSERT_TRUE(Undo().ok());
  EXPECT_EQ(0u, failures_);
  EXPECT_EQ(before, tree_.Snapshot());
  EXPECT_EQ(identities, Identities(tree_));
  EXPECT_EQ((std::vector<std::string>{In("b.txt") + ": Restored Text |",
                                      In("a.txt") + ": Restored Text |"}),
            told_.lines);
}

// A journal that was damaged or edited gets an error before anything
// changes, in the tree, outside it, or in the journal.
TEST_F(UndoRunTest, RefusesATamperedJournalAndChangesNothing) {
  struct Case {
    const char* name;
    // Edits the journal (or the tree) after the run.
    std::function<void(HandJournal*, const TempFolder& tree,
                       const TempFolder& outside)>
        tamper;
  };
  auto replace_in_changes = [](HandJournal* j, const std::string& from,
                               const std::string& to) {
    const std::size_t at = j->changes.find(from);
    if (at == std::string::npos) throw std::runtime_error("no " + from);
    j->changes.replace(at, from.size(), to);
  };
  const std::vector<Case> cases = {
      {"a folder of ..",
       [&](HandJournal* j, const TempFolder&, const TempFolder&) {
         replace_in_changes(j, "\tsub\t", "\tsub/..\t");
       }},
      {"an absolute name",
       [&](HandJournal* j, const TempFolder& t, const TempFolder&) {
         replace_in_changes(j, "\ta.txt\t", "\t" + t.Path("a.txt") + "\t");
       }},
      {"a base folder that is not absolute",
       [](HandJournal* j, const TempFolder&, const TempFolder&) {
         j->header.base_dir = "tree";
       }},
      {"a folder that is a link in the tree",
       [](HandJournal*, const TempFolder& t, const TempFolder& outside) {
         // The tree's sub goes elsewhere; a link to it takes its place.
         rename(t.Path("sub").c_str(), outside.Path("sub").c_str());
         symlink(outside.Path("sub").c_str(), t.Path("sub").c_str());
       }},
      {"an old version that is not the old file",
       [](HandJournal* j, const TempFolder&, const TempFolder&) {
         unlink(j->OldPath(1).c_str());
         test::WriteFile(j->OldPath(1), "evil\n");
       }},
      {"two records of one file",
       [](HandJournal* j, const TempFolder&, const TempFolder&) {
         const std::size_t second = j->changes.find("file\t2\t");
         const std::size_t end = j->changes.find('\n', second);
         std::string line = j->changes.substr(second, end + 1 - second);
         line.replace(0, 7, "file\t9\t");
         j->changes += line;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tree, state, outside;
    const std::string runs = state.path() + "/runs";
    HandJournal journal(tree.path(), runs, kId);
    tree.Write("a.txt", "foo\n");
    tree.Write("sub/foo.txt", "foo\n");
    journal.Change("", "a.txt", "bar\n");
    journal.Change("sub", "foo.txt", "bar\n", "bar.txt");
    c.tamper(&journal, tree, outside);
    journal.Write();
    const auto tree_before = tree.Snapshot();
    const auto outside_before = outside.Snapshot();
    const auto journal_before = state.Snapshot();

    Told told;
    UndoRun undo(&told, RealFileSystem());
    Status status = undo.Undo(runs, kId, false);
    EXPECT_FALSE(status.ok());
    EXPECT_NE(std::string::npos, status.reason().find("damaged journal"))
        << status.reason();
    EXPECT_EQ(tree_before, tree.Snapshot());
    EXPECT_EQ(outside_before, outside.Snapshot());
    EXPECT_EQ(journal_before, state.Snapshot());
    EXPECT_TRUE(told.lines.empty());
  }
}

// A dry run tells what an undo would do, including what it would leave
// alone, and changes nothing; the undo after it does it all.
TEST_F(UndoRunTest, ADryRunTellsAndChangesNothing) {
  tree_.Write("a.txt", "foo\n");
  tree_.Write("foo.txt", "foo\n");
  tree_.Write("c.txt", "foo\n");
  journal_.Change("", "a.txt", "bar\n");
  journal_.Change("", "foo.txt", "bar\n", "bar.txt");
  journal_.Change("", "c.txt", "bar\n");
  journal_.Write();
  tree_.Write("c.txt", "edited\n");
  const auto tree_before = tree_.Snapshot();
  const auto journal_before = state_.Snapshot();

  ASSERT_TRUE(Undo(RealFileSystem(), /*dry_run=*/true).ok());
  EXPECT_EQ(tree_before, tree_.Snapshot());
  EXPECT_EQ(journal_before, state_.Snapshot());
  const std::vector<std::string> told = {
      In("c.txt") + ": Failed to restore (changed since the run) |",
      In("bar.txt") + ": Restored Text | Restored File Name: foo.txt |",
      In("a.txt") + ": Restored Text |"};
  EXPECT_EQ(told, told_.lines);

  told_.lines.clear();
  ASSERT_TRUE(Undo().ok());
  EXPECT_EQ(told, told_.lines);
  EXPECT_EQ("foo\n", tree_.Read("foo.txt"));
  EXPECT_FALSE(tree_.Exists("bar.txt"));
}

}  // namespace
}  // namespace vs
