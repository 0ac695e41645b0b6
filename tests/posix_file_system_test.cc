#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/status.h"
#include "gtest/gtest.h"
#include "tests/refused_syscalls.h"
#include "tests/temp_folder.h"

namespace vs {
namespace {

using Code = Status::Code;

const char* KindName(FileKind kind) {
  switch (kind) {
    case FileKind::kRegular:
      return "file";
    case FileKind::kFolder:
      return "folder";
    case FileKind::kSymlink:
      return "link";
    case FileKind::kOther:
      return "other";
  }
  return "?";
}

// Bytes that differ from one offset to the next, so a piece written out
// of place or twice shows in the content.
std::string Pattern(std::size_t length, std::size_t seed) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>((seed + i) * 131 % 251);
  }
  return bytes;
}

class PosixFileSystemTest : public testing::Test {
 protected:
  void Link(const std::string& target, const std::string& relative) {
    ASSERT_EQ(symlink(target.c_str(), folder_.Path(relative).c_str()), 0);
  }
  void Fifo(const std::string& relative) {
    ASSERT_EQ(mkfifo(folder_.Path(relative).c_str(), 0600), 0);
  }
  struct stat Stat(const std::string& relative) {
    struct stat st = {};
    EXPECT_EQ(lstat(folder_.Path(relative).c_str(), &st), 0) << relative;
    return st;
  }

  // The folder the test works in, opened once.
  const Folder& Root() {
    if (!root_) {
      EXPECT_TRUE(fs_->OpenFolder(folder_.path(), false, &root_).ok());
    }
    return *root_;
  }

  std::map<std::string, std::string> Listing(const std::string& relative,
                                             bool follow_link, Status* status) {
    std::vector<FolderEntry> entries;
    std::unique_ptr<Folder> folder;
    *status = fs_->OpenFolder(folder_.Path(relative), follow_link, &folder);
    if (status->ok()) *status = fs_->ListFolder(*folder, &entries);
    std::map<std::string, std::string> kinds;
    for (const FolderEntry& entry : entries) {
      EXPECT_TRUE(kinds.emplace(entry.name, KindName(entry.kind)).second)
          << entry.name << " listed twice";
    }
    return kinds;
  }

  // Writes `pieces` through CreateExclusive and returns what they add up to.
  std::string WriteInPieces(const std::string& relative,
                            const std::vector<std::size_t>& pieces) {
    std::unique_ptr<WritableFile> file;
    FileInfo like;
    like.mode = 0644;
    EXPECT_TRUE(fs_->CreateExclusive(Root(), relative, like, &file).ok());
    std::string expected;
    for (std::size_t length : pieces) {
      std::string piece = Pattern(length, expected.size());
      EXPECT_TRUE(file->Append(piece.data(), piece.size()).ok());
      expected += piece;
    }
    EXPECT_TRUE(file->Sync().ok());
    EXPECT_TRUE(file->Close().ok());
    return expected;
  }

  FileSystem* const fs_ = RealFileSystem();
  test::TempFolder folder_;
  std::unique_ptr<Folder> root_;
};

TEST_F(PosixFileSystemTest, ListFolderTellsKindsWithoutFollowingLinks) {
  folder_.Write("top/file", "x");
  folder_.MakeFolder("top/sub");
  Link("sub", "top/to_sub");
  Link("missing", "top/dangling");
  Fifo("top/fifo");

  Status status;
  std::map<std::string, std::string> expected = {
      {"file", "file"},     {"sub", "folder"}, {"to_sub", "link"},
      {"dangling", "link"}, {"fifo", "other"},
  };
  EXPECT_EQ(Listing("top", false, &status), expected);
  EXPECT_TRUE(status.ok()) << status.reason();
}

// More entries than one read of the folder returns, listed twice through
// the same open folder: each listing has every entry once.
TEST_F(PosixFileSystemTest, ListFolderListsLargeFoldersWholeAndAgain) {
  std::set<std::string> names;
  for (int i = 0; i < 600; ++i) {
    std::string name = std::to_string(i) + "-" + std::string(100, 'n');
    folder_.Write("big/" + name, "");
    names.insert(name);
  }
  std::unique_ptr<Folder> big;
  ASSERT_TRUE(fs_->OpenFolder(folder_.Path("big"), false, &big).ok());
  for (int listing = 0; listing < 2; ++listing) {
    SCOPED_TRACE(listing);
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(fs_->ListFolder(*big, &entries).ok());
    std::multiset<std::string> listed;
    for (const FolderEntry& entry : entries) listed.insert(entry.name);
    EXPECT_EQ(listed, std::multiset<std::string>(names.begin(), names.end()));
  }
}

