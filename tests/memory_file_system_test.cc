// The contract of FileSystem that the engine leans on, checked on the
// disk and on MemoryFileSystem alike, so the double cannot drift from the
// real thing; and an engine run on a tree in memory.
#include "tests/memory_file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/status.h"
#include "tests/memory_file.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

using Snapshot = std::map<std::string, std::string>;

// "ok", or the failure's reason in the system's words.
std::string Outcome(const Status& status) {
  return status.ok() ? "ok" : status.reason();
}

// A tree set up from a Snapshot on one of the two file systems.
class Tree {
 public:
  virtual ~Tree() = default;
  virtual FileSystem* file_system() = 0;
  // The path the file system opens `relative` by.
  virtual std::string Path(const std::string& relative) const = 0;
  // Writes over the file `relative` in place.
  virtual void Write(const std::string& relative, const std::string& bytes) = 0;
  // Removes the empty folder `relative`.
  virtual void RemoveFolder(const std::string& relative) = 0;
  virtual Snapshot Now() const = 0;
};

class DiskTree final : public Tree {
 public:
  explicit DiskTree(const Snapshot& tree) {
    for (const auto& [path, value] : tree) {
      const auto slash = path.rfind('/');
      if (slash != std::string::npos) folder_.MakeFolder(path.substr(0, slash));
      if (value == "<dir>") {
        folder_.MakeFolder(path);
      } else if (value == "<special>") {
        EXPECT_EQ(mkfifo(Path(path).c_str(), 0644), 0) << path;
      } else if (value.compare(0, 3, "-> ") == 0) {
        EXPECT_EQ(symlink(value.c_str() + 3, Path(path).c_str()), 0) << path;
      } else {
        folder_.Write(path, value);
      }
    }
  }
  FileSystem* file_system() override { return RealFileSystem(); }
  std::string Path(const std::string& relative) const override {
    return folder_.Path(relative);
  }
  void Write(const std::string& relative, const std::string& bytes) override {
    folder_.Write(relative, bytes);
  }
  void RemoveFolder(const std::string& relative) override {
    EXPECT_EQ(rmdir(Path(relative).c_str()), 0) << relative;
  }
  Snapshot Now() const override { return folder_.Snapshot(); }

 private:
  TempFolder folder_;
};

class MemoryTree final : public Tree {
 public:
  explicit MemoryTree(const Snapshot& tree) : file_system_(tree) {}
  FileSystem* file_system() override { return &file_system_; }
  std::string Path(const std::string& relative) const override {
    return relative;
  }
  void Write(const std::string& relative, const std::string& bytes) override {
    file_system_.Write(relative, bytes);
  }
  void RemoveFolder(const std::string& relative) override {
    file_system_.Delete(relative);
  }
  Snapshot Now() const override { return file_system_.Snapshot(); }

 private:
  MemoryFileSystem file_system_;
};

enum class Backend { kDisk, kMemory };

class FileSystemContractTest : public ::testing::TestWithParam<Backend> {
 protected:
  // Sets up `tree` afresh, in place of any tree before it.
  void Make(const Snapshot& tree) {
    root_.reset();
    tree_.reset();
    if (GetParam() == Backend::kDisk) {
      tree_ = std::make_unique<DiskTree>(tree);
    } else {
      tree_ = std::make_unique<MemoryTree>(tree);
    }
    fs_ = tree_->file_system();
    root_ = Open(".");
  }

  // The folder `relative` opened as the engine opens its base folder;
  // null, and a failure, if it cannot be.
  std::unique_ptr<Folder> Open(const std::string& relative) {
    std::unique_ptr<Folder> folder;
    Status status = fs_->OpenFolder(tree_->Path(relative), true, &folder);
    EXPECT_EQ(Outcome(status), "ok") << relative;
    return folder;
  }

  // The sorted listing, each entry as "name:kind".
  std::vector<std::string> List(const Folder& folder) {
    static const char* const kKinds[] = {"file", "folder", "link", "other"};
    std::vector<FolderEntry> entries;
    EXPECT_EQ(Outcome(fs_->ListFolder(folder, &entries)), "ok");
    std::vector<std::string> out;
    for (const FolderEntry& entry : entries)
      out.push_back(entry.name + ":" + kKinds[static_cast<int>(entry.kind)]);
    std::sort(out.begin(), out.end());
    return out;
  }

  FileInfo StatOf(const Folder& folder, const std::string& name) {
    FileInfo info;
    EXPECT_EQ(Outcome(fs_->Stat(folder, name, &info)), "ok") << name;
    return info;
  }

  std::unique_ptr<Tree> tree_;
  FileSystem* fs_ = nullptr;
  std::unique_ptr<Folder> root_;
};

