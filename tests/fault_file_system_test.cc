#include "tests/fault_file_system.h"

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/temp_folder.h"

namespace vs::test {
namespace {

using Op = FaultFileSystem::Op;

TEST(FaultFileSystemTest, FullDiskKeepsExactlyTheBytesItAccepted) {
  TempFolder folder;
  FaultFileSystem fs;
  fs.FailAlways(Op::kAppend, "out", FaultFileSystem::DiskFull(), 10);
  FileInfo like;
  like.mode = 0600;
  std::unique_ptr<Folder> root;
  ASSERT_TRUE(fs.OpenFolder(folder.path(), false, &root).ok());
  std::unique_ptr<WritableFile> file;
  ASSERT_TRUE(fs.CreateExclusive(*root, "out", like, &file).ok());

  EXPECT_TRUE(file->Append("123456", 6).ok());
  EXPECT_TRUE(file->Append("7890", 4).ok());
  EXPECT_EQ(file->Append("x", 1).code(), Status::Code::kNoSpace);
  EXPECT_EQ(file->Append("y", 1).code(), Status::Code::kNoSpace);
  EXPECT_TRUE(file->Close().ok());

  EXPECT_EQ(folder.Read("out"), "1234567890");
  const std::string out = folder.Path("out");
  EXPECT_EQ(fs.calls(),
            (std::vector<std::string>{"OpenFolder " + folder.path(),
                                      "CreateExclusive " + out, "Append " + out,
                                      "Append " + out, "Append " + out,
                                      "Append " + out, "Close " + out}));
}

TEST(FaultFileSystemTest, RulesCountMatchingCallsAndFailOnce) {
  TempFolder folder;
  folder.Write("list/a", "a");
  folder.Write("list/b", "b");
  folder.Write("list/c", "c");
  FaultFileSystem fs;
  // The second open of b fails; opens of a neither count nor fail.
  fs.FailNext(Op::kOpenForRead, "/b", FaultFileSystem::IoError(), 1);
  fs.FailNext(Op::kListFolderAfter, "list", FaultFileSystem::IoError(), 2);

  std::unique_ptr<Folder> list;
  ASSERT_TRUE(fs.OpenFolder(folder.Path("list"), false, &list).ok());
  std::vector<bool> opened;
  for (const char* name : {"a", "b", "a", "b", "b"}) {
    std::unique_ptr<ReadableFile> file;
    FileInfo info;
    opened.push_back(fs.OpenForRead(*list, name, &file, &info).ok());
  }
  EXPECT_EQ(opened, (std::vector<bool>{true, true, true, false, true}));

  std::vector<FolderEntry> entries;
  EXPECT_EQ(fs.ListFolder(*list, &entries).code(),
            Status::Code::kIOError);
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_TRUE(fs.ListFolder(*list, &entries).ok());
  EXPECT_EQ(entries.size(), 3u);
}

}  // namespace
}  // namespace vs::test
