// What a run walks: version control's own folders are left alone unless
// asked for, and exclude and include globs choose the paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/fault_file_system.h"
#include "tests/memory_file_system.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

using Snapshot = std::map<std::string, std::string>;

// Runs `command` in a shell; its standard output, and whether it exited 0.
bool Shell(const std::string& command, std::string* output = nullptr) {
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return false;
  std::string text;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    text.append(buffer, got);
  const int status = pclose(pipe);
  if (output) *output = text;
  return status == 0;
}

// The entries of `tree` with `name` as one of the names in their path.
Snapshot Below(const Snapshot& tree, const std::string& name) {
  Snapshot below;
  for (const auto& [path, what] : tree) {
    const std::string slashed = "/" + path + "/";
    if (slashed.find("/" + name + "/") != std::string::npos)
      below.emplace(path, what);
  }
  return below;
}

class WalkScopeTest : public ::testing::Test {
 protected:
  WalkScopeTest() {
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.settings.code_page = CodePage(1252);
  }
  std::string P(const std::string& relative) { return tree.Path(relative); }
  void Run() { engine.ProcessFolder(tree.path()); }

  TempFolder tree;
  TestEngine engine;
};

// A repository whose own files are full of the find text: its config,
// a branch and a worktree named after it, loose objects holding it.
TEST_F(WalkScopeTest, ARepositoryComesThroughWhole) {
  if (!Shell("git --version")) GTEST_SKIP() << "git is not installed";
  tree.Write("a.txt", "old line\n");
  tree.Write("old.txt", "plain\n");
  tree.Write("src/keep.txt", "nothing\n");
  const std::string git =
      "GIT_CONFIG_NOSYSTEM=1 HOME='" + tree.path() +
      "' git -c user.name=old -c user.email=old@example.com -C '" +
      tree.path() + "' ";
  std::string out;
  ASSERT_TRUE(Shell(git + "init -q -b main", &out)) << out;
  ASSERT_TRUE(Shell(git + "config core.old-key old-value", &out)) << out;
  ASSERT_TRUE(Shell(git + "add -A && " + git + "commit -q -m old", &out))
      << out;
  ASSERT_TRUE(Shell(git + "branch old-api", &out)) << out;
  ASSERT_TRUE(Shell(git + "worktree add -q old-wt old-api", &out)) << out;
  ASSERT_TRUE(tree.Exists("old-wt/.git"));
  const Snapshot before = tree.Snapshot();

  Run();
  EXPECT_FALSE(engine.problems().any());
  const Snapshot after = tree.Snapshot();
  // Not a byte of the repository, nor of the worktree's link, changed.
  EXPECT_EQ(Below(before, ".git"), Below(after, ".git"));
  EXPECT_LT(10u, Below(after, ".git").size());
  EXPECT_EQ("new line\n", tree.Read("a.txt"));
  EXPECT_EQ("new line\n", tree.Read("old-wt/a.txt"));
  EXPECT_TRUE(tree.Exists("new.txt"));

  ASSERT_TRUE(Shell(git + "fsck --strict", &out)) << out;
  ASSERT_TRUE(Shell(git + "branch --format='%(refname:short)'", &out)) << out;
  EXPECT_EQ("main\nold-api\n", out);
  ASSERT_TRUE(Shell(git + "status --porcelain", &out)) << out;
  EXPECT_EQ(" M a.txt\n D old.txt\n?? new.txt\n?? old-wt/\n", out);
  ASSERT_TRUE(Shell(git + "-C old-wt status --porcelain", &out)) << out;
  EXPECT_EQ(" M a.txt\n D old.txt\n?? new.txt\n", out);
}

TEST_F(WalkScopeTest, VersionControlFoldersAreWalkedOnlyWhenAskedFor) {
  const std::vector<std::string> own = {
      ".git/config", ".hg/store", ".svn/entries", ".bzr/branch",
      "_darcs/format", "CVS/Root", "sub/.git", "sub/CVS/Entries"};
  for (const std::string& file : own) tree.Write(file, "old\n");
  // Only those names, and only as folders (".git" as anything).
  tree.Write("sub/.gitignore", "old\n");
  tree.Write("CVS.txt", "old\n");
  tree.Write("sub/.hg", "old\n");

  Run();
  for (const std::string& file : own) EXPECT_EQ("old\n", tree.Read(file));
  for (const char* file : {"sub/.gitignore", "CVS.txt", "sub/.hg"})
    EXPECT_EQ("new\n", tree.Read(file)) << file;
  EXPECT_EQ(3u, engine.files.size());

  engine.settings.include_vcs = true;
  Run();
  for (const std::string& file : own) EXPECT_EQ("new\n", tree.Read(file));

  // A base folder of such a name was named on purpose, and is walked.
  engine.settings.include_vcs = false;
  engine.settings.find = "new";
  engine.settings.replace = "old";
  engine.ProcessFolder(P(".svn"));
  EXPECT_EQ("old\n", tree.Read(".svn/entries"));
  EXPECT_EQ("new\n", tree.Read(".git/config"));
}