std::string ReadAll(ReadableFile* file) {
  std::string out;
  char buffer[3];  // several reads, even for short files
  std::size_t got = 0;
  do {
    EXPECT_TRUE(file->Read(buffer, sizeof buffer, &got).ok());
    out.append(buffer, got);
  } while (got > 0);
  return out;
}

TEST_P(FileSystemContractTest, CreateExclusiveRefusesAnyExistingName) {
  const Snapshot before = {{"file", "x"},           {"folder", "<dir>"},
                           {"dangling", "-> none"}, {"link", "-> file"},
                           {"fifo", "<special>"}};
  Make(before);
  FileInfo like;
  like.mode = 0640;
  for (const auto& [name, value] : before) {
    std::unique_ptr<WritableFile> file;
    EXPECT_EQ(Outcome(fs_->CreateExclusive(*root_, name, like, &file)),
              "File exists")
        << name;
    EXPECT_FALSE(file) << name;
  }
  EXPECT_EQ(tree_->Now(), before);

  std::unique_ptr<WritableFile> file;
  ASSERT_EQ(Outcome(fs_->CreateExclusive(*root_, "new", like, &file)), "ok");
  EXPECT_EQ(StatOf(*root_, "new").mode, 0640u);
  ASSERT_TRUE(file->Append("ab", 2).ok());
  ASSERT_TRUE(file->Flush().ok());
  EXPECT_EQ(tree_->Now()["new"], "ab");
  ASSERT_TRUE(file->Append("c", 1).ok());
  ASSERT_TRUE(file->Close().ok());
  EXPECT_EQ(tree_->Now()["new"], "abc");
  EXPECT_EQ(Outcome(file->Append("d", 1)), "Bad file descriptor");
}

// `tree` after `from` moved to `to`, with what is in it, over whatever
// `to` was.
Snapshot Moved(const Snapshot& tree, const std::string& from,
               const std::string& to) {
  auto under = [](const std::string& path, const std::string& top) {
    return path == top || path.compare(0, top.size() + 1, top + "/") == 0;
  };
  Snapshot out;
  for (const auto& [path, value] : tree) {
    if (under(path, from)) {
      out[to + path.substr(from.size())] = value;
    } else if (!under(path, to)) {
      out[path] = value;
    }
  }
  return out;
}

// Every kind of entry a rename may meet at either end.
const Snapshot kRenameTree = {
    {"a", "A"},          {"b", "B"},         {"empty", "<dir>"},
    {"full", "<dir>"},   {"full/x", "X"},    {"link", "-> a"},
    {"dangling", "-> none"}};

struct RenameCase {
  const char* from;
  const char* to;
  const char* outcome;  // on "ok", `from` is now `to`; else nothing changed
};

TEST_P(FileSystemContractTest, ReplaceWithMovesOverWhatIsThere) {
  const RenameCase cases[] = {
      {"a", "b", "ok"},
      {"a", "new", "ok"},
      {"a", "a", "ok"},
      {"a", "link", "ok"},  // the link goes, not the file it names
      {"a", "dangling", "ok"},
      {"link", "b", "ok"},
      {"full", "empty", "ok"},
      {"empty", "full", "Directory not empty"},
      {"a", "empty", "Is a directory"},
      {"empty", "a", "Not a directory"},
      {"none", "a", "No such file or directory"},
  };
  for (const RenameCase& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " over " + c.to);
    Make(kRenameTree);
    EXPECT_EQ(Outcome(fs_->ReplaceWith(*root_, c.from, c.to)), c.outcome);
    EXPECT_EQ(tree_->Now(), std::string(c.outcome) == "ok"
                                ? Moved(kRenameTree, c.from, c.to)
                                : kRenameTree);
  }
}

TEST_P(FileSystemContractTest, RenameNoReplaceRefusesAnExistingTarget) {
  const RenameCase cases[] = {
      {"a", "new", "ok"},
      {"full", "moved", "ok"},
      {"link", "new", "ok"},  // the link moves, not the file it names
      {"a", "b", "File exists"},
      {"a", "a", "File exists"},
      {"a", "empty", "File exists"},
      {"a", "link", "File exists"},
      {"a", "dangling", "File exists"},
      {"none", "new", "No such file or directory"},
  };
  for (const RenameCase& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " to " + c.to);
    Make(kRenameTree);
    EXPECT_EQ(Outcome(fs_->RenameNoReplace(*root_, c.from, c.to)), c.outcome);
    EXPECT_EQ(tree_->Now(), std::string(c.outcome) == "ok"
                                ? Moved(kRenameTree, c.from, c.to)
                                : kRenameTree);
  }
}

