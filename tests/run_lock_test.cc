#include "engine/run_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "tests/temp_folder.h"

namespace vs {
namespace {

class RunLockTest : public testing::Test {
 protected:
  RunLockTest() {
    trees_.MakeFolder("a/b");
    trees_.MakeFolder("a/c");
    EXPECT_EQ(symlink(trees_.Path("a").c_str(), trees_.Path("link").c_str()),
              0);
    options_.folder = locks_.Path("running");
    options_.no_wait = true;
  }

  Status Take(const std::string& tree, std::unique_ptr<RunLock>* lock) {
    return RunLock::Take(trees_.Path(tree), options_, lock);
  }

  std::string Busy() const {
    return "another run is working in this tree (pid " +
           std::to_string(getpid()) + ")";
  }

  test::TempFolder trees_, locks_;
  RunLock::Options options_;
};

TEST_F(RunLockTest, ARunInsideAboveOrAtTheSameTreeMayNotStart) {
  struct Case {
    const char* held;
    const char* wanted;
    bool overlaps;
  };
  const Case cases[] = {
      {"a", "a", true},    {"a", "a/b", true},     {"a/b", "a", true},
      {"a", "link", true},  // one folder by two paths
      {"link/b", "a", true}, {"a/b", "a/c", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.held) + " then " + c.wanted);
    std::unique_ptr<RunLock> held, wanted;
    ASSERT_TRUE(Take(c.held, &held).ok());
    Status status = Take(c.wanted, &wanted);
    if (c.overlaps) {
      EXPECT_EQ(status.code(), Status::Code::kBusy);
      EXPECT_EQ(status.reason(), Busy());
      EXPECT_FALSE(wanted);
    } else {
      EXPECT_TRUE(status.ok()) << status.reason();
      EXPECT_TRUE(wanted);
    }
    // Let go, the tree is free again.
    held.reset();
    wanted.reset();
    EXPECT_TRUE(Take(c.wanted, &wanted).ok());
  }
}

// A run that died (even by kill -9) let go of its flock; its file, and a
// file that is no lock at all, hold nothing.
TEST_F(RunLockTest, LocksOfDeadRunsAndDamagedFilesAreTakenOver) {
  std::unique_ptr<RunLock> lock;
  ASSERT_TRUE(Take("a", &lock).ok());  // makes the folder
  lock.reset();
  struct stat st;
  ASSERT_EQ(stat(trees_.Path("a").c_str(), &st), 0);
  locks_.Write("running/999999-0.run",
               "999999\n" + trees_.Path("a") + "\n" +
                   std::to_string(st.st_dev) + " " +
                   std::to_string(st.st_ino) + "\n");
  locks_.Write("running/1-0.run", "not a lock\n");
  EXPECT_TRUE(Take("a/b", &lock).ok());
  EXPECT_FALSE(locks_.Exists("running/999999-0.run"));
}

TEST_F(RunLockTest, AWaitingRunGoesAheadWhenTheOtherEnds) {
  std::unique_ptr<RunLock> held;
  ASSERT_TRUE(Take("a", &held).ok());
  std::promise<pid_t> waited_for;
  options_.no_wait = false;
  options_.on_wait = [&](pid_t pid) { waited_for.set_value(pid); };
  std::future<Status> waiting = std::async(std::launch::async, [&] {
    std::unique_ptr<RunLock> lock;
    return Take("a/b", &lock);
  });
  EXPECT_EQ(waited_for.get_future().get(), getpid());
  held.reset();
  EXPECT_TRUE(waiting.get().ok());
}

TEST_F(RunLockTest, AStopEndsTheWait) {
  std::unique_ptr<RunLock> held, wanted;
  ASSERT_TRUE(Take("a", &held).ok());
  options_.no_wait = false;
  std::atomic<bool> stop{false};
  options_.on_wait = [&](pid_t) { stop = true; };
  options_.stopped = [&] { return stop.load(); };
  EXPECT_EQ(Take("a", &wanted).code(), Status::Code::kBusy);
}

TEST_F(RunLockTest, ABaseFolderThatCannotBeOpenedNeedsNoLock) {
  std::unique_ptr<RunLock> lock;
  EXPECT_TRUE(Take("missing", &lock).ok());
  EXPECT_FALSE(lock);
}

}  // namespace
}  // namespace vs
