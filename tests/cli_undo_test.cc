// --undo, --list-runs, --show-run and --forget of the real binary, on
// journals made by hand in the test's own $XDG_STATE_HOME.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "engine/change_entry.h"
#include "tests/cli_runner.h"
#include "tests/hand_journal.h"
#include "tests/temp_folder.h"

namespace vs {
namespace {

using test::HandJournal;
using test::Listing;
using test::Outcome;
using test::RunProgram;

constexpr char kOlder[] = "20261210-100000-1";
constexpr char kNewer[] = "20261210-110000-2";

class CliUndoTest : public testing::Test {
 protected:
  // The journal folder of the state folder each test is given.
  static std::string Runs() {
    return std::string(std::getenv("XDG_STATE_HOME")) + "/vellumshaper/runs";
  }

  // Two runs over the tree: the older rewrote a.txt, the newer renamed
  // foo.txt and rewrote b.txt.
  void TwoRuns() {
    tree_.Write("a.txt", "foo\n");
    tree_.Write("b.txt", "foo\n");
    tree_.Write("foo.txt", "x\n");
    before_ = tree_.Snapshot();
    HandJournal older(tree_.path(), Runs(), kOlder);
    older.Change("", "a.txt", "bar\n");
    older.Write();
    HandJournal newer(tree_.path(), Runs(), kNewer);
    newer.Change("", "foo.txt", std::nullopt, "bar.txt");
    newer.Change("", "b.txt", "bar\n");
    newer.Write();
  }