TEST_P(FileSystemContractTest, AFileOpenForReadKeepsWhatItWasOpenedOn) {
  Make({{"a", "old"}, {"a.tmp", "new"}});
  std::unique_ptr<ReadableFile> file;
  FileInfo info;
  ASSERT_TRUE(fs_->OpenForRead(*root_, "a", &file, &info).ok());
  const FileInfo temp = StatOf(*root_, "a.tmp");
  ASSERT_TRUE(fs_->ReplaceWith(*root_, "a.tmp", "a").ok());
  EXPECT_EQ(ReadAll(file.get()), "old");
  EXPECT_EQ(StatOf(*root_, "a").inode, temp.inode);
  EXPECT_NE(temp.inode, info.inode);
  ASSERT_TRUE(file->Rewind().ok());
  EXPECT_EQ(ReadAll(file.get()), "old");
  EXPECT_EQ(tree_->Now(), (Snapshot{{"a", "new"}}));
}

TEST_P(FileSystemContractTest, AnOpenFolderStaysTheFolderItOpened) {
  Make({{"sub/a", "A"}, {"empty", "<dir>"}});
  std::unique_ptr<Folder> sub;
  ASSERT_TRUE(fs_->OpenSubfolder(*root_, "sub", &sub).ok());
  ASSERT_TRUE(fs_->RenameNoReplace(*root_, "sub", "moved").ok());
  // A folder that takes the old name is another folder.
  ASSERT_TRUE(fs_->RenameNoReplace(*root_, "empty", "sub").ok());

  std::unique_ptr<WritableFile> file;
  ASSERT_TRUE(fs_->CreateExclusive(*sub, "b", FileInfo{}, &file).ok());
  ASSERT_TRUE(file->Close().ok());
  EXPECT_EQ(List(*sub), (std::vector<std::string>{"a:file", "b:file"}));
  EXPECT_EQ(StatOf(*sub, "a").size, 1u);
  EXPECT_EQ(tree_->Now(), (Snapshot{{"moved", "<dir>"},
                                    {"moved/a", "A"},
                                    {"moved/b", ""},
                                    {"sub", "<dir>"}}));

  // Removed, it stays open, but is no folder to list or make files in.
  std::unique_ptr<Folder> gone;
  ASSERT_TRUE(fs_->OpenSubfolder(*root_, "sub", &gone).ok());
  tree_->RemoveFolder("sub");
  std::vector<FolderEntry> entries;
  EXPECT_EQ(Outcome(fs_->ListFolder(*gone, &entries)),
            "No such file or directory");
  EXPECT_EQ(Outcome(fs_->CreateExclusive(*gone, "c", FileInfo{}, &file)),
            "No such file or directory");
}

TEST_P(FileSystemContractTest, OnlyALinkAtTheBaseIsFollowed) {
  const Snapshot before = {{"base", "-> tree"},
                           {"outside", "<dir>"},
                           {"outside/f", "F"},
                           {"tree", "<dir>"},
                           {"tree/fifo", "<special>"},
                           {"tree/in", "<dir>"},
                           {"tree/to_file", "-> ../outside/f"},
                           {"tree/to_folder", "-> ../outside"}};
  Make(before);
  struct OpenCase {
    const char* path;
    bool follow_link;
    const char* outcome;
  };
  const OpenCase opens[] = {
      {"base", true, "ok"},
      {"base", false, "Not a directory"},
      {"base/in", false, "ok"},  // a link on the way is followed
      {"tree/to_folder", true, "ok"},
      {"tree/to_file", true, "Not a directory"},
      {"tree/fifo", true, "Not a directory"},
      {"tree/none", true, "No such file or directory"},
      {"outside/f/x", true, "Not a directory"},
  };
  for (const OpenCase& c : opens) {
    std::unique_ptr<Folder> folder;
    EXPECT_EQ(Outcome(fs_->OpenFolder(tree_->Path(c.path), c.follow_link,
                                      &folder)),
              c.outcome)
        << c.path;
  }

  std::unique_ptr<Folder> base = Open("base");
  ASSERT_TRUE(base);
  EXPECT_EQ(List(*base),
            (std::vector<std::string>{"fifo:other", "in:folder",
                                      "to_file:link", "to_folder:link"}));
  std::unique_ptr<Folder> folder;
  for (const char* name : {"to_folder", "to_file", "fifo"}) {
    EXPECT_EQ(Outcome(fs_->OpenSubfolder(*base, name, &folder)),
              "Not a directory")
        << name;
  }
  for (const char* name : {"to_file", "in", "fifo"}) {
    std::unique_ptr<ReadableFile> file;
    FileInfo info;
    EXPECT_EQ(fs_->OpenForRead(*base, name, &file, &info).code(),
              Status::Code::kNotRegular)
        << name;
  }
  // Stat looks at the link itself, whose size is its target's length.
  EXPECT_EQ(StatOf(*base, "to_file").size, std::string("../outside/f").size());

  EXPECT_TRUE(fs_->Exists(*base, "to_file"));
  EXPECT_FALSE(fs_->Exists(*base, "none"));
  EXPECT_EQ(Outcome(fs_->Remove(*base, "in")), "Is a directory");
  EXPECT_EQ(Outcome(fs_->Remove(*base, "none")), "No such file or directory");
  EXPECT_EQ(Outcome(fs_->Remove(*base, "to_file")), "ok");
  Snapshot after = before;
  after.erase("tree/to_file");
  EXPECT_EQ(tree_->Now(), after);
}

