// The runs the journal keeps: listed with what they did and how they
// ended (damaged ones too), forgotten, and pruned at a run's start.
#include "engine/past_runs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/change_entry.h"
#include "tests/hand_journal.h"
#include "tests/temp_folder.h"

namespace vs {
namespace {

using test::HandJournal;
using test::TempFolder;

class PastRunsTest : public ::testing::Test {
 protected:
  std::string Runs() const { return state_.path() + "/runs"; }

  std::vector<std::string> Ids() {
    std::vector<RunSummary> runs;
    EXPECT_TRUE(ListRuns(RealFileSystem(), Runs(), &runs).ok());
    std::vector<std::string> ids;
    for (const RunSummary& run : runs) ids.push_back(run.id);
    return ids;
  }

  // A run of `id` that changed nothing.
  void EmptyRun(const std::string& id, std::int64_t started) {
    HandJournal journal(tree_.path(), Runs(), id);
    journal.header.started = started;
    journal.Write();
  }

  TempFolder tree_;
  TempFolder state_;
};

TEST_F(PastRunsTest, ListsEveryRunWhatItDidAndHowItEnded) {
  std::vector<RunSummary> runs;
  ASSERT_TRUE(ListRuns(RealFileSystem(), Runs(), &runs).ok());
  EXPECT_TRUE(runs.empty());  // no journal yet: no runs, no error

  tree_.Write("a.txt", "foo foo\n");
  tree_.Write("foo.txt", "x\n");
  tree_.Write("b.txt", "foo\n");
  {
    HandJournal finished(tree_.path(), Runs(), "20261210-100000-1");
    finished.Change("", "a.txt", "bar bar\n");
    finished.Change("", "foo.txt", std::nullopt, "bar.txt");
    finished.Unmade("", "b.txt", "bar\n",
                    {TextFailureEntry("Permission denied")});
    finished.Write();
  }
  {
    HandJournal killed(tree_.path(), Runs(), "20261210-110000-2");
    killed.header.find = "bar";
    killed.header.replace = "baz";
    killed.Change("", "bar.txt", std::nullopt, "baz.txt");
    killed.Write(/*ended=*/false);
    test::WriteFile(killed.run_folder() + "/undone", "1\n");
  }
  {
    HandJournal damaged(tree_.path(), Runs(), "20261210-120000-3");
    damaged.Write();
    test::WriteFile(damaged.run_folder() + "/run", "not a journal\n");
  }
  {
    // Killed before its journal began: settings cut short, or on the
    // disk with no list of changes yet. It changed nothing; no such run.
    HandJournal cut(tree_.path(), Runs(), "20261210-130000-4");
    cut.Write();
    test::WriteFile(cut.run_folder() + "/run", "");
    ASSERT_EQ(0, unlink((cut.run_folder() + "/changes").c_str()));
    HandJournal unbegun(tree_.path(), Runs(), "20261210-130000-5");
    unbegun.Write();
    ASSERT_EQ(0, unlink((unbegun.run_folder() + "/changes").c_str()));
  }
  {
    // A forget cut short: old versions left, no record of them. Damaged,
    // to be forgotten again.
    HandJournal forgotten(tree_.path(), Runs(), "20261210-140000-6");
    forgotten.Write();
    test::WriteFile(forgotten.run_folder() + "/old/1", "foo\n");
    ASSERT_EQ(0, unlink((forgotten.run_folder() + "/changes").c_str()));
    ASSERT_EQ(0, unlink((forgotten.run_folder() + "/run").c_str()));
  }
  test::WriteFile(Runs() + "/stray-file", "");

  ASSERT_TRUE(ListRuns(RealFileSystem(), Runs(), &runs).ok());
  ASSERT_EQ(4u, runs.size());
  const RunSummary& first = runs[0];
  EXPECT_EQ("20261210-100000-1", first.id);
  EXPECT_FALSE(first.damaged());
  EXPECT_EQ(tree_.path(), first.header.base_dir);
  EXPECT_EQ("foo", first.header.find);
  EXPECT_EQ(RunEnding::kFinished, first.ending);
  EXPECT_EQ(1u, first.files_changed);  // the failed change does not count
  EXPECT_EQ(1u, first.files_renamed);
  EXPECT_FALSE(first.undone);
  EXPECT_EQ(std::string("foo foo\n").size(), first.old_bytes);

  const RunSummary& second = runs[1];
  EXPECT_EQ(RunEnding::kKilled, second.ending);
  EXPECT_TRUE(second.undone);
  EXPECT_EQ("bar", second.header.find);
  EXPECT_EQ(0u, second.files_changed);
  EXPECT_EQ(1u, second.files_renamed);
  EXPECT_EQ(0u, second.old_bytes);

  EXPECT_EQ("20261210-120000-3", runs[2].id);
  EXPECT_TRUE(runs[2].damaged());
  EXPECT_EQ("20261210-140000-6", runs[3].id);
  EXPECT_TRUE(runs[3].damaged());

  PastRun loaded;
  EXPECT_EQ(Status::Code::kNotFound,
            LoadRun(RealFileSystem(), Runs(), "20261210-130000-4", &loaded)
                .code());
  Status status =
      LoadRun(RealFileSystem(), Runs(), "20261210-120000-3", &loaded);
  EXPECT_NE(std::string::npos, status.reason().find("damaged journal"));
  ASSERT_TRUE(
      LoadRun(RealFileSystem(), Runs(), "20261210-100000-1", &loaded).ok());
  EXPECT_EQ(3u, loaded.changes.records.size());
  EXPECT_EQ((std::vector<std::string>{"Line 1: bar bar"}),
            loaded.changes.entries[1]);
}

// Undo's default: the newest run not undone, a damaged one included (to
// be refused), runs never begun and runs undone passed over.
TEST_F(PastRunsTest, LatestRunToUndoIsTheNewestNotUndone) {
  RunSummary run;
  bool found = true, any_kept = true;
  ASSERT_TRUE(
      LatestRunToUndo(RealFileSystem(), Runs(), &run, &found, &any_kept).ok());
  EXPECT_FALSE(found);
  EXPECT_FALSE(any_kept);

  tree_.Write("a.txt", "foo\n");
  {
    HandJournal older(tree_.path(), Runs(), "20261210-100000-1");
    older.Change("", "a.txt", "bar\n");
    older.Write();
  }
  const std::string damaged = Runs() + "/20261210-110000-2";
  {
    HandJournal journal(tree_.path(), Runs(), "20261210-110000-2");
    journal.Write();
    test::WriteFile(damaged + "/run", "not a journal\n");
  }
  {
    HandJournal undone(tree_.path(), Runs(), "20261210-120000-3");
    undone.Write();
    test::WriteFile(undone.run_folder() + "/undone", "1\n");
    HandJournal unbegun(tree_.path(), Runs(), "20261210-130000-4");
    unbegun.Write();
    ASSERT_EQ(0, unlink((unbegun.run_folder() + "/changes").c_str()));
  }

  struct Case {
    const char* step;
    const char* undone_file;  // marked undone before the lookup
    const char* expected;     // the run found, or nullptr for none
  };
  for (const Case& c : {
           Case{"damaged is newest", nullptr, "20261210-110000-2"},
           Case{"damaged undone", "/20261210-110000-2/undone",
                "20261210-100000-1"},
           Case{"all undone", "/20261210-100000-1/undone", nullptr},
       }) {
    SCOPED_TRACE(c.step);
    if (c.undone_file) test::WriteFile(Runs() + c.undone_file, "1\n");
    ASSERT_TRUE(
        LatestRunToUndo(RealFileSystem(), Runs(), &run, &found, &any_kept)
            .ok());
    EXPECT_TRUE(any_kept);
    EXPECT_EQ(c.expected != nullptr, found);
    if (!c.expected || !found) continue;
    EXPECT_EQ(c.expected, run.id);
    EXPECT_EQ(run.id == "20261210-110000-2", run.damaged());
    if (!run.damaged()) {
      EXPECT_EQ(1u, run.files_changed);
    }
  }
}

TEST_F(PastRunsTest, ForgetsOneRunOrNoneThatIsNotARun) {
  EmptyRun("20261210-100000-1", 1);
  tree_.Write("a.txt", "foo\n");
  {
    HandJournal kept_old(tree_.path(), Runs(), "20261210-100000-2");
    kept_old.Change("", "a.txt", "bar\n");
    kept_old.Write();
  }
  ASSERT_TRUE(ForgetRun(RealFileSystem(), Runs(), "20261210-100000-2").ok());
  EXPECT_EQ((std::vector<std::string>{"20261210-100000-1"}), Ids());
  EXPECT_EQ("bar\n", tree_.Read("a.txt"));  // the tree is not the journal's

  for (const std::string id :
       {"20261210-100000-2", "", "..", "../runs", "nothing"}) {
    SCOPED_TRACE(id);
    Status status = ForgetRun(RealFileSystem(), Runs(), id);
    EXPECT_EQ(Status::Code::kNotFound, status.code());
    EXPECT_EQ("no run " + id, status.reason());
    PastRun run;
    EXPECT_EQ(Status::Code::kNotFound,
              LoadRun(RealFileSystem(), Runs(), id, &run).code());
  }
  EXPECT_EQ((std::vector<std::string>{"20261210-100000-1"}), Ids());
  EXPECT_TRUE(tree_.Exists("a.txt"));
}

// The newest 20 are kept, but none older than 30 days; an undone run is
// kept like any other, and a damaged one is aged by its id.
TEST_F(PastRunsTest, PruneKeepsTheLastTwentyWithinThirtyDays) {
  constexpr std::int64_t kDay = 24 * 60 * 60;
  std::int64_t now = 0;
  ASSERT_TRUE(StartOfId("20261211-000000-0", &now));
  std::vector<std::string> expected;
  // Ids made from their start, so they sort as the runs started.
  auto id_of = [](std::int64_t start) {
    std::time_t time = static_cast<std::time_t>(start);
    std::tm tm = {};
    gmtime_r(&time, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S-7", &tm);
    return std::string(text);
  };
  for (int days_ago = 40; days_ago >= 0; days_ago -= 2) {
    const std::int64_t started = now - days_ago * kDay - 60;
    EmptyRun(id_of(started), started);
    if (days_ago <= 28) expected.push_back(id_of(started));
  }
  // Undone, and damaged: aged alike.
  test::WriteFile(state_.path() + "/runs/" + expected.back() + "/undone",
                  "1\n");
  test::WriteFile(state_.path() + "/runs/" + expected.front() + "/run", "x");
  const std::string old_damaged = id_of(now - 35 * kDay);
  EmptyRun(old_damaged, now - 35 * kDay);
  test::WriteFile(state_.path() + "/runs/" + old_damaged + "/run", "x");

  ASSERT_TRUE(PruneRuns(RealFileSystem(), Runs(), now).ok());
  EXPECT_EQ(expected, Ids());  // 15 runs, within 30 days

  // Beyond 20 within the month: the oldest go.
  for (int minute = 1; minute <= 10; ++minute) {
    const std::int64_t started = now - 60 + minute;
    EmptyRun(id_of(started) + std::to_string(minute), started);
  }
  ASSERT_TRUE(PruneRuns(RealFileSystem(), Runs(), now).ok());
  const std::vector<std::string> ids = Ids();
  ASSERT_EQ(kRunsKept, ids.size());
  EXPECT_EQ(expected[5], ids.front());
}

// A prune told to stop has taken the runs it prunes out of the list, and
// deletes as many as it took out (oldest first, what an earlier prune
// left among them) before it stops: what is left never grows. The next
// prune deletes the rest.
TEST_F(PastRunsTest, APruneStoppedLeavesNoMoreThanItFound) {
  std::int64_t now = 0;
  ASSERT_TRUE(StartOfId("20261211-000000-0", &now));
  tree_.Write("a.txt", "foo\n");
  auto run_of = [this](const std::string& id) {
    HandJournal run(tree_.path(), Runs(), id);
    run.Change("", "a.txt", "bar\n");
    run.Write();
  };
  // Left by an earlier prune that was stopped.
  const std::string left = "20261210-220000-1";
  run_of(left);
  std::filesystem::rename(Runs() + "/" + left,
                          Runs() + "/" + kForgottenPrefix + left);
  std::vector<std::string> ids;
  for (int minute = 10; minute < 32; ++minute) {
    ids.push_back("20261210-23" + std::to_string(minute) + "00-1");
    run_of(ids.back());
  }
  auto forgotten = [this] {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Runs())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(kForgottenPrefix, 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  };

  const std::atomic<bool> stop{true};
  EXPECT_TRUE(PruneRuns(RealFileSystem(), Runs(), now, &stop).ok());
  EXPECT_EQ(std::vector<std::string>(ids.begin() + 2, ids.end()), Ids());
  EXPECT_EQ((std::vector<std::string>{kForgottenPrefix + ids[1]}),
            forgotten());
  PastRun run;
  EXPECT_EQ(Status::Code::kNotFound,
            LoadRun(RealFileSystem(), Runs(), kForgottenPrefix + ids[1], &run)
                .code());

  ASSERT_TRUE(PruneRuns(RealFileSystem(), Runs(), now).ok());
  EXPECT_TRUE(forgotten().empty());
  EXPECT_EQ(std::vector<std::string>(ids.begin() + 2, ids.end()), Ids());
}

}  // namespace
}  // namespace vs
