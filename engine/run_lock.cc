#include "engine/run_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "engine/state_folder.h"

namespace vs {
namespace {

constexpr char kRegistryLock[] = "registry.lock";
constexpr char kLockSuffix[] = ".run";
// How often a waiting run looks whether it may go on, or was stopped.
constexpr auto kWaitStep = std::chrono::milliseconds(50);
// Deeper than any real tree; a guard against a loop of "..".
constexpr int kMaxDepth = 4096;

struct FolderId {
  dev_t device;
  ino_t inode;
  bool operator==(const FolderId& other) const {
    return device == other.device && inode == other.inode;
  }
};

// A run's lock, as another run reads it.
struct Holder {
  pid_t pid = 0;
  std::vector<FolderId> chain;  // its base folder, then each one above
};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    Reset();
    fd_ = std::exchange(other.fd_, -1);
    return *this;
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

Status Failed(const std::string& what) {
  Status system = Status::FromErrno(errno);
  return Status::Error(system.code(), what + ": " + system.reason());
}

Status Busy(pid_t pid) {
  return Status::Error(Status::Code::kBusy,
                       "another run is working in this tree (pid " +
                           std::to_string(pid) + ")");
}

// The folder `path` and every folder above it, up to the root; a failure
// when `path` is no folder that can be opened.
Status ChainOf(const std::string& path, std::vector<FolderId>* chain) {
  Fd folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) return Failed(path);
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    struct stat st;
    if (fstat(folder.get(), &st) != 0) return Failed(path);
    FolderId id{st.st_dev, st.st_ino};
    if (!chain->empty() && chain->back() == id) return Status::Ok();  // "/"
    chain->push_back(id);
    Fd up(openat(folder.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // A folder above that cannot be opened ends what is known of the
    // chain: the base folder itself is always in it.
    if (up.get() < 0) return Status::Ok();
    folder = std::move(up);
  }
  return Status::Ok();
}

bool Contains(const std::vector<FolderId>& chain, const FolderId& id) {
  for (const FolderId& folder : chain)
    if (folder == id) return true;
  return false;
}

// Whether one tree holds the other's base folder (or they are one).
bool Overlap(const std::vector<FolderId>& a, const std::vector<FolderId>& b) {
  return !a.empty() && !b.empty() && (Contains(a, b[0]) || Contains(b, a[0]));
}

// "PID\nPATH\n" and one "DEVICE INODE\n" per folder of the chain.
std::string Describe(const std::string& base_dir,
                     const std::vector<FolderId>& chain) {
  std::ostringstream text;
  text << getpid() << '\n';
  for (char c : base_dir) text << (c == '\n' ? ' ' : c);  // for people only
  text << '\n';
  for (const FolderId& id : chain)
    text << static_cast<unsigned long long>(id.device) << ' '
         << static_cast<unsigned long long>(id.inode) << '\n';
  return text.str();
}

// A lock file written by anyone (it is data, not trusted): what does not
// parse holds no tree.
bool Parse(const std::string& text, Holder* holder) {
  std::istringstream in(text);
  std::string line;
  long long pid = 0;
  if (!(in >> pid) || pid <= 0) return false;
  holder->pid = static_cast<pid_t>(pid);
  std::getline(in, line);  // the rest of the pid's line
  std::getline(in, line);  // the path
  unsigned long long device, inode;
  while (in >> device >> inode)
    holder->chain.push_back(
        {static_cast<dev_t>(device), static_cast<ino_t>(inode)});
  return !holder->chain.empty();
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int Flock(int fd, int operation) {
  int result;
  do {
    result = flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

// Makes `path` and any folder above it that is missing, mode 0700.
Status MakeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
      return Failed(part);
    if (slash == std::string::npos) return Status::Ok();
  }
}

// Looks through the locks in `folder` (its registry lock held) for a run
// whose tree overlaps `chain`: returns its lock file, held open, or -1.
// Locks of runs that are gone are removed on the way.
Fd FindOverlapping(int folder, const std::vector<FolderId>& chain,
                   pid_t* pid) {
  int listed = dup(folder);
  if (listed < 0) return Fd();
  DIR* dir = fdopendir(listed);
  if (!dir) {
    close(listed);
    return Fd();
  }
  Fd found;
  const std::string suffix = kLockSuffix;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() <= suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    Fd lock(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (lock.get() < 0) continue;
    if (Flock(lock.get(), LOCK_SH | LOCK_NB) == 0) {
      unlinkat(folder, name.c_str(), 0);  // no process holds it any more
      continue;
    }
    Holder holder;
    if (Parse(ReadAll(lock.get()), &holder) && Overlap(chain, holder.chain)) {
      *pid = holder.pid;
      found = std::move(lock);
      break;
    }
  }
  closedir(dir);
  return found;
}

// Where the locks go when the home folder cannot take them (a system
// user, a read-only home): a folder of the user's own in the shared
// temporary folder, which no one else may have made for them.
Status MakeTemporaryFolder(std::string* folder) {
  const char* tmp = std::getenv("TMPDIR");
  *folder = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") +
            "/vellumshaper-" + std::to_string(geteuid());
  if (mkdir(folder->c_str(), 0700) != 0 && errno != EEXIST)
    return Failed(*folder);
  struct stat st;
  if (lstat(folder->c_str(), &st) != 0) return Failed(*folder);
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0)
    return Status::Error(Status::Code::kIOError,
                         *folder + ": not a folder of this user's alone");
  return Status::Ok();
}

// Makes the folder for the locks and opens it.
Status OpenLockFolder(const std::string& wanted, std::string* folder,
                      Fd* fd) {
  *folder = wanted.empty() ? StateFolder() + "/running" : wanted;
  Status status = MakeFolders(*folder);
  if (!status.ok() && wanted.empty()) status = MakeTemporaryFolder(folder);
  if (!status.ok()) return status;
  *fd = Fd(open(folder->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return fd->get() < 0 ? Failed(*folder) : Status::Ok();
}

}  // namespace

Status RunLock::Take(const std::string& base_dir, const Options& options,
                     std::unique_ptr<RunLock>* lock) {
  lock->reset();
  std::vector<FolderId> chain;
  // Nothing to lock: the run cannot walk it, and says why.
  if (!ChainOf(base_dir, &chain).ok()) return Status::Ok();
  std::string folder_path;
  Fd folder;
  Status status = OpenLockFolder(options.folder, &folder_path, &folder);
  if (!status.ok()) return status;

  static std::atomic<unsigned> locks_taken{0};
  bool told = false;
  for (;;) {
    // One run at a time looks and registers, so two that start together
    // cannot both miss each other.
    Fd registry(openat(folder.get(), kRegistryLock,
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (registry.get() < 0 || Flock(registry.get(), LOCK_EX) != 0)
      return Failed(folder_path + "/" + kRegistryLock);
    pid_t pid = 0;
    Fd other = FindOverlapping(folder.get(), chain, &pid);
    if (other.get() < 0) {
      std::string name = std::to_string(getpid()) + "-" +
                         std::to_string(locks_taken++) + kLockSuffix;
      Fd own(openat(folder.get(), name.c_str(),
                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (own.get() < 0) return Failed(folder_path + "/" + name);
      if (Flock(own.get(), LOCK_EX | LOCK_NB) != 0 ||
          !WriteAll(own.get(), Describe(base_dir, chain))) {
        Status failed = Failed(folder_path + "/" + name);
        unlinkat(folder.get(), name.c_str(), 0);
        return failed;
      }
      lock->reset(new RunLock(folder_path + "/" + name, own.release()));
      return Status::Ok();
    }
    registry.Reset();
    if (options.no_wait) return Busy(pid);
    if (!told && options.on_wait) options.on_wait(pid);
    told = true;
    // Its end lets go of its flock; then look again from the start, as
    // another run may have come in between.
    while (Flock(other.get(), LOCK_SH | LOCK_NB) != 0) {
      if (options.stopped && options.stopped()) return Busy(pid);
      std::this_thread::sleep_for(kWaitStep);
    }
  }
}

RunLock::~RunLock() {
  unlink(path_.c_str());
  close(fd_);
}

}  // namespace vs
