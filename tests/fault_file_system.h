// A FileSystem for tests: forwards every call to another FileSystem,
// records the calls it saw, and fails the calls its rules pick out.
//
//   FaultFileSystem fs;
//   fs.FailNext(FaultFileSystem::Op::kAppend, "a.txt",
//               FaultFileSystem::DiskFull(), /*after=*/100);
//
// lets the file a.txt take 100 bytes; the Append that would go past
// them fails and writes nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/mutex.h"
#include "engine/status.h"
#include "engine/thread_annotations.h"

namespace vs::test {

class FaultFileSystem final : public FileSystem {
 public:
  // The call a rule fails. A rule lets `after` units pass and fails the
  // call that goes past them; the unit is a matching call unless noted.
  enum class Op {
    kOpenFolder,  // the base folder or a subfolder
    kListFolder,
    kListFolderAfter,  // listed entries: returns the first `after` of them
    kOpenForRead,
    kRead,
    kCreateExclusive,
    kKeepMetadata,  // on the original's path
    kAppend,  // bytes one file has taken; the failing Append writes none
    kFlush,
    kSync,
    kClose,  // the wrapped file is closed all the same, as close(2) does
    kHoldForReplace,
    kExchange,
    // HeldFile::Undisturbed: a hook here runs after the swap, before the
    // run confirms it.
    kUndisturbed,
    // StillReaches, on the folder's path: a failing rule makes it false.
    kStillReaches,
    kReplaceWith,
    kRenameNoReplace,
    kRemove,
    kMoveNoReplace,
    kCreateFolder,
    kRemoveFolder,
  };

  explicit FaultFileSystem(FileSystem* base = RealFileSystem());

  // A rule for calls of `op` on a path containing `path_part` (either
  // path, for the renames). A failed call is not forwarded, so it changes
  // nothing. FailNext's rule fails once; FailAlways's every time.
  void FailNext(Op op, std::string path_part, Status status,
                std::uint64_t after = 0) EXCLUDES(mutex_);
  void FailAlways(Op op, std::string path_part, Status status,
                  std::uint64_t after = 0) EXCLUDES(mutex_);

  static Status DiskFull();
  static Status IoError();

  // Runs `hook` before every Read of a file whose path contains
  // `path_part`, with the number of that read among them (from 1), so a
  // test can change the file while the engine reads it.
  void OnRead(std::string path_part,
              std::function<void(std::uint64_t read_number)> hook)
      EXCLUDES(mutex_);
  // Runs `hook` before every call of `op` on a path containing
  // `path_part` (any op but kRead, kAppend and kListFolderAfter).
  void Before(Op op, std::string path_part, std::function<void()> hook)
      EXCLUDES(mutex_);

  // "Name PATH" ("Name FROM TO" for the renames) for each call in the
  // order made, failed ones included, with full paths; Read, Rewind,
  // Stat and Exists are left out.
  std::vector<std::string> calls() const EXCLUDES(mutex_);

  Status OpenFolder(const std::string& path, bool follow_link,
                    std::unique_ptr<Folder>* folder) override;
  Status OpenSubfolder(const Folder& parent, const std::string& name,
                       std::unique_ptr<Folder>* folder) override;
  Status ListFolder(const Folder& folder,
                    std::vector<FolderEntry>* entries) override;
  Status OpenForRead(const Folder& folder, const std::string& name,
                     std::unique_ptr<ReadableFile>* file,
                     FileInfo* info) override;
  bool StillReaches(const Folder& base, const std::string& relative,
                    const Folder& folder) override;
  Status StatFolder(const Folder& folder, FileInfo* info) override;
  Status Stat(const Folder& folder, const std::string& name,
              FileInfo* info) override;
  Status CreateExclusive(const Folder& folder, const std::string& name,
                         const FileInfo& like,
                         std::unique_ptr<WritableFile>* file) override;
  Status KeepMetadata(const Folder& folder, const std::string& original,
                      WritableFile* file) override;
  Status HoldForReplace(const Folder& folder, const std::string& name,
                        std::unique_ptr<HeldFile>* held,
                        FileInfo* info) override;
  Status Exchange(const Folder& folder, const std::string& a,
                  const std::string& b) override;
  Status ReplaceWith(const Folder& folder, const std::string& from,
                     const std::string& to) override;
  Status RenameNoReplace(const Folder& folder, const std::string& from,
                         const std::string& to) override;
  Status Remove(const Folder& folder, const std::string& name) override;
  Status MoveNoReplace(const Folder& from_folder, const std::string& from,
                       const Folder& to_folder,
                       const std::string& to) override;
  Status CreateFolder(const Folder& parent, const std::string& name,
                      mode_t mode) override;
  Status RemoveFolder(const Folder& parent, const std::string& name) override;
  bool Exists(const Folder& folder, const std::string& name) override;
  std::size_t OpenFilesLimit() override { return base_->OpenFilesLimit(); }
  Status AbsolutePath(const std::string& path, std::string* absolute) override {
    return base_->AbsolutePath(path, absolute);
  }

 private:
  class WrappedFolder;
  class ReadFile;
  class WriteFile;
  class Held;

  struct ReadHook {
    std::string path_part;
    std::function<void(std::uint64_t)> hook;
    std::uint64_t reads = 0;
  };

  struct CallHook {
    Op op;
    std::string path_part;
    std::function<void()> hook;
  };

  struct Rule {
    Op op;
    std::string path_part;
    Status status;
    std::uint64_t after;
    bool once;
    std::uint64_t calls = 0;  // matching calls seen, for call-counted ops
  };

  void AddRule(Rule rule) EXCLUDES(mutex_);
  void Record(const std::string& name, const std::string& args)
      EXCLUDES(mutex_);
  // Runs the hooks set Before the call, records "name args" and returns
  // the failure a rule sets for the call.
  Status Intercept(Op op, const std::string& name, const std::string& args)
      EXCLUDES(mutex_);
  // The rule that fails this call, if any; `count` is the op's count with
  // this call included, for the ops that do not count calls.
  std::optional<Rule> Fire(Op op, const std::string& args, std::uint64_t count)
      EXCLUDES(mutex_);

  // The folder of the file system below, and the full path of `name`.
  static const Folder& Base(const Folder& folder);
  static std::string PathOf(const Folder& folder, const std::string& name);
  void RunReadHooks(const std::string& path) EXCLUDES(mutex_);

  FileSystem* const base_;  // safe to share between threads itself
  // The engine calls in from several threads at once. Guards the rules,
  // the hooks and the record of calls; a hook runs outside it, so it may
  // call the file system itself.
  mutable Mutex mutex_;
  std::vector<Rule> rules_ GUARDED_BY(mutex_);
  std::vector<ReadHook> read_hooks_ GUARDED_BY(mutex_);
  std::vector<CallHook> call_hooks_ GUARDED_BY(mutex_);
  std::vector<std::string> calls_ GUARDED_BY(mutex_);
};

}  // namespace vs::test
