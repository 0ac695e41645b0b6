// Change entries past a memory budget go to a nameless scratch file in
// $TMPDIR and read back as they were.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/change_list.h"
#include "engine/spill_store.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

// Points $TMPDIR at `folder` while it lives.
class TmpDirSetting {
 public:
  explicit TmpDirSetting(const std::string& folder) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old, had_ = true;
    setenv("TMPDIR", folder.c_str(), 1);
  }
  ~TmpDirSetting() {
    if (had_) setenv("TMPDIR", old_.c_str(), 1);
    else unsetenv("TMPDIR");
  }

 private:
  std::string old_;
  bool had_ = false;
};

// Open files of this process that lie in `folder`, as /proc tells them.
std::vector<std::string> OpenFilesIn(const std::string& folder) {
  std::vector<std::string> found;
  DIR* fds = opendir("/proc/self/fd");
  while (dirent* fd = readdir(fds)) {
    char target[4096];
    const std::string link = std::string("/proc/self/fd/") + fd->d_name;
    const ssize_t length = readlink(link.c_str(), target, sizeof target);
    if (length <= 0) continue;
    const std::string path(target, static_cast<std::size_t>(length));
    if (path.rfind(folder + "/", 0) == 0) found.push_back(path);
  }
  closedir(fds);
  return found;
}

// Names in `folder`, but "." and "..".
std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

std::vector<std::string> Entries(const ChangeList& list) {
  return std::vector<std::string>(list.begin(), list.end());
}

// Entries of every length class: empty, one length byte, two, and
// longer than any read-back chunk.
std::vector<std::string> SampleEntries() {
  std::vector<std::string> entries;
  for (std::size_t i = 0; i < 3000; ++i) {
    const std::size_t length = i % 7 == 0   ? 0
                               : i % 7 == 1 ? 127
                               : i % 7 == 2 ? 128
                               : i % 7 == 3 ? 1023
                                            : 20 + i % 50;
    entries.push_back(std::to_string(i) + std::string(length, static_cast<char>('a' + i % 26)));
  }
  entries.push_back(std::string(200 * 1024, 'z'));
  entries.push_back("last");
  return entries;
}

TEST(ChangeListTest, ReadsBackWhatItSpilledInOrder) {
  const std::vector<std::string> expected = SampleEntries();
  struct Case {
    const char* name;
    std::size_t budget;  // 0: no store
  } cases[] = {{"no store", 0}, {"tiny budget", 1}, {"some in memory", 300000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SpillStore store(RealFileSystem(), c.budget);
    ChangeList list(c.budget ? &store : nullptr);
    for (const std::string& entry : expected) list.push_back(entry);
    list.Settle(c.budget ? &store : nullptr);
    EXPECT_EQ(list.size(), expected.size());
    EXPECT_EQ(Entries(list), expected);
    EXPECT_EQ(list.back(), "last");
    EXPECT_EQ(list[3], expected[3]);
    if (c.budget) {
      EXPECT_GT(store.bytes_written(), 0u);
      // Held in memory: never much past the budget.
      EXPECT_LT(list.memory_used(), c.budget + 256 * 1024);
    }

    const ChangeList copy = list;
    EXPECT_EQ(copy, list);
    ChangeList moved = std::move(list);
    EXPECT_EQ(Entries(moved), expected);
    ChangeList in_memory;
    for (const std::string& entry : expected) in_memory.push_back(entry);
    EXPECT_EQ(in_memory, moved);
    in_memory.push_back("one more");
    EXPECT_NE(in_memory, moved);
  }
}

TEST(ChangeListTest, ListsGivingBackTheirMemoryBringTheStoreUnderBudget) {
  SpillStore store(RealFileSystem(), 1000);
  {
    ChangeList list(&store);
    for (int i = 0; i < 100; ++i) list.push_back(std::string(100, 'x'));
    EXPECT_TRUE(store.OverBudget());
  }
  EXPECT_FALSE(store.OverBudget());
}

TEST(ChangeListTest, WithoutAScratchFileEntriesStayInMemory) {
  TempFolder tmp;
  TmpDirSetting tmpdir(tmp.Path("missing"));
  SpillStore store(RealFileSystem(), 1);
  ChangeList list(&store);
  const std::vector<std::string> expected = SampleEntries();
  for (const std::string& entry : expected) list.push_back(entry);
  list.Settle(&store);
  EXPECT_EQ(Entries(list), expected);
  EXPECT_EQ(store.bytes_written(), 0u);
}

// A run with a budget far below its entries logs what a run without one
// logs, and its scratch file is nameless in $TMPDIR while the run holds
// it open.
TEST(SpillTest, ARunOverBudgetLogsTheSameEntries) {
  TempFolder tmp;
  std::string big;
  for (int i = 0; i < 200000; ++i) big += "old " + std::to_string(i) + "\n";
  auto make_tree = [&](const TempFolder& tree) {
    tree.Write("big.txt", big);
    for (int f = 0; f < 30; ++f) {
      std::string text;
      for (int i = 0; i < 50 + f * 20; ++i)
        text += i % 3 ? "keep\n" : "an old line " + std::to_string(f) + "\n";
      tree.Write("sub" + std::to_string(f % 4) + "/f" + std::to_string(f),
                 text);
    }
  };

  class SpillWatcher : public TestEngine {
   public:
    std::string tmp;
    bool named_file_seen = false;
    std::vector<std::string> scratch_files;
    void OnFileChanged(const std::string& path,
                       const ChangeList& changes) override {
      TestEngine::OnFileChanged(path, changes);
      for (const std::string& open : OpenFilesIn(tmp))
        scratch_files.push_back(open);
      if (!NamesIn(tmp).empty()) named_file_seen = true;
    }
  };

  std::vector<std::vector<std::string>> logs;
  for (std::size_t budget : {std::size_t{0}, std::size_t{4096}}) {
    SCOPED_TRACE(budget);
    TempFolder tree;
    make_tree(tree);
    SpillWatcher engine;
    engine.tmp = tmp.path();
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.settings.change_memory_budget = budget;
    {
      TmpDirSetting tmpdir(tmp.path());
      engine.ProcessFolder(tree.path());
    }
    EXPECT_FALSE(engine.problems().any());
    std::vector<std::string> log;
    for (const auto& [path, list] : engine.log()) {
      log.push_back(path.substr(tree.path().size()));
      for (const std::string& entry : list) log.push_back(entry);
    }
    logs.push_back(log);
    EXPECT_FALSE(engine.named_file_seen);
    if (budget) {
      EXPECT_FALSE(engine.scratch_files.empty());
    } else {
      EXPECT_TRUE(engine.scratch_files.empty());
    }
    EXPECT_EQ(tree.Read("big.txt").substr(0, 12), "new 0\nnew 1\n");
  }
  EXPECT_GT(logs[0].size(), 200000u);
  EXPECT_EQ(logs[0], logs[1]);
  EXPECT_TRUE(OpenFilesIn(tmp.path()).empty());  // closed with the engine
}

}  // namespace
}  // namespace vs::test
