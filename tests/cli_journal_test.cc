// The command line keeps an undo journal of every run that writes, in
// the user's state folder, and says when it cannot.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/journal_records.h"
#include "tests/cli_runner.h"
#include "tests/temp_folder.h"

namespace vs {
namespace {

using test::Outcome;
using test::RunProgram;

class CliJournalTest : public testing::Test {
 protected:
  // Points the runs' state folder home at `home`.
  void UseStateHome(const std::string& home) {
    ASSERT_EQ(0, setenv("XDG_STATE_HOME", home.c_str(), 1));
  }
  // The ids of the runs kept below `home`.
  static std::vector<std::string> RunIds(const test::TempFolder& home) {
    std::vector<std::string> ids;
    for (const auto& [path, content] : home.Snapshot()) {
      const std::string prefix = "vellumshaper/runs/";
      if (path.rfind(prefix, 0) == 0 &&
          path.find('/', prefix.size()) == std::string::npos)
        ids.push_back(path.substr(prefix.size()));
    }
    return ids;
  }

  test::TempFolder tree_;
  test::TempFolder state_;
};

TEST_F(CliJournalTest, RealRunKeepsAJournalADryRunOrAnIdleRunNone) {
  UseStateHome(state_.path());
  tree_.Write("a.txt", "foo\n");
  Outcome dry = RunProgram({"-n", "-f", "foo", "-r", "bar", tree_.path()});
  EXPECT_EQ(0, dry.status) << dry.err;
  EXPECT_TRUE(RunIds(state_).empty());

  Outcome run = RunProgram({"-f", "foo", "-r", "bar", tree_.path()});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("", run.err);
  const std::vector<std::string> ids = RunIds(state_);
  ASSERT_EQ(1u, ids.size());
  const std::string folder = "vellumshaper/runs/" + ids[0];
  JournalChanges changes;
  ASSERT_TRUE(
      DecodeChanges(state_.Read(folder + "/changes"), &changes).ok());
  ASSERT_EQ(1u, changes.records.size());
  EXPECT_EQ("a.txt", changes.records[0].name);
  EXPECT_EQ("foo\n", state_.Read(folder + "/old/1"));
  EXPECT_TRUE(state_.Exists(folder + "/end"));

  // A run that finds nothing to change keeps nothing.
  Outcome nothing = RunProgram({"-f", "absent", "-r", "x", tree_.path()});
  EXPECT_EQ(0, nothing.status) << nothing.err;
  EXPECT_EQ(ids, RunIds(state_));
}

// A journal that cannot be begun is no run: nothing changes, and the
// reason is told as for settings that cannot run.
TEST_F(CliJournalTest, JournalThatCannotBeBegunStopsTheRun) {
  state_.Write("home", "a file, not a folder\n");
  UseStateHome(state_.Path("home"));
  tree_.Write("a.txt", "foo\n");
  Outcome run = RunProgram({"-f", "foo", "-r", "bar", tree_.path()});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("vellumshaper-cli: cannot keep the undo journal in " +
                state_.Path("home") + "/vellumshaper/runs: Not a directory\n",
            run.err);
  EXPECT_EQ("foo\n", tree_.Read("a.txt"));
}

// On another file system the old texts are copied, which costs their
// space: the run says so once. The undo puts the copies back, with their
// bytes and mode.
TEST_F(CliJournalTest, CopiedOldTextsAreToldOnceAndComeBack) {
  char shm[] = "/dev/shm/vellumshaper-journal-XXXXXX";
  struct stat tree_stat, shm_stat;
  if (mkdtemp(shm) == nullptr || stat(shm, &shm_stat) != 0 ||
      stat(tree_.path().c_str(), &tree_stat) != 0 ||
      shm_stat.st_dev == tree_stat.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  UseStateHome(shm);
  tree_.Write("a.txt", "foo\n");
  tree_.Write("b.txt", std::string(3000, 'x') + "foo\n");
  chmod(tree_.Path("b.txt").c_str(), 0640);
  const auto before = tree_.Snapshot();
  Outcome run = RunProgram({"-f", "foo", "-r", "bar", tree_.path()});
  Outcome undo = RunProgram({"--undo"});
  struct stat b_stat;
  const bool b_there = stat(tree_.Path("b.txt").c_str(), &b_stat) == 0;
  test::RunCommand({"rm", "-rf", shm}, "/");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("vellumshaper-cli: the undo journal is on another file system "
            "than the tree: 2.9 KiB of old text were copied into it\n",
            run.err);
  EXPECT_EQ(0, undo.status) << undo.err;
  EXPECT_EQ(before, tree_.Snapshot());
  ASSERT_TRUE(b_there);
  EXPECT_EQ(0640u, b_stat.st_mode & 07777);
}

}  // namespace
}  // namespace vs
