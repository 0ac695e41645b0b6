// A run asked to stop finishes the files it has begun, each whole, begins
// no more, and its change log says exactly what it did.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>

#include "tests/fault_file_system.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

using Op = FaultFileSystem::Op;
using Snapshot = std::map<std::string, std::string>;

// Files with text changes, name changes, both, and neither, over three
// folders; each file's state after a run is either all old or all new.
struct StopTree {
  struct File {
    std::string folder, name, text;
  };
  std::vector<File> files;

  StopTree() {
    for (const char* folder : {"", "d/", "d/e/"}) {
      for (int i = 0; i < 40; ++i) {
        const std::string n = std::to_string(i);
        const std::string name = (i % 3 == 0 ? "n" : "old") + n + ".txt";
        const std::string text = i % 4 == 0 ? "same\n" : "an old line\nold\n";
        files.push_back({folder, name, text});
      }
    }
  }
  void Write(const TempFolder& tree) const {
    for (const File& f : files) tree.Write(f.folder + f.name, f.text);
  }
  static std::string Replaced(std::string text) {
    for (std::size_t at; (at = text.find("old")) != std::string::npos;)
      text.replace(at, 3, "new");
    return text;
  }
};

void ExpectWholeAndLogged(const TempFolder& tree, const StopTree& stop_tree,
                          const TestEngine& engine) {
  const Snapshot after = tree.Snapshot();
  std::size_t met = 0;
  for (const StopTree::File& f : stop_tree.files) {
    SCOPED_TRACE(f.folder + f.name);
    const std::string new_name = StopTree::Replaced(f.name);
    const std::string new_text = StopTree::Replaced(f.text);
    const ChangeList& entries =
        engine.log().Entries(tree.Path(f.folder + f.name));
    if (entries.empty()) {
      // Not met, or nothing to change: exactly as it was.
      ASSERT_EQ(after.count(f.folder + f.name), 1u);
      EXPECT_EQ(after.at(f.folder + f.name), f.text);
      continue;
    }
    ++met;
    // Met and changed: wholly new, under its new name.
    ASSERT_EQ(after.count(f.folder + new_name), 1u);
    EXPECT_EQ(after.at(f.folder + new_name), new_text);
    if (new_name != f.name) {
      EXPECT_EQ(after.count(f.folder + f.name), 0u);
      EXPECT_EQ(entries.back(), "Changed File Name to: " + new_name);
    }
  }
  EXPECT_EQ(engine.files.size(), met);
  for (const auto& [path, content] : after)
    EXPECT_EQ(path.find(".tmp"), std::string::npos) << path;
  EXPECT_FALSE(engine.problems().any());
}

TEST(StopTest, AStoppedRunLeavesEveryFileWholeAndSaysWhatItDid) {
  struct Case {
    const char* name;
    Op op;            // the stop is asked before the nth call of this op
    std::uint64_t n;  // counted over every path
  };
  const Case cases[] = {
      {"at the first listing", Op::kListFolder, 1},
      {"entering a subfolder", Op::kOpenFolder, 2},
      {"at the first open", Op::kOpenForRead, 1},
      {"at a later open", Op::kOpenForRead, 9},
      {"while a temporary file is created", Op::kCreateExclusive, 3},
      {"while a new text is flushed", Op::kSync, 2},
      {"as a file is replaced", Op::kExchange, 4},
      {"as a file is renamed", Op::kRenameNoReplace, 5},
      {"later in the run", Op::kRenameNoReplace, 30},
  };
  const StopTree stop_tree;
  for (const Case& c : cases) {
    for (unsigned threads : {0u, 2u}) {
      SCOPED_TRACE(std::string(c.name) + ", threads " +
                   std::to_string(threads));
      TempFolder tree;
      stop_tree.Write(tree);
      FaultFileSystem fs;
      TestEngine engine(&fs);
      // Counted on whichever thread makes the call.
      std::atomic<std::uint64_t> calls{0};
      fs.Before(c.op, "", [&] {
        if (++calls == c.n) engine.engine().RequestStop();
      });
      engine.settings.find = "old";
      engine.settings.replace = "new";
      engine.settings.scan_threads = threads;
      engine.ProcessFolder(tree.path());
      EXPECT_GE(calls, c.n);  // the stop was asked during the run
      ExpectWholeAndLogged(tree, stop_tree, engine);
      EXPECT_LT(engine.log().size(), stop_tree.files.size());
      EXPECT_FALSE(engine.engine().stop_requested());  // cleared at the end
    }
  }
}

TEST(StopTest, AStopAskedBeforeTheRunBeginsNothingAndTheNextRunGoes) {
  TempFolder tree;
  StopTree stop_tree;
  stop_tree.Write(tree);
  const Snapshot before = tree.Snapshot();
  TestEngine engine;
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.engine().RequestStop();
  engine.ProcessFolder(tree.path());
  EXPECT_EQ(tree.Snapshot(), before);
  EXPECT_EQ(engine.log().size(), 0u);
  EXPECT_TRUE(engine.files.empty());

  engine.ProcessFolder(tree.path());
  EXPECT_EQ(engine.log().size(), stop_tree.files.size());
  ExpectWholeAndLogged(tree, stop_tree, engine);
}

}  // namespace
}  // namespace vs::test
