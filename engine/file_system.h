// Every call the engine makes on files and folders goes through
// FileSystem, so tests can run the engine on a double that records calls
// and injects failures. RealFileSystem() is the POSIX implementation.
//
// Threads: every FileSystem, and so every implementation, is safe to call
// from many threads at once; the engine calls it from its helper threads
// while the walk calls it too. The objects it hands out are not:
//   - A ReadableFile or WritableFile is used by one thread at a time. It
//     may pass to another thread where the handover synchronises (a lock,
//     a future), as a new file does on its way to the disk.
//   - A Folder may be shared, read-only, by many threads at once: any
//     number of calls may name it together, as long as it outlives them.
//     The one exception is listing: ListFolder of one Folder does not run
//     on two threads at once.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/scratch_file.h"
#include "engine/status.h"

namespace vs {

enum class FileKind {
  kRegular,
  kFolder,
  kSymlink,  // never followed, whatever it points at
  kOther,    // FIFO, socket, device
};

struct FolderEntry {
  std::string name;  // the bare name as listed, never "." or ".."
  FileKind kind;
};

// What the rewrite copies from the old file to its replacement, and what
// tells one version of a file from another.
struct FileInfo {
  mode_t mode = 0;  // permission bits only (07777)
  uid_t owner = 0;
  gid_t group = 0;
  std::uint64_t size = 0;
  dev_t device = 0;
  ino_t inode = 0;
  std::int64_t modified_ns = 0;  // content last changed
  std::int64_t changed_ns = 0;   // content, names or metadata last changed
  std::uint64_t links = 1;       // names the file has
};

// Whether `a` and `b` describe the same file, unchanged in between.
bool SameVersion(const FileInfo& a, const FileInfo& b);

// Whether `now` is the very file `read` described, untouched since: the
// same version, and for a file of one name the same change time too, so
// a change of mode, owner or attributes counts. The change time of a file
// of several names also moves when another of its names is replaced, as
// the run itself may do: there it is left out.
bool UntouchedSince(const FileInfo& read, const FileInfo& now);

// An open folder. Every call on a file names it by its bare name inside
// an open folder, so a folder that is moved or replaced by a link while
// the run works in it can never lead the run somewhere else.
class Folder {
 public:
  explicit Folder(std::string path) : path_(std::move(path)) {}
  virtual ~Folder() = default;
  // The path it was opened by, for messages.
  const std::string& path() const { return path_; }

 private:
  const std::string path_;
};

// An open regular file, read from its start.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to `capacity` bytes into `buffer`; *got is 0 at the end.
  virtual Status Read(char* buffer, std::size_t capacity, std::size_t* got) = 0;
  // Goes back to the first byte, for a second pass over the same file.
  virtual Status Rewind() = 0;
};

// A new file being written. Nothing is durable until Sync() succeeds.
class WritableFile {
 public:
  virtual ~WritableFile() = default;  // closes without reporting
  virtual Status Append(const char* data, std::size_t length) = 0;
  // Hands buffered bytes to the system and lets go of the buffer.
  virtual Status Flush() = 0;
  // Flushes and waits until the bytes are on the disk.
  virtual Status Sync() = 0;
  virtual Status Close() = 0;
};

// A file about to be replaced, held open from the last check of it until
// its replacement is confirmed. Letting go (destroying it) never blocks.
class HeldFile {
 public:
  virtual ~HeldFile() = default;
  // Whether the held file is still the version `read` describes, and no
  // other program has opened it for writing or truncated it since it was
  // held, as far as the system tells (see HoldForReplace).
  virtual bool Undisturbed(const FileInfo& read) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens the folder `path`, following a symbolic link only if
  // `follow_link` is set.
  virtual Status OpenFolder(const std::string& path, bool follow_link,
                            std::unique_ptr<Folder>* folder) = 0;
  // Opens the subfolder `name` of `parent`; a symbolic link is refused.
  virtual Status OpenSubfolder(const Folder& parent, const std::string& name,
                               std::unique_ptr<Folder>* folder) = 0;

  // Reads a folder's whole listing, "." and ".." left out, in the order
  // the system gives. On a failure part-way `entries` holds what was
  // listed before it. Not on two threads at once for one `folder`: a
  // listing moves the folder's read position.
  virtual Status ListFolder(const Folder& folder,
                            std::vector<FolderEntry>* entries) = 0;

  // Opens a regular file for reading without following a symbolic link
  // and without blocking on a FIFO; anything else gives kNotRegular.
  virtual Status OpenForRead(const Folder& folder, const std::string& name,
                             std::unique_ptr<ReadableFile>* file,
                             FileInfo* info) = 0;