TEST_P(FileSystemContractTest, StatTellsOneVersionFromTheNext) {
  Make({{"a", "1234"}, {"b", "x"}});
  const FileInfo first = StatOf(*root_, "a");
  EXPECT_TRUE(SameVersion(first, StatOf(*root_, "a")));
  ASSERT_TRUE(fs_->RenameNoReplace(*root_, "a", "c").ok());
  EXPECT_TRUE(SameVersion(first, StatOf(*root_, "c")));

  tree_->Write("c", "12345");
  const FileInfo longer = StatOf(*root_, "c");
  EXPECT_FALSE(SameVersion(first, longer));
  EXPECT_EQ(longer.inode, first.inode);  // written in place
  // The disk's clock may not tick between two quick writes of one size;
  // the memory file system promises more: every write is a new version.
  if (GetParam() == Backend::kMemory) {
    tree_->Write("c", "abcde");
    EXPECT_FALSE(SameVersion(longer, StatOf(*root_, "c")));
  }

  const FileInfo b = StatOf(*root_, "b");
  ASSERT_TRUE(fs_->ReplaceWith(*root_, "b", "c").ok());
  EXPECT_TRUE(SameVersion(b, StatOf(*root_, "c")));
}

INSTANTIATE_TEST_SUITE_P(
    Both, FileSystemContractTest,
    ::testing::Values(Backend::kDisk, Backend::kMemory),
    [](const ::testing::TestParamInfo<Backend>& info) {
      return info.param == Backend::kDisk ? "Disk" : "Memory";
    });

TEST(MemoryFileSystemTest, TheEngineRunsOnIt) {
  MemoryFileSystem fs({{"outside/old.txt", "old"},
                       {"tree/a.txt", "old\n"},
                       {"tree/keep.txt", "nothing"},
                       {"tree/new.txt", "taken"},
                       {"tree/old-link", "-> ../outside/old.txt"},
                       {"tree/old.txt", "old"},
                       {"tree/sub/old.txt", "x old"}});
  // Owners only a privileged process could give a file on the disk.
  fs.Chmod("tree/a.txt", 0444);
  fs.Chown("tree/a.txt", 1234, 5678);
  const FileInfo before = fs.Info("tree/a.txt");

  TestEngine engine(&fs);
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.settings.code_page = CodePage(1252);
  engine.settings.scan_threads = 2;  // calls from other threads too
  engine.ProcessFolder("tree");

  EXPECT_EQ(fs.Snapshot(), (Snapshot{{"outside", "<dir>"},
                                     {"outside/old.txt", "old"},
                                     {"tree", "<dir>"},
                                     {"tree/a.txt", "new\n"},
                                     {"tree/keep.txt", "nothing"},
                                     {"tree/new-link", "-> ../outside/old.txt"},
                                     {"tree/new.txt", "taken"},
                                     {"tree/old.txt", "new"},
                                     {"tree/sub", "<dir>"},
                                     {"tree/sub/new.txt", "x new"}}));
  EXPECT_EQ(engine.files,
            (std::vector<std::string>{"tree/a.txt", "tree/old-link",
                                      "tree/old.txt", "tree/sub/old.txt"}));
  EXPECT_EQ(engine.log().Entries("tree/old.txt"),
            (ChangeList{"Line 1: new",
                        "Failed to change File Name to: new.txt (File exists)"}));
  const FileInfo after = fs.Info("tree/a.txt");
  EXPECT_NE(after.inode, before.inode);  // a new file took its place
  EXPECT_EQ(after.mode, 0444u);
  EXPECT_EQ(after.owner, 1234u);
  EXPECT_EQ(after.group, 5678u);
}

}  // namespace
}  // namespace vs::test
