// --undo, --list-runs, --show-run and --forget of the real binary, on
// journals made by hand in the test's own $XDG_STATE_HOME.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

  // A run killed as it began, and what a stopped prune left, go too.
  std::filesystem::create_directories(Runs() + "/20261210-120000-3");
  std::filesystem::create_directories(Runs() +
                                      "/.forgotten-20261210-090000-4/old");
  test::WriteFile(Runs() + "/.forgotten-20261210-090000-4/old/1", "foo\n");
  EXPECT_EQ(0, RunProgram({"--forget", "all"}).status);
  EXPECT_EQ("", RunProgram({"--list-runs"}).out);
  EXPECT_TRUE(std::filesystem::is_empty(Runs()));
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

// What an undo must give back of a file beyond its bytes: the very file
// (its inode), its mode and owner, and what it carries (an extended
// attribute and an ACL).
struct Carried {
  ino_t inode = 0;
  mode_t mode = 0;
  uid_t owner = 0;
  std::string note;
  std::string acl;
  bool operator==(const Carried& other) const {
    return inode == other.inode && mode == other.mode &&
           owner == other.owner && note == other.note && acl == other.acl;
  }
};

std::string Attribute(const std::string& path, const char* name) {
  char value[512];
  const ssize_t got = getxattr(path.c_str(), name, value, sizeof value);
  if (got < 0) return std::string();
  return std::string(value, static_cast<std::size_t>(got));
}

std::map<std::string, Carried> CarriedOf(const test::TempFolder& tree) {
  std::map<std::string, Carried> carried;
  for (const auto& [path, content] : tree.Snapshot()) {
    struct stat info;
    const std::string full = tree.Path(path);
    if (content == "<dir>" || lstat(full.c_str(), &info) != 0) continue;
    carried[path] = {info.st_ino, info.st_mode, info.st_uid,
                     Attribute(full, "user.note"),
                     Attribute(full, "system.posix_acl_access")};
  }
  return carried;
}

// A real run, then --undo: text changes, a rename, both at once in a
// subfolder, a binary file and a rename that fails all come back as they
// were: the same names and bytes, the very files with what they carry.
// A second undo finds nothing left to undo.
TEST_F(CliUndoTest, ARunThenItsUndoGivesTheTreeBackExactly) {
  tree_.Write("a.txt", "foo\nkeep\n");
  tree_.Write("foo.txt", "x\n");
  tree_.Write("sub/foo.c", "int foo;\n");
  tree_.Write("bin.dat", std::string("\0foo\xff\n", 6));
  tree_.Write("foo.md", "foo\n");  // its new name is taken: the rename fails
  tree_.Write("bar.md", "taken\n");
  chmod(tree_.Path("a.txt").c_str(), 0640);
  const bool attributes =
      setxattr(tree_.Path("a.txt").c_str(), "user.note", "kept", 4, 0) == 0;
  // user nobody may read: a named entry, so the ACL is one of its own.
  const std::string acl("\x02\x00\x00\x00"
                        "\x01\x00\x06\x00\xff\xff\xff\xff"
                        "\x02\x00\x04\x00\xfe\xff\x00\x00"
                        "\x04\x00\x04\x00\xff\xff\xff\xff"
                        "\x10\x00\x04\x00\xff\xff\xff\xff"
                        "\x20\x00\x00\x00\xff\xff\xff\xff", 44);
  const bool acls = setxattr(tree_.Path("sub/foo.c").c_str(),
                             "system.posix_acl_access", acl.data(),
                             acl.size(), 0) == 0;
  const test::Tree before = tree_.Snapshot();
  const auto carried = CarriedOf(tree_);

  Outcome run = RunProgram({"-f", "foo", "-r", "bar", tree_.path()});
  ASSERT_EQ(1, run.status) << run.err;  // the rename of foo.md failed
  ASSERT_NE(before, tree_.Snapshot());

  Outcome undo = RunProgram({"--undo"});
  EXPECT_EQ(0, undo.status) << undo.err;
  EXPECT_EQ(before, tree_.Snapshot());
  EXPECT_EQ(carried, CarriedOf(tree_));
  if (attributes) {
    EXPECT_EQ("kept", Attribute(tree_.Path("a.txt"), "user.note"));
  }
  if (acls) {
    EXPECT_EQ(acl, Attribute(tree_.Path("sub/foo.c"),
                             "system.posix_acl_access"));
  }

  Outcome again = RunProgram({"--undo"});
  EXPECT_NE(0, again.status);
  EXPECT_EQ(before, tree_.Snapshot());
}

// --no-undo keeps no journal; a run keeps only the newest runs of the
// last weeks, whatever its own fate.
TEST_F(CliUndoTest, NoUndoKeepsNoJournalAndARunPrunesOldOnes) {
  tree_.Write("a.txt", "foo\n");
  ASSERT_EQ(0, RunProgram({"--no-undo", "-f", "foo", "-r", "bar",
                           tree_.path()}).status);
  EXPECT_NE(0, access(Runs().c_str(), F_OK));

  // 25 runs of last week and one of long ago, made by hand.
  HandJournal ancient(tree_.path(), Runs(), "20000101-000000-1");
  ancient.Write();
  const std::time_t week_ago = std::time(nullptr) - 7 * 24 * 3600;
  std::vector<std::string> ids;
  for (int i = 0; i < 25; ++i) {
    char id[64];
    const std::time_t started = week_ago + i;
    std::strftime(id, sizeof id, "%Y%m%d-%H%M%S", std::gmtime(&started));
    ids.push_back(std::string(id) + "-" + std::to_string(100 + i));
    HandJournal(tree_.path(), Runs(), ids.back()).Write();
  }
  ASSERT_EQ(0, RunProgram({"-f", "bar", "-r", "foo", tree_.path()}).status);
  Outcome listed = RunProgram({"--list-runs"});
  ASSERT_EQ(0, listed.status) << listed.err;
  EXPECT_EQ(std::string::npos, listed.out.find("20000101-000000-1"));
  for (std::size_t i = 0; i < ids.size(); ++i)
    EXPECT_EQ(i >= 6, listed.out.find(ids[i]) != std::string::npos) << ids[i];
  // The run itself is the newest of the 20 kept, and can be undone.
  ASSERT_EQ(0, RunProgram({"--undo"}).status);
  EXPECT_EQ("bar\n", test::ReadFile(tree_.Path("a.txt")));
}

}  // namespace
}  // namespace vs
