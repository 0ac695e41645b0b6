// The POSIX FileSystem. Each call is one or a few system calls; every
// errno becomes a Status through Status::FromErrno.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#if defined(__has_include)
#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/file_system.h"
#include "engine/mutex.h"
#include "engine/posix_lease.h"
#include "engine/posix_metadata.h"
#include "engine/status.h"
#include "engine/thread_annotations.h"

namespace vs {
namespace {

// Appends smaller than this are gathered before they reach write(2).
constexpr std::size_t kWriteBufferSize = 256 * 1024;
// An append this large with nothing gathered before it is written at once.
constexpr std::size_t kDirectWriteSize = 4096;
// Files this large are worth telling the system they are read in order.
constexpr off_t kSequentialHintSize = 1 << 20;

Status LastError() { return Status::FromErrno(errno); }

Status InUse() {
  return Status::Error(Status::Code::kBusy, "in use by another program");
}

Status NotRegular() {
  return Status::Error(Status::Code::kNotRegular, "Not a regular file");
}

// Owns a descriptor until it is released to a file object.
class ScopedFd final {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

struct FolderCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

FileKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kRegular;
  if (S_ISDIR(mode)) return FileKind::kFolder;
  if (S_ISLNK(mode)) return FileKind::kSymlink;
  return FileKind::kOther;
}

// `entry` is a dirent, or on Linux a dirent64.
template <typename Entry>
FileKind KindOfEntry(int folder_fd, const Entry& entry) {
  switch (entry.d_type) {
    case DT_REG:
      return FileKind::kRegular;
    case DT_DIR:
      return FileKind::kFolder;
    case DT_LNK:
      return FileKind::kSymlink;
    case DT_UNKNOWN: {
      // Some file systems leave d_type unset. An entry that cannot be
      // looked at (it may have gone meanwhile) is nothing to work on.
      struct stat st;
      if (fstatat(folder_fd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return FileKind::kOther;
      }
      return KindOfMode(st.st_mode);
    }
    default:
      return FileKind::kOther;
  }
}

bool IsDotOrDotDot(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

struct Ownership {
  bool owner_set = false;
  bool group_set = false;
};

// Gives the file `like`'s owner and group as far as the process may:
// only a privileged process can give a file away, but any process can
// hand it to one of its own groups.
Ownership CopyOwnership(int fd, const FileInfo& like) {
  constexpr uid_t kKeepOwner = static_cast<uid_t>(-1);
  constexpr gid_t kKeepGroup = static_cast<gid_t>(-1);
  Ownership set;
  struct stat st;
  if (fstat(fd, &st) != 0) return set;
  uid_t owner = like.owner == st.st_uid ? kKeepOwner : like.owner;
  gid_t group = like.group == st.st_gid ? kKeepGroup : like.group;
  // One at a time, so a refused owner does not keep the group from
  // being set.
  set.owner_set = owner == kKeepOwner || fchown(fd, owner, kKeepGroup) == 0;
  set.group_set = group == kKeepGroup || fchown(fd, kKeepOwner, group) == 0;
  return set;
}

int RenameAt2NoReplace(int from_fd, const char* from, int to_fd,
                       const char* to) {
#if defined(RENAME_NOREPLACE)
  return renameat2(from_fd, from, to_fd, to, RENAME_NOREPLACE);
#elif defined(SYS_renameat2)
  constexpr unsigned kNoReplace = 1;  // RENAME_NOREPLACE in <linux/fs.h>
  return syscall(SYS_renameat2, from_fd, from, to_fd, to, kNoReplace);
#else
  errno = ENOSYS;
  return -1;
#endif
}

int RenameAt2Exchange(int folder_fd, const char* a, const char* b) {
#if defined(RENAME_EXCHANGE)
  return renameat2(folder_fd, a, folder_fd, b, RENAME_EXCHANGE);
#elif defined(SYS_renameat2)
  constexpr unsigned kExchange = 2;  // RENAME_EXCHANGE in <linux/fs.h>
  return syscall(SYS_renameat2, folder_fd, a, folder_fd, b, kExchange);
#else
  errno = ENOSYS;
  return -1;
#endif
}

// The errors of a kernel or file system without RENAME_NOREPLACE or
// RENAME_EXCHANGE.
bool LacksRenameFlag(int error_number) {
  return error_number == EINVAL || error_number == ENOSYS ||
         error_number == EOPNOTSUPP;
}

// The errors of a file system (or a `from`, such as a folder) that
// cannot take another hard link.
bool LacksHardLinks(int error_number) {
  return error_number == EPERM || error_number == EOPNOTSUPP ||
         error_number == EMLINK || error_number == ENOSYS;
}

// The last resort. Not atomic: a `to` created by someone else between
// the look and the rename is overwritten.
Status CheckThenRename(int from_fd, const char* from, int to_fd,
                       const char* to) {
  struct stat st;
  if (fstatat(to_fd, to, &st, AT_SYMLINK_NOFOLLOW) == 0)
    return Status::FromErrno(EEXIST);
  if (errno != ENOENT) return LastError();
  return renameat(from_fd, from, to_fd, to) == 0 ? Status::Ok() : LastError();
}

// linkat() refuses any existing `to`, a dangling link included, and with
// no flags it links a symbolic link `from` itself, not its target.
Status LinkThenUnlink(int from_fd, const char* from, int to_fd,
                      const char* to) {
  if (linkat(from_fd, from, to_fd, to, 0) != 0) {
    if (LacksHardLinks(errno)) return CheckThenRename(from_fd, from, to_fd, to);
    return LastError();
  }
  if (unlinkat(from_fd, from, 0) != 0) {
    Status status = LastError();
    unlinkat(to_fd, to, 0);  // back to one name, as before the call
    return status;
  }
  return Status::Ok();
}

// Moves without replacing, by the best means the system has.
Status MoveWithoutReplacing(int from_fd, const char* from, int to_fd,
                            const char* to) {
  if (RenameAt2NoReplace(from_fd, from, to_fd, to) == 0) return Status::Ok();
  if (!LacksRenameFlag(errno)) return LastError();
  return LinkThenUnlink(from_fd, from, to_fd, to);
}

std::int64_t Nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void FillInfo(const struct stat& st, FileInfo* info) {
  info->mode = st.st_mode & 07777;
  info->owner = st.st_uid;
  info->group = st.st_gid;
  info->size = static_cast<std::uint64_t>(st.st_size);
  info->device = st.st_dev;
  info->inode = st.st_ino;
  info->modified_ns = Nanoseconds(st.st_mtim);
  info->changed_ns = Nanoseconds(st.st_ctim);
  info->links = static_cast<std::uint64_t>(st.st_nlink);
}

// A folder held open by its descriptor.
class PosixFolder final : public Folder {
 public:
  PosixFolder(std::string path, int fd) : Folder(std::move(path)), fd_(fd) {}
  ~PosixFolder() override { close(fd_); }
  PosixFolder(const PosixFolder&) = delete;
  PosixFolder& operator=(const PosixFolder&) = delete;

  int fd() const { return fd_; }
  // Whether a listing has moved the descriptor's position from the start.
  bool listed() const { return listed_; }
  void set_listed() const { listed_ = true; }

 private:
  const int fd_;
  mutable bool listed_ = false;
};

int FdOf(const Folder& folder) {
  return static_cast<const PosixFolder&>(folder).fd();
}

// Reads up to the size the file had when it was opened: the rest was
// written after the engine's look, and saving the read that would tell
// the end counts with many small files. A file that grows meanwhile is
// caught before any rewrite of it takes its place.
class PosixReadableFile final : public ReadableFile {
 public:
  PosixReadableFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~PosixReadableFile() override { close(fd_); }
  PosixReadableFile(const PosixReadableFile&) = delete;
  PosixReadableFile& operator=(const PosixReadableFile&) = delete;

  Status Read(char* buffer, std::size_t capacity, std::size_t* got) override {
    *got = 0;
    if (offset_ >= size_) return Status::Ok();
    capacity = static_cast<std::size_t>(
        std::min<std::uint64_t>(capacity, size_ - offset_));
    ssize_t n;
    while ((n = read(fd_, buffer, capacity)) < 0) {
      if (errno == EINTR) continue;
      // The file was opened with O_NONBLOCK, which regular files ignore on
      // nearly every file system; one that honours it gets ordinary,
      // waiting reads from here on.
      if (errno == EAGAIN && !blocking_) {
        blocking_ = true;
        if (fcntl(fd_, F_SETFL, 0) == 0) continue;
      }
      return LastError();
    }
    // A file cut short meanwhile ends where it ends now.
    if (n == 0) size_ = offset_;
    offset_ += static_cast<std::uint64_t>(n);
    *got = static_cast<std::size_t>(n);
    return Status::Ok();
  }

  Status Rewind() override {
    if (offset_ == 0) return Status::Ok();  // nothing read yet
    if (lseek(fd_, 0, SEEK_SET) != 0) return LastError();
    offset_ = 0;
    return Status::Ok();
  }

 private:
  const int fd_;
  std::uint64_t size_;
  std::uint64_t offset_ = 0;  // where the descriptor's position is
  bool blocking_ = false;
};

class PosixWritableFile final : public WritableFile {
 public:
  // `mode` is what the file was given, set-id bits included; `ownership`
  // what it could be given of its owner and group.
  PosixWritableFile(int fd, mode_t mode, Ownership ownership)
      : fd_(fd), mode_(mode), ownership_(ownership) {}
  // A file dropped without Close() is being abandoned, so its buffered
  // bytes are dropped with it.
  ~PosixWritableFile() override {
    if (fd_ >= 0) close(fd_);
  }
  PosixWritableFile(const PosixWritableFile&) = delete;
  PosixWritableFile& operator=(const PosixWritableFile&) = delete;

  Status Append(const char* data, std::size_t length) override {
    if (fd_ < 0) return Status::FromErrno(EBADF);
    if (!error_.ok()) return error_;
    if (buffer_.size() + length > kWriteBufferSize) {
      Status status = WriteBuffer();
      if (!status.ok()) return status;
    }
    // A large piece (a whole new text worked out in memory) goes out as
    // it is, without a copy.
    if (length >= kWriteBufferSize ||
        (buffer_.empty() && length >= kDirectWriteSize))
      return WriteAll(data, length);
    if (buffer_.capacity() < kWriteBufferSize) {
      buffer_.reserve(kWriteBufferSize);  // only files that get bytes pay
    }
    buffer_.append(data, length);
    return Status::Ok();
  }

  Status Flush() override {
    Status status = WriteBuffer();
    if (!status.ok()) return status;
    // Files wait flushed in batches; only the one being written needs
    // its buffer. (Their write-back starts when the engine syncs them,
    // which it does at once on threads of its own.)
    std::string().swap(buffer_);
    return Status::Ok();
  }

  // fsync rather than fdatasync: the new size must be durable too.
  Status Sync() override {
    Status status = WriteOut();
    if (!status.ok()) return status;
    return fsync(fd_) == 0 ? Status::Ok() : LastError();
  }

  Status Close() override {
    if (fd_ < 0) return Status::FromErrno(EBADF);
    Status status = WriteOut();
    int result = close(fd_);
    fd_ = -1;
    if (result != 0 && status.ok()) status = LastError();
    return status;
  }

  // For KeepMetadata, before anything is written.
  int fd() const { return fd_; }
  Ownership ownership() const { return ownership_; }
  std::string* capabilities() { return &capabilities_; }

 private:
  // A write by an unprivileged process clears the set-id bits, and any
  // write clears the file capabilities, so they are put back once the
  // bytes are out.
  Status WriteOut() {
    Status status = WriteBuffer();
    if (status.ok() && (mode_ & (S_ISUID | S_ISGID)) != 0 &&
        fchmod(fd_, mode_) != 0)
      status = LastError();
    if (status.ok() && written_ && !capabilities_.empty())
      status = PutBackCapabilities(fd_, capabilities_);
    written_ = false;
    return status;
  }

  Status WriteBuffer() {
    Status status = WriteAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return status;
  }

  // Once a write has failed the file is missing bytes, so every later
  // call reports that failure rather than a success.
  Status WriteAll(const char* data, std::size_t length) {
    if (fd_ < 0) return Status::FromErrno(EBADF);
    if (!error_.ok()) return error_;
    while (length > 0) {
      ssize_t n = write(fd_, data, length);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error_ = LastError();
        return error_;
      }
      data += n;
      length -= static_cast<std::size_t>(n);
      written_ = true;
    }
    return Status::Ok();
  }

  int fd_;
  const mode_t mode_;
  const Ownership ownership_;
  std::string capabilities_;  // to put back after a write; "" for none
  bool written_ = false;      // since the capabilities were put back
  std::string buffer_;
  Status error_;
};

// Closing the last reference to a file that has lost its last name frees
// its blocks, which costs several times the rename that took the name.
// A file being replaced is therefore held through its rename and let go
// here, on a thread of its own, while the walk goes on. Close may be
// called from many threads at once.
class DeferredCloser {
 public:
  DeferredCloser() = default;
  ~DeferredCloser() EXCLUDES(mutex_) {
    std::thread thread;
    {
      MutexLock lock(&mutex_);
      stopping_ = true;
      thread.swap(thread_);
    }
    queued_.Signal();
    if (thread.joinable()) thread.join();
  }
  DeferredCloser(const DeferredCloser&) = delete;
  DeferredCloser& operator=(const DeferredCloser&) = delete;

  void Close(int fd) EXCLUDES(mutex_) {
    {
      MutexLock lock(&mutex_);
      if (fds_.size() < kMaxWaiting) {
        if (!thread_.joinable())
          thread_ = std::thread(&DeferredCloser::Run, this);
        fds_.push_back(fd);
        fd = -1;
      }
    }
    if (fd >= 0) {
      close(fd);  // the thread is behind: no more descriptors held
    } else {
      queued_.Signal();
    }
  }

 private:
  static constexpr std::size_t kMaxWaiting = 256;

  void Run() EXCLUDES(mutex_) {
    std::vector<int> fds;
    mutex_.Lock();
    for (;;) {
      while (!stopping_ && fds_.empty()) queued_.Wait(&mutex_);
      if (fds_.empty()) break;  // stopping, with nothing left to close
      fds.swap(fds_);
      mutex_.Unlock();
      for (int fd : fds) close(fd);
      fds.clear();
      mutex_.Lock();
    }
    mutex_.Unlock();
  }

  // Guards the descriptors waiting to be closed, the stop, and the thread
  // that closes them, which the first Close starts.
  Mutex mutex_;
  CondVar queued_;  // descriptors are waiting, or the closer is stopping
  std::vector<int> fds_ GUARDED_BY(mutex_);
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::thread thread_ GUARDED_BY(mutex_);
};

// Opens the folder `relative` below the folder `base_fd` without following
// any symbolic link, as an O_PATH descriptor, or -1.
int OpenBeneath(int base_fd, const std::string& relative) {
#if defined(SYS_openat2) && defined(RESOLVE_NO_SYMLINKS) && defined(O_PATH)
  // One call, however deep.
  struct open_how how = {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
  long fd = syscall(SYS_openat2, base_fd, relative.c_str(), &how, sizeof how);
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
    return static_cast<int>(fd);
#endif
  // Without openat2 (or where a sandbox refuses it): a name at a time.
#if defined(O_PATH)
  constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif
  int at = base_fd;
  std::size_t start = 0;
  for (;;) {
    std::size_t slash = relative.find('/', start);
    std::string name = relative.substr(start, slash - start);
    int next = openat(at, name.c_str(), kFlags);
    if (at != base_fd) close(at);
    if (next < 0 || slash == std::string::npos) return next;
    at = next;
    start = slash + 1;
  }
}

// A file held for replacing, by a read-only descriptor and, where it
// could be taken, a read lease. Letting go closes the descriptor on the
// closer, as the file may have lost its last name.
class PosixHeldFile final : public HeldFile {
 public:
  PosixHeldFile(int fd, bool leased, DeferredCloser* closer)
      : fd_(fd), leased_(leased), closer_(closer) {}
  ~PosixHeldFile() override { closer_->Close(fd_); }
  PosixHeldFile(const PosixHeldFile&) = delete;
  PosixHeldFile& operator=(const PosixHeldFile&) = delete;

  bool Undisturbed(const FileInfo& read) override {
    if (leased_ && !LeaseIntact(fd_)) return false;
    struct stat st;
    if (fstat(fd_, &st) != 0) return false;
    FileInfo now;
    FillInfo(st, &now);
    return SameVersion(read, now);
  }

 private:
  const int fd_;
  const bool leased_;
  DeferredCloser* const closer_;
};

// A reference to `name` that keeps the file from being freed, or -1.
int HoldFile(int folder_fd, const char* name) {
#if defined(O_PATH)
  return openat(folder_fd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
#else
  return openat(folder_fd, name,
                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
#endif
}

// Safe to call from many threads at once: a call keeps nothing between
// its system calls but what its caller handed it, and the closer, the
// one thing the calls share, takes its own lock.
class PosixFileSystem final : public FileSystem {
 public:
  Status OpenFolder(const std::string& path, bool follow_link,
                    std::unique_ptr<Folder>* folder) override {
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (!follow_link) flags |= O_NOFOLLOW;
    int fd = open(path.c_str(), flags);
    if (fd < 0) return LastError();
    folder->reset(new PosixFolder(path, fd));
    return Status::Ok();
  }

  Status OpenSubfolder(const Folder& parent, const std::string& name,
                       std::unique_ptr<Folder>* folder) override {
    int fd = openat(FdOf(parent), name.c_str(),
                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return LastError();
    folder->reset(new PosixFolder(parent.path() + "/" + name, fd));
    return Status::Ok();
  }

  Status ListFolder(const Folder& folder,
                    std::vector<FolderEntry>* entries) override {
    entries->clear();
#if defined(__linux__)
    // The folder's own descriptor, read from its start: no second
    // descriptor and no DIR stream to set up, which count with many
    // small folders. Nothing else reads its entries, and opening and
    // looking up names through it do not depend on its position.
    const auto& posix_folder = static_cast<const PosixFolder&>(folder);
    const int fd = posix_folder.fd();
    if (posix_folder.listed() && lseek(fd, 0, SEEK_SET) < 0)
      return LastError();
    posix_folder.set_listed();
    alignas(dirent64) char buffer[32 * 1024];
    for (;;) {
      const ssize_t length = getdents64(fd, buffer, sizeof buffer);
      if (length < 0) return LastError();
      if (length == 0) return Status::Ok();
      for (ssize_t at = 0; at < length;) {
        const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
        at += entry->d_reclen;
        if (IsDotOrDotDot(entry->d_name)) continue;
        entries->push_back({entry->d_name, KindOfEntry(fd, *entry)});
      }
    }
#else
    // The listing gets a descriptor of its own, closed with it, so the
    // folder stays open for the work on its entries.
    ScopedFd fd(fcntl(FdOf(folder), F_DUPFD_CLOEXEC, 0));
    if (fd.get() < 0) return LastError();
    std::unique_ptr<DIR, FolderCloser> listing(fdopendir(fd.get()));
    if (!listing) return LastError();
    int listing_fd = fd.release();  // closedir() closes it from now on
    rewinddir(listing.get());  // the copy shares the folder's position
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(listing.get());
      if (entry == nullptr) return errno == 0 ? Status::Ok() : LastError();
      if (IsDotOrDotDot(entry->d_name)) continue;
      entries->push_back({entry->d_name, KindOfEntry(listing_fd, *entry)});
    }
#endif
  }

  Status OpenForRead(const Folder& folder, const std::string& name,
                     std::unique_ptr<ReadableFile>* file,
                     FileInfo* info) override {
    // O_NONBLOCK keeps a FIFO without a writer from hanging the open.
    ScopedFd fd(openat(FdOf(folder), name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
                           O_CLOEXEC));
    if (fd.get() < 0) return LastError();  // ELOOP for a link: kNotRegular
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return LastError();
    if (!S_ISREG(st.st_mode)) return NotRegular();
    if (st.st_size >= kSequentialHintSize) {
      posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);  // a mere hint
    }
    FillInfo(st, info);
    file->reset(new PosixReadableFile(fd.release(), info->size));
    return Status::Ok();
  }

  bool StillReaches(const Folder& base, const std::string& relative,
                    const Folder& folder) override {
    ScopedFd reached(OpenBeneath(FdOf(base), relative));
    struct stat at, held;
    return reached.get() >= 0 && fstat(reached.get(), &at) == 0 &&
           fstat(FdOf(folder), &held) == 0 && at.st_dev == held.st_dev &&
           at.st_ino == held.st_ino;
  }

  Status StatFolder(const Folder& folder, FileInfo* info) override {
    struct stat st;
    if (fstat(FdOf(folder), &st) != 0) return LastError();
    FillInfo(st, info);
    return Status::Ok();
  }

  Status Stat(const Folder& folder, const std::string& name,
              FileInfo* info) override {
    struct stat st;
    if (fstatat(FdOf(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return LastError();
    FillInfo(st, info);
    return Status::Ok();
  }

  Status CreateExclusive(const Folder& folder, const std::string& name,
                         const FileInfo& like,
                         std::unique_ptr<WritableFile>* file) override {
    // O_EXCL also refuses a dangling link rather than creating its target.
    ScopedFd fd(openat(FdOf(folder), name.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       0600));
    if (fd.get() < 0) return LastError();
    // Ownership first, as a change of owner clears the set-id bits. A
    // refusal leaves the process's own owner and group, for KeepMetadata
    // to report where they matter.
    Ownership ownership = CopyOwnership(fd.get(), like);
    if (fchmod(fd.get(), like.mode & 07777) != 0) {
      Status status = LastError();
      close(fd.release());
      unlinkat(FdOf(folder), name.c_str(), 0);
      return status;
    }
    file->reset(
        new PosixWritableFile(fd.release(), like.mode & 07777, ownership));
    return Status::Ok();
  }

  Status KeepMetadata(const Folder& folder, const std::string& original,
                      WritableFile* file) override {
    auto* new_file = static_cast<PosixWritableFile*>(file);
    if (!new_file->ownership().owner_set)
      return Status::Error(Status::Code::kIOError,
                           "cannot keep the file's owner");
    if (!new_file->ownership().group_set)
      return Status::Error(Status::Code::kIOError,
                           "cannot keep the file's group");
    // Read-only, as attributes and flags can be read through any open
    // descriptor but not through an O_PATH one.
    ScopedFd from(openat(FdOf(folder), original.c_str(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
                             O_CLOEXEC));
    if (from.get() < 0) return LastError();
    return CopyMetadata(from.get(), new_file->fd(),
                        new_file->capabilities());
  }

  Status HoldForReplace(const Folder& folder, const std::string& name,
                        std::unique_ptr<HeldFile>* held,
                        FileInfo* info) override {
    // Read-only, as a lease asks; never blocking on a lease another
    // program holds.
    ScopedFd fd(openat(FdOf(folder), name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
                           O_CLOEXEC));
    if (fd.get() < 0) {
      if (errno == EWOULDBLOCK) return InUse();
      return LastError();
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return LastError();
    if (!S_ISREG(st.st_mode))
      return Status::Error(Status::Code::kNotRegular, "Not a regular file");
    LeaseResult lease = TakeReadLease(fd.get());
    if (lease == LeaseResult::kBusy) return InUse();
    FillInfo(st, info);
    held->reset(new PosixHeldFile(fd.release(), lease == LeaseResult::kTaken,
                                  &closer_));
    return Status::Ok();
  }

  Status Exchange(const Folder& folder, const std::string& a,
                  const std::string& b) override {
    int fd = FdOf(folder);
    if (RenameAt2Exchange(fd, a.c_str(), b.c_str()) == 0) return Status::Ok();
    if (LacksRenameFlag(errno))
      return Status::Error(Status::Code::kNotSupported,
                           "the file system cannot swap two names");
    return LastError();
  }

  Status ReplaceWith(const Folder& folder, const std::string& from,
                     const std::string& to) override {
    int fd = FdOf(folder);
    int replaced = HoldFile(fd, to.c_str());
    Status status = renameat(fd, from.c_str(), fd, to.c_str()) == 0
                        ? Status::Ok()
                        : LastError();
    if (replaced >= 0) closer_.Close(replaced);
    return status;
  }

  Status RenameNoReplace(const Folder& folder, const std::string& from,
                         const std::string& to) override {
    int fd = FdOf(folder);
    return MoveWithoutReplacing(fd, from.c_str(), fd, to.c_str());
  }

  Status Remove(const Folder& folder, const std::string& name) override {
    return unlinkat(FdOf(folder), name.c_str(), 0) == 0 ? Status::Ok()
                                                        : LastError();
  }

  Status MoveNoReplace(const Folder& from_folder, const std::string& from,
                       const Folder& to_folder,
                       const std::string& to) override {
    return MoveWithoutReplacing(FdOf(from_folder), from.c_str(),
                                FdOf(to_folder), to.c_str());
  }

  Status CreateFolder(const Folder& parent, const std::string& name,
                      mode_t mode) override {
    return mkdirat(FdOf(parent), name.c_str(), mode) == 0 ? Status::Ok()
                                                          : LastError();
  }

  Status RemoveFolder(const Folder& parent, const std::string& name) override {
    return unlinkat(FdOf(parent), name.c_str(), AT_REMOVEDIR) == 0
               ? Status::Ok()
               : LastError();
  }

  bool Exists(const Folder& folder, const std::string& name) override {
    struct stat st;
    return fstatat(FdOf(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  }

  std::size_t OpenFilesLimit() override {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
    if (limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    return static_cast<std::size_t>(limit.rlim_cur);
  }

 private:
  DeferredCloser closer_;
};

}  // namespace

FileSystem* RealFileSystem() {
  // Never destroyed, so it outlives every caller, static ones included.
  static PosixFileSystem* const file_system = new PosixFileSystem();
  return file_system;
}

}  // namespace vs