TEST_F(PosixFileSystemTest, ListFolderFollowsALinkOnlyWhenAsked) {
  folder_.Write("real/inner", "x");
  Link("real", "link");
  folder_.Write("file", "x");

  const std::map<std::string, std::string> inner = {{"inner", "file"}};
  struct Case {
    const char* path;
    bool follow_link;
    bool ok;
    std::map<std::string, std::string> kinds;
  } cases[] = {
      {"link", true, true, inner},  {"link", false, false, {}},
      {"real", false, true, inner}, {"missing", true, false, {}},
      {"file", true, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.follow_link ? " following" : ""));
    Status status;
    EXPECT_EQ(Listing(c.path, c.follow_link, &status), c.kinds);
    EXPECT_EQ(status.ok(), c.ok);
    EXPECT_EQ(status.reason().empty(), c.ok);
  }
}

// Work inside an open folder stays there when the folder is moved and a
// link to somewhere else takes its name.
TEST_F(PosixFileSystemTest, AnOpenFolderCannotBeSwappedForALink) {
  folder_.Write("sub/file", "inside");
  folder_.Write("elsewhere/file", "outside");
  std::unique_ptr<Folder> sub;
  ASSERT_TRUE(fs_->OpenSubfolder(Root(), "sub", &sub).ok());
  EXPECT_EQ(sub->path(), folder_.path() + "/sub");
  ASSERT_EQ(rename(folder_.Path("sub").c_str(), folder_.Path("moved").c_str()),
            0);
  Link("elsewhere", "sub");

  std::unique_ptr<WritableFile> file;
  ASSERT_TRUE(fs_->CreateExclusive(*sub, "new", FileInfo(), &file).ok());
  ASSERT_TRUE(file->Close().ok());
  ASSERT_TRUE(fs_->ReplaceWith(*sub, "new", "file").ok());
  EXPECT_EQ(folder_.Read("moved/file"), "");
  EXPECT_EQ(folder_.Read("elsewhere/file"), "outside");

  std::unique_ptr<Folder> link;
  EXPECT_FALSE(fs_->OpenSubfolder(Root(), "sub", &link).ok());
}

TEST_F(PosixFileSystemTest, OpenForReadRefusesAllButRegularFiles) {
  folder_.Write("file", "x");
  folder_.MakeFolder("folder");
  Link("file", "link");
  Fifo("fifo");  // nobody writes: a blocking open would never return

  struct Case {
    const char* path;
    Code code;
  } cases[] = {
      {"link", Code::kNotRegular},
      {"fifo", Code::kNotRegular},
      {"folder", Code::kNotRegular},
      {"missing", Code::kNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::unique_ptr<ReadableFile> file;
    FileInfo info;
    Status status = fs_->OpenForRead(Root(), c.path, &file, &info);
    EXPECT_EQ(status.code(), c.code) << status.reason();
    EXPECT_FALSE(status.reason().empty());
    EXPECT_EQ(file, nullptr);
  }
}

TEST_F(PosixFileSystemTest, OpenForReadGivesInfoAndReadsAgainAfterRewind) {
  const std::string content = Pattern(10000, 7);
  folder_.Write("file", content);
  ASSERT_EQ(chmod(folder_.Path("file").c_str(), 02741), 0);

  std::unique_ptr<ReadableFile> file;
  FileInfo info;
  ASSERT_TRUE(fs_->OpenForRead(Root(), "file", &file, &info).ok());
  struct stat st = Stat("file");
  EXPECT_EQ(info.mode, 02741u);
  EXPECT_EQ(info.owner, st.st_uid);
  EXPECT_EQ(info.group, st.st_gid);
  EXPECT_EQ(info.size, content.size());

  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    std::string read;
    char buffer[4096];
    std::size_t got;
    do {
      ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got).ok());
      read.append(buffer, got);
    } while (got > 0);
    EXPECT_EQ(read, content);
    ASSERT_TRUE(file->Rewind().ok());
  }
}

