// A FileSystem held wholly in memory, for tests that run the engine
// without a disk: folders, regular files, symbolic links and "other"
// entries (FIFOs, sockets, devices) in one tree, with the same contract
// as the POSIX file system, down to the errno of each failure.
//
//   MemoryFileSystem fs({{"tree/a.txt", "old\n"}, {"tree/sub", "<dir>"}});
//   TestEngine engine(&fs);
//   engine.ProcessFolder("tree");
//   EXPECT_EQ(fs.Read("tree/a.txt"), "new\n");
//
// Paths name entries from the root of the tree; a leading "/" is allowed
// and "." is the root itself. A regular file has an inode number of its
// own and a modification time that is a counter, advanced by every write
// anywhere in the tree, so any write makes a new version. Permission bits
// are kept but never enforced, and CreateExclusive gives a file the owner
// and group it is asked for, as a privileged process can. Extended
// attributes are a map of names to values, which KeepMetadata copies; a
// new file in a folder with a "system.posix_acl_default" inherits it as
// its "system.posix_acl_access", as on a disk. A file opened
// for reading reads what the file held at the open: a later write is for
// Stat to notice, as the engine does. Any thread may call it at any time.
// The file system must outlive every folder and file it opened.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/mutex.h"
#include "engine/thread_annotations.h"

namespace vs::test {

class MemoryFileSystem final : public FileSystem {
 public:
  // Sets up a tree given in the form Snapshot() returns: each path maps
  // to a file's content, "<dir>" for a folder, "-> TARGET" for a symbolic
  // link and "<special>" for anything else. Folders on the way are made.
  explicit MemoryFileSystem(
      const std::map<std::string, std::string>& tree = {});
  ~MemoryFileSystem() override;
  MemoryFileSystem(const MemoryFileSystem&) = delete;
  MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

  // Ways for a test to set up and look at the tree, with the folders on
  // the way made as needed; none follows a symbolic link. They throw
  // std::runtime_error where they cannot do what they are asked.

  // Writes `bytes` into the file `path`, in place (a new version of the
  // same file) if it exists.
  void Write(const std::string& path, const std::string& bytes);
  void MakeFolder(const std::string& path);
  void MakeLink(const std::string& path, const std::string& target);
  // A FIFO, socket or device: nothing that can be read or listed.
  void MakeOther(const std::string& path);
  // Gives the file `existing` a second name, `path` (a hard link).
  void Link(const std::string& existing, const std::string& path);
  // Removes `path`, and everything in it if it is a folder.
  void Delete(const std::string& path);
  void Chmod(const std::string& path, mode_t mode);
  // Makes the folder `path` a mount point: it and everything in it are
  // on the device `device`.
  void Mount(const std::string& path, dev_t device);
  void Chown(const std::string& path, uid_t owner, gid_t group);
  void SetAttribute(const std::string& path, const std::string& name,
                    const std::string& value);
  // From now on the attribute `name` cannot be set on a file, as one the
  // process may not set: KeepMetadata fails where it would have to.
  void RefuseAttribute(const std::string& name);

  // The file's whole content.
  std::string Read(const std::string& path) const;
  // What Stat gives for `path`.
  FileInfo Info(const std::string& path) const;
  // The extended attributes of `path`, by name.
  std::map<std::string, std::string> Attributes(const std::string& path) const;
  bool Exists(const std::string& path) const;
  // Every entry below the folder `path` (the root by default), by path
  // relative to it, in the form the constructor takes, as
  // TempFolder::Snapshot gives it for a folder on the disk.
  std::map<std::string, std::string> Snapshot(
      const std::string& path = ".") const;

  void set_open_files_limit(std::size_t limit);

  // The FileSystem. Calls on an open folder take bare names, as the
  // engine's do: ".", ".." and a name with a "/" give EINVAL.
  Status OpenFolder(const std::string& path, bool follow_link,
                    std::unique_ptr<Folder>* folder) override;
  Status OpenSubfolder(const Folder& parent, const std::string& name,
                       std::unique_ptr<Folder>* folder) override;
  // Lists in reverse byte order, so that nothing can come to lean on
  // the order of a listing.
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
  // Holds without a lease: Undisturbed sees a write by the file's
  // version alone.
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
  // Paths are taken from the root: "a/b" is "/a/b".
  Status AbsolutePath(const std::string& path, std::string* absolute) override;
  // 1024 unless set_open_files_limit said otherwise; nothing counts the
  // files held open against it.
  std::size_t OpenFilesLimit() override;

 private:
  struct Node;
  class MemoryFolder;
  class NewFile;
  class Held;
  using NodePtr = std::shared_ptr<Node>;

  NodePtr NewNode(FileKind kind) REQUIRES(mutex_);
  // Marks `node` written now.
  void Touch(Node* node) REQUIRES(mutex_);
  // The entry `name` of `folder`, or null.
  static NodePtr Find(const Node& folder, const std::string& name);
  void AddEntry(Node* folder, const std::string& name, NodePtr node)
      REQUIRES(mutex_);
  void DropEntry(Node* folder, const std::string& name) REQUIRES(mutex_);

  // The regular file `name` of `folder`, as an open with O_NOFOLLOW finds
  // it, or the errno such an open gives.
  Status FindRegular(const Folder& folder, const std::string& name,
                     NodePtr* node) REQUIRES(mutex_);
  // The node `path` names, following symbolic links on the way, and at
  // its end too if `follow_last` is set, as open(2) does.
  Status Resolve(const std::string& path, bool follow_last,
                 NodePtr* node) const REQUIRES(mutex_);
  // The folder holding the entry `path` names, made with the folders on
  // the way if need be, and the entry's name; for the test's calls.
  Node* ParentOf(const std::string& path, std::string* name) REQUIRES(mutex_);
  // The entry `path` names, without following links; throws if none.
  NodePtr EntryAt(const std::string& path) const REQUIRES(mutex_);
  // Puts `node` at `path`, where nothing may be yet.
  void Put(const std::string& path, NodePtr node) REQUIRES(mutex_);
  void SnapshotInto(const Node& folder, const std::string& prefix,
                    std::map<std::string, std::string>* out) const
      REQUIRES(mutex_);

  // Guards the whole tree, every node reachable from root_ or from an
  // open folder or file (which the analysis cannot follow beyond root_),
  // and the counters below.
  mutable Mutex mutex_;
  const NodePtr root_ GUARDED_BY(mutex_);
  std::int64_t clock_ GUARDED_BY(mutex_) = 0;  // the last write's time
  ino_t next_inode_ GUARDED_BY(mutex_) = 1;
  std::size_t open_files_limit_ GUARDED_BY(mutex_) = 1024;
  std::vector<std::string> refused_attributes_ GUARDED_BY(mutex_);
};

}  // namespace vs::test