TEST_F(WalkScopeTest, NoFileIsRenamedToAVersionControlName) {
  for (const char* name : {"old.git", "oldCVS", "old.hg", "old.gitignore"})
    tree.Write(name, "");
  engine.settings.find = "old";
  engine.settings.replace = "";
  for (bool dry_run : {true, false}) {
    SCOPED_TRACE(dry_run);
    engine.settings.dry_run = dry_run;
    Run();
    EXPECT_EQ(3u, engine.problems().failure_entries);
    EXPECT_EQ(engine.log().Entries(P("old.git")),
              ChangeList{"Failed to change File Name to: .git (a name "
                         "version control keeps for its own files)"});
  }
  EXPECT_EQ(tree.Snapshot(), (Snapshot{{".gitignore", ""},
                                       {"old.git", ""},
                                       {"old.hg", ""},
                                       {"oldCVS", ""}}));
  // Asked to treat them as any other, the run renames them.
  engine.settings.include_vcs = true;
  Run();
  EXPECT_FALSE(engine.problems().any());
  EXPECT_EQ(tree.Snapshot(), (Snapshot{{".git", ""},
                                       {".gitignore", ""},
                                       {".hg", ""},
                                       {"CVS", ""}}));
}

// What the globs leave out is never opened, read, rewritten or renamed:
// an excluded folder is not even listed.
TEST_F(WalkScopeTest, WhatTheGlobsLeaveOutIsNeverOpened) {
  for (const char* file :
       {"keep/old.txt", "skip/old.txt", "skip/deep/old.txt",
        "keep/old.min.txt", "keep/old.dat", "docs/x/old.md", "old-top.md",
        ".git/old.txt"})
    tree.Write(file, "old\n");
  std::string error;
  ASSERT_TRUE(engine.settings.filter.Exclude("skip/", &error));
  ASSERT_TRUE(engine.settings.filter.Exclude("*.min.txt", &error));
  ASSERT_TRUE(engine.settings.filter.Include("*.txt", &error));
  ASSERT_TRUE(engine.settings.filter.Include("/docs/**/*.md", &error));
  for (unsigned threads : {0u, 3u}) {
    SCOPED_TRACE(threads);
    FaultFileSystem fs;
    TestEngine run(&fs);
    run.settings = engine.settings;
    run.settings.scan_threads = threads;
    run.ProcessFolder(tree.path());
    EXPECT_FALSE(run.problems().any());
    for (const std::string& call : fs.calls()) {
      for (const char* left_out :
           {"/skip", ".min.", ".dat", "old-top", "/.git"})
        EXPECT_EQ(std::string::npos, call.find(left_out)) << call;
    }
    EXPECT_EQ(run.files, (std::vector<std::string>{P("docs/x/old.md"),
                                                  P("keep/old.txt")}));
    // Renamed back, for the next round to find as at first.
    run.settings.find = "new";
    run.settings.replace = "old";
    run.ProcessFolder(tree.path());
  }
  EXPECT_EQ("old\n", tree.Read("keep/old.txt"));
  EXPECT_EQ("old\n", tree.Read("skip/old.txt"));
}

// With one_file_system, a mount point below the base folder is left
// alone, as find -xdev leaves it: not listed, nothing in it changed.
TEST(OneFileSystemTest, AMountPointIsLeftAloneOnlyWhenAskedTo) {
  for (bool one_file_system : {false, true}) {
    SCOPED_TRACE(one_file_system);
    MemoryFileSystem fs({{"tree/a/old.txt", "old\n"},
                         {"tree/mnt/old.txt", "old\n"},
                         {"tree/mnt/deep/old.txt", "old\n"}});
    fs.Mount("tree/mnt", 7);
    for (unsigned threads : {0u, 2u}) {
      TestEngine engine(&fs);
      engine.settings.find = "old";
      engine.settings.replace = "new";
      engine.settings.change_names = false;
      engine.settings.one_file_system = one_file_system;
      engine.settings.scan_threads = threads;
      engine.ProcessFolder("tree");
      EXPECT_FALSE(engine.problems().any());
    }
    EXPECT_EQ(fs.Read("tree/a/old.txt"), "new\n");
    EXPECT_EQ(fs.Read("tree/mnt/old.txt"), one_file_system ? "old\n" : "new\n");
    EXPECT_EQ(fs.Read("tree/mnt/deep/old.txt"),
              one_file_system ? "old\n" : "new\n");
  }
}

}  // namespace
}  // namespace vs::test