  test::TempFolder tree_;
  test::Tree before_;
};

// Each --undo takes the latest run not undone yet; the listing tells what
// came back; then there is none left.
TEST_F(CliUndoTest, UndoRestoresTheTreeAndMarksTheRunUndone) {
  TwoRuns();
  Outcome first = RunProgram({"--undo"});
  EXPECT_EQ(0, first.status) << first.err;
  EXPECT_EQ(Listing(tree_.path(), {"b.txt", "\tRestored Text", "bar.txt",
                                   "\tRestored File Name: foo.txt"}),
            first.out);
  EXPECT_EQ("", first.err);
  EXPECT_EQ("bar\n", tree_.Read("a.txt"));  // the older run's, still

  Outcome named_again = RunProgram({"--undo", kNewer});
  EXPECT_EQ(2, named_again.status);
  EXPECT_EQ("vellumshaper-cli: run " + std::string(kNewer) +
                " was undone already\n",
            named_again.err);

  Outcome second = RunProgram({"--undo", "--json"});
  EXPECT_EQ(0, second.status) << second.err;
  EXPECT_NE(std::string::npos,
            second.out.find("\"new_name\":null,\"failures\":[],"
                            "\"restored_text\":true}"))
      << second.out;
  EXPECT_EQ(before_, tree_.Snapshot());

  Outcome none = RunProgram({"--undo"});
  EXPECT_EQ(2, none.status);
  EXPECT_EQ("vellumshaper-cli: no run to undo: every run kept was undone "
            "already\n",
            none.err);
}

// What cannot go back is listed with its reason and fails the undo; a
// dry run says so too and changes nothing.
TEST_F(CliUndoTest, AFileChangedSinceTheRunFailsTheUndo) {
  TwoRuns();
  tree_.Write("b.txt", "mine\n");
  const std::string listing =
      Listing(tree_.path(), {"b.txt", "\tFailed to restore (changed since the run)",
                             "bar.txt", "\tRestored File Name: foo.txt"});
  const test::Tree changed = tree_.Snapshot();

  Outcome dry = RunProgram({"--undo", "--dry-run"});
  EXPECT_EQ(1, dry.status);
  EXPECT_EQ(listing, dry.out);
  EXPECT_EQ(changed, tree_.Snapshot());

  Outcome undo = RunProgram({"--undo"});
  EXPECT_EQ(1, undo.status);
  EXPECT_EQ(listing, undo.out);
  EXPECT_EQ("mine\n", tree_.Read("b.txt"));
  EXPECT_EQ("x\n", tree_.Read("foo.txt"));
}

TEST_F(CliUndoTest, ListShowAndForgetRuns) {
  Outcome empty = RunProgram({"--list-runs"});
  EXPECT_EQ(0, empty.status);
  EXPECT_EQ("", empty.out);

  TwoRuns();
  test::WriteFile(Runs() + "/" + kNewer + "/undone", "1\n");
  Outcome listed = RunProgram({"--list-runs"});
  EXPECT_EQ(0, listed.status) << listed.err;
  // Start times are the test's own: compare the fields around them.
  const std::size_t second_line = listed.out.find('\n') + 1;
  EXPECT_EQ(0u, listed.out.find(std::string(kOlder) + "\t"));
  EXPECT_NE(std::string::npos,
            listed.out.find("\t" + tree_.path() + "\tfoo \u2192 bar\t"
                            "1 changed, 0 renamed\tfinished\t4 bytes held\n"));
  EXPECT_EQ(second_line, listed.out.find(std::string(kNewer) + "\t"));
  EXPECT_NE(std::string::npos,
            listed.out.find("1 changed, 1 renamed\tfinished, undone\t"
                            "4 bytes held\n"));

  Outcome shown = RunProgram({"--show-run", kNewer});
  EXPECT_EQ(0, shown.status) << shown.err;
  EXPECT_EQ(Listing(tree_.path(), {"b.txt", "\tLine 1: bar", "foo.txt",
                                   "\tChanged File Name to: bar.txt"}),
            shown.out);

  Outcome forgot = RunProgram({"--forget", kOlder});
  EXPECT_EQ(0, forgot.status) << forgot.err;
  Outcome again = RunProgram({"--forget", kOlder});
  EXPECT_EQ(2, again.status);
  EXPECT_EQ("vellumshaper-cli: no run " + std::string(kOlder) + "\n",
            again.err);
  EXPECT_EQ(2, RunProgram({"--show-run", kOlder}).status);
  EXPECT_EQ(0u, RunProgram({"--list-runs"}).out.find(kNewer));

  EXPECT_EQ(0, RunProgram({"--forget", "all"}).status);
  EXPECT_EQ("", RunProgram({"--list-runs"}).out);
  Outcome none = RunProgram({"--undo"});
  EXPECT_EQ(2, none.status);
  EXPECT_EQ("vellumshaper-cli: no run to undo: the journal keeps none\n",
            none.err);
}

// A damaged journal is listed as such and refused by --undo, which
// changes nothing.
TEST_F(CliUndoTest, ADamagedJournalIsListedAndRefused) {
  TwoRuns();
  test::WriteFile(Runs() + "/" + kNewer + "/changes", "file\t1\t..\n");
  const test::Tree tree = tree_.Snapshot();
  Outcome listed = RunProgram({"--list-runs"});
  EXPECT_NE(std::string::npos,
            listed.out.find(std::string(kNewer) + "\tdamaged journal: "))
      << listed.out;
  Outcome undo = RunProgram({"--undo"});
  EXPECT_EQ(1, undo.status);
  EXPECT_NE(std::string::npos, undo.err.find("damaged journal")) << undo.err;
  EXPECT_EQ("", undo.out);
  EXPECT_EQ(tree, tree_.Snapshot());
}

// A real run, then --undo: once runs keep their journal, the tree comes
// back as it was. (Skipped while a run leaves no journal.)
TEST_F(CliUndoTest, ARunThenItsUndo) {
  tree_.Write("a.txt", "foo\n");
  tree_.Write("foo.txt", "foo\n");
  const test::Tree before = tree_.Snapshot();
  Outcome run = RunProgram({"-f", "foo", "-r", "bar", tree_.path()});
  ASSERT_EQ(0, run.status) << run.err;
  if (access(Runs().c_str(), F_OK) != 0)
    GTEST_SKIP() << "the run kept no journal";
  Outcome undo = RunProgram({"--undo"});
  EXPECT_EQ(0, undo.status) << undo.err;
  EXPECT_EQ(before, tree_.Snapshot());
}

}  // namespace
}  // namespace vs