  // Whether `relative` (names joined by "/", none "." or "..") below the
  // open folder `base` still names the open folder `folder`, through
  // folders alone: no symbolic link is followed on the way.
  virtual bool StillReaches(const Folder& base, const std::string& relative,
                            const Folder& folder) = 0;

  // What the open folder `folder` is now: its device and inode above all.
  virtual Status StatFolder(const Folder& folder, FileInfo* info) = 0;

  // What `name` is now, without following a symbolic link.
  virtual Status Stat(const Folder& folder, const std::string& name,
                      FileInfo* info) = 0;

  // Creates a new file that must not exist yet (not even as a dangling
  // link), with `like`'s permission bits, and its owner and group where
  // the process may set them (KeepMetadata tells whether it could). An
  // existing name gives kExists.
  virtual Status CreateExclusive(const Folder& folder, const std::string& name,
                                 const FileInfo& like,
                                 std::unique_ptr<WritableFile>* file) = 0;

  // Makes `file`, just made by CreateExclusive in `folder` and not yet
  // written to, carry everything the file `original` of `folder` carries
  // besides its bytes and times, so it can take `original`'s place: the
  // owner and group CreateExclusive was asked for, every extended
  // attribute the process can read (POSIX ACLs, security labels, file
  // capabilities, user attributes) and the inode flags that can be set
  // (nodump, noatime, nocow, ...), and nothing that `file` inherited
  // from its folder instead. A file system without extended attributes
  // or flags has none to carry. A failure names what could not be kept
  // ("cannot keep the file's owner"), or says the original cannot be
  // replaced at all (immutable, append-only, fs-verity); `file` is then
  // to be removed, as it may carry part of it.
  virtual Status KeepMetadata(const Folder& folder, const std::string& original,
                              WritableFile* file) = 0;

  // Holds the regular file `name` for replacing and says what it is now.
  // Where the system can (a lease on Linux, for a file the process owns
  // or may lease), a program that opens it for writing from now on waits
  // until the hold is let go, and HeldFile::Undisturbed tells that it
  // tried. A file already open for writing elsewhere gives kBusy. Other
  // files are held without a lease, and Undisturbed sees a change only
  // by the file's size and times.
  virtual Status HoldForReplace(const Folder& folder, const std::string& name,
                                std::unique_ptr<HeldFile>* held,
                                FileInfo* info) = 0;

  // Swaps the names `a` and `b` in one atomic step: each then names what
  // the other named. Both must exist. kNotSupported where the file
  // system cannot.
  virtual Status Exchange(const Folder& folder, const std::string& a,
                          const std::string& b) = 0;

  // Moves `from` over `to` in one atomic step, replacing `to`.
  virtual Status ReplaceWith(const Folder& folder, const std::string& from,
                             const std::string& to) = 0;

  // Moves `from` to `to` only if nothing of the name `to` exists;
  // otherwise kExists and nothing changes.
  virtual Status RenameNoReplace(const Folder& folder, const std::string& from,
                                 const std::string& to) = 0;

  virtual Status Remove(const Folder& folder, const std::string& name) = 0;

  // Moves `from` of `from_folder` to `to` of `to_folder` in one atomic
  // step, only if nothing of the name `to` exists there: otherwise kExists
  // and nothing changes. The folders must be on one file system.
  virtual Status MoveNoReplace(const Folder& from_folder,
                               const std::string& from,
                               const Folder& to_folder,
                               const std::string& to) = 0;

  // Creates the folder `name` in `parent` with the permission bits `mode`
  // (less the process's umask); kExists when the name is taken.
  virtual Status CreateFolder(const Folder& parent, const std::string& name,
                              mode_t mode) = 0;
  // Removes the empty folder `name` of `parent`.
  virtual Status RemoveFolder(const Folder& parent,
                              const std::string& name) = 0;

  // Whether anything (a dangling link included) has the name `name`.
  virtual bool Exists(const Folder& folder, const std::string& name) = 0;

  // How many files and folders the process may hold open at once.
  virtual std::size_t OpenFilesLimit() = 0;

  // `path` as an absolute path ("/" and on), found the way OpenFolder
  // finds it: a relative path from the working folder. Nothing is
  // resolved: links and ".." stay as they are.
  virtual Status AbsolutePath(const std::string& path, std::string* absolute);

  // A new scratch file outside the tree; by default in $TMPDIR or /tmp.
  virtual Status CreateScratchFile(std::unique_ptr<ScratchFile>* file) {
    return CreatePosixScratchFile(file);
  }
};

// The process's one POSIX file system. Getting it changes nothing in the
// process: front ends ready the process for runs themselves, at their
// start (PrepareProcessForRuns in engine/prepare_process.h).
FileSystem* RealFileSystem();

}  // namespace vs