TEST_F(PosixFileSystemTest, CreateExclusiveRefusesAnyExistingName) {
  folder_.Write("file", "old");
  Link("target", "dangling");
  const auto before = folder_.Snapshot();

  for (const char* name : {"file", "dangling"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<WritableFile> file;
    Status status = fs_->CreateExclusive(Root(), name, FileInfo(), &file);
    EXPECT_EQ(status.code(), Code::kExists) << status.reason();
    EXPECT_EQ(file, nullptr);
  }
  EXPECT_EQ(folder_.Snapshot(), before);  // no link target appeared either
}

TEST_F(PosixFileSystemTest, CreateExclusiveCopiesModeWhateverTheUmask) {
  mode_t old_umask = umask(022);
  for (mode_t mode : {0600, 0666, 0444, 0750, 04755, 02770}) {
    SCOPED_TRACE(mode);
    std::string name = "new" + std::to_string(mode);
    std::string path = folder_.Path(name);
    FileInfo like;
    like.mode = mode;
    like.owner = geteuid();
    like.group = getegid();
    std::unique_ptr<WritableFile> file;
    ASSERT_TRUE(fs_->CreateExclusive(Root(), name, like, &file).ok());
    // Neither a read-only mode stops the writes through the open file
    // nor do the writes cost the set-id bits (they do unless privileged).
    EXPECT_TRUE(file->Append("data", 4).ok());
    EXPECT_TRUE(file->Close().ok());
    struct stat st = {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_EQ(st.st_size, 4);
  }
  umask(old_umask);
}

// Giving the file away must come before the mode: a change of owner
// clears the set-id bits. Without the privilege, the file stays ours.
TEST_F(PosixFileSystemTest, CreateExclusiveCopiesOwnerWhereAllowed) {
  FileInfo like;
  like.mode = 06755;
  like.owner = geteuid() == 0 ? 4321 : 0;
  like.group = geteuid() == 0 ? 8765 : 0;
  std::unique_ptr<WritableFile> file;
  Status status = fs_->CreateExclusive(Root(), "new", like, &file);
  ASSERT_TRUE(status.ok()) << status.reason();
  EXPECT_TRUE(file->Close().ok());

  struct stat st = Stat("new");
  if (geteuid() == 0) {
    EXPECT_EQ(st.st_uid, like.owner);
    EXPECT_EQ(st.st_gid, like.group);
    EXPECT_EQ(st.st_mode & 07777, like.mode);
  } else {
    EXPECT_EQ(st.st_uid, geteuid());
  }
}

TEST_F(PosixFileSystemTest, RenameNoReplaceLeavesAnExistingNameAlone) {
  folder_.Write("from", "new");
  folder_.Write("file", "old");
  Link("target", "dangling");
  const auto before = folder_.Snapshot();

  for (const char* to : {"file", "dangling"}) {
    SCOPED_TRACE(to);
    Status status = fs_->RenameNoReplace(Root(), "from", to);
    EXPECT_EQ(status.code(), Code::kExists) << status.reason();
    EXPECT_EQ(folder_.Snapshot(), before);
  }

  ASSERT_TRUE(fs_->RenameNoReplace(Root(), "from", "free").ok());
  EXPECT_FALSE(folder_.Exists("from"));
  EXPECT_EQ(folder_.Read("free"), "new");
}

// Where the system lacks a call RenameNoReplace prefers, it falls back:
// renameat2's RENAME_NOREPLACE refused (an older kernel, a file system
// without it) leads to a hard link and an unlink of the old name, and
// hard links refused (FAT, say) to a look at the new name and a plain
// rename. Each way, the file ends under exactly one of its names, and
// nothing is changed when the call fails.
TEST_F(PosixFileSystemTest, RenameNoReplaceFallsBackWhereTheSystemRefuses) {
#if !defined(__linux__)
  GTEST_SKIP() << "system calls are refused through seccomp, on Linux only";
#else
  // The refusal of the old name's unlink picks that call by the address
  // of the name's characters, which RenameNoReplace passes on as given.
  const std::string from = "from";
  const std::string to = "to";
  auto no_replace = [](int error) {
    return test::RefusedSyscall{SYS_renameat2, error, /*arg=*/4,
                                RENAME_NOREPLACE, RENAME_NOREPLACE};
  };
  auto link = [](int error) { return test::RefusedSyscall{SYS_linkat, error}; };
  const test::RefusedSyscall unlink_from{
      SYS_unlinkat, EIO, /*arg=*/1, ~std::uint64_t{0},
      reinterpret_cast<std::uintptr_t>(from.c_str())};

  enum class Taken { kNo, kByAFile, kByADanglingLink };
  struct Case {
    const char* name;
    std::vector<test::RefusedSyscall> refused;
    Taken taken;  // what `to` is before the call
    int error;    // the call's errno; 0: the file is moved
  } cases[] = {
      {"no RENAME_NOREPLACE (EINVAL): linked, then unlinked",
       {no_replace(EINVAL)}, Taken::kNo, 0},
      {"no renameat2 (ENOSYS), the name taken", {no_replace(ENOSYS)},
       Taken::kByAFile, EEXIST},
      {"no RENAME_NOREPLACE (EOPNOTSUPP), the name a dangling link",
       {no_replace(EOPNOTSUPP)}, Taken::kByADanglingLink, EEXIST},
      {"renameat2 fails for another reason: no fallback",
       {no_replace(EACCES)}, Taken::kNo, EACCES},
      {"no hard links (EPERM): looked at, then renamed",
       {no_replace(EINVAL), link(EPERM)}, Taken::kNo, 0},
      {"no hard links (EOPNOTSUPP)", {no_replace(EINVAL), link(EOPNOTSUPP)},
       Taken::kNo, 0},
      {"too many links (EMLINK), the name taken",
       {no_replace(EINVAL), link(EMLINK)}, Taken::kByAFile, EEXIST},
      {"no linkat (ENOSYS), the name a dangling link",
       {no_replace(EINVAL), link(ENOSYS)}, Taken::kByADanglingLink, EEXIST},
      {"the link fails (EIO)", {no_replace(EINVAL), link(EIO)}, Taken::kNo,
       EIO},
      {"the link is denied (EACCES)", {no_replace(EINVAL), link(EACCES)},
       Taken::kNo, EACCES},
      {"the old name's unlink fails after the link: the link is undone",
       {no_replace(EINVAL), unlink_from}, Taken::kNo, EIO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFolder folder;
    folder.Write(from, "content");
    if (c.taken == Taken::kByAFile) folder.Write(to, "other");
    if (c.taken == Taken::kByADanglingLink) {
      ASSERT_EQ(symlink("missing", folder.Path(to).c_str()), 0);
    }
    const auto before = folder.Snapshot();
    struct stat old_st = {};
    ASSERT_EQ(lstat(folder.Path(from).c_str(), &old_st), 0);
    std::unique_ptr<Folder> open;
    ASSERT_TRUE(fs_->OpenFolder(folder.path(), false, &open).ok());

    Status status;
    if (!test::RunWithRefusedSyscalls(
            c.refused, [&] { return fs_->RenameNoReplace(*open, from, to); },
            &status)) {
      GTEST_SKIP() << "no seccomp filter can be installed here";
    }

    if (c.error == 0) {
      EXPECT_TRUE(status.ok()) << status.reason();
      EXPECT_EQ(folder.Snapshot(),
                (std::map<std::string, std::string>{{to, "content"}}));
    } else {
      EXPECT_EQ(status.code(), Status::FromErrno(c.error).code());
      EXPECT_EQ(status.reason(), std::strerror(c.error));
      EXPECT_EQ(folder.Snapshot(), before);
    }
    // The very file, moved or not, and under one name only.
    struct stat st = {};
    if (lstat(folder.Path(c.error == 0 ? to : from).c_str(), &st) == 0) {
      EXPECT_EQ(st.st_ino, old_st.st_ino);
      EXPECT_EQ(st.st_nlink, 1u);
    }
  }
#endif
}

TEST_F(PosixFileSystemTest, ReplaceWithOverwritesAndRemoveDeletes) {
  folder_.Write("from", "new");
  folder_.Write("to", "old");
  ASSERT_TRUE(fs_->ReplaceWith(Root(), "from", "to").ok());
  EXPECT_EQ(folder_.Snapshot(),
            (std::map<std::string, std::string>{{"to", "new"}}));

  ASSERT_TRUE(fs_->Remove(Root(), "to").ok());
  EXPECT_EQ(fs_->Remove(Root(), "to").code(), Code::kNotFound);
  EXPECT_TRUE(folder_.Snapshot().empty());
}

TEST_F(PosixFileSystemTest, ExistsCountsADanglingLink) {
  Link("missing", "dangling");
  EXPECT_TRUE(fs_->Exists(Root(), "dangling"));
  EXPECT_FALSE(fs_->Exists(Root(), "missing"));
}

// Appends below, at and above the 256 KiB write buffer, crossing its end
// with buffered bytes before a large piece.
TEST_F(PosixFileSystemTest, AppendKeepsBytesInOrderAcrossTheBuffer) {
  constexpr std::size_t kBuffer = 256 * 1024;
  const std::vector<std::vector<std::size_t>> cases = {
      {},
      {1},
      {kBuffer},
      {kBuffer - 1, 2, kBuffer + 1},
      {10, kBuffer, 10},
      {100000, 100000, 100000, 1, 3 * kBuffer},
      std::vector<std::size_t>(700, 1000),
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    std::string name = "out" + std::to_string(i);
    std::string expected = WriteInPieces(name, cases[i]);
    EXPECT_TRUE(folder_.Read(name) == expected)
        << "read " << folder_.Read(name).size() << " bytes, want "
        << expected.size();
  }
}

TEST_F(PosixFileSystemTest, FlushHandsBufferedBytesToTheSystem) {
  std::unique_ptr<WritableFile> file;
  FileInfo like;
  like.mode = 0600;
  ASSERT_TRUE(fs_->CreateExclusive(Root(), "out", like, &file).ok());
  ASSERT_TRUE(file->Append("abc", 3).ok());
  ASSERT_TRUE(file->Flush().ok());
  EXPECT_EQ(folder_.Read("out"), "abc");
  ASSERT_TRUE(file->Append("def", 3).ok());
  ASSERT_TRUE(file->Close().ok());
  EXPECT_EQ(folder_.Read("out"), "abcdef");
  EXPECT_FALSE(file->Append("x", 1).ok());
  EXPECT_FALSE(file->Close().ok());
}

}  // namespace
}  // namespace vs
