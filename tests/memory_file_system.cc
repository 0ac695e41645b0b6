#include "tests/memory_file_system.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>
#include <stdexcept>
#include <utility>

#include "tests/memory_file.h"

namespace vs::test {
namespace {

// What every node's FileInfo gives as its device.
constexpr dev_t kDevice = 1;
// How many symbolic links one path may pass through, as on Linux.
constexpr int kMaxLinks = 40;

Status Errno(int error_number) { return Status::FromErrno(error_number); }

// The names of `path`, "" and "." left out.
std::deque<std::string> Split(const std::string& path) {
  std::deque<std::string> names;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string name = path.substr(start, slash - start);
    if (!name.empty() && name != ".") names.push_back(std::move(name));
    start = slash + 1;
  }
  return names;
}

// Calls on an open folder take bare names; the engine never asks for
// anything else.
Status CheckName(const std::string& name) {
  if (name.empty()) return Errno(ENOENT);
  if (name == "." || name == ".." || name.find('/') != std::string::npos)
    return Errno(EINVAL);
  if (name.size() > NAME_MAX) return Errno(ENAMETOOLONG);
  return Status::Ok();
}

// Both names of a rename, the first failure first.
Status CheckNames(const std::string& from, const std::string& to) {
  Status status = CheckName(from);
  return status.ok() ? CheckName(to) : status;
}

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw std::runtime_error("MemoryFileSystem: " + what + ": " + path);
}

}  // namespace

struct MemoryFileSystem::Node {
  FileKind kind = FileKind::kOther;
  FileInfo info;
  // A regular file's content. Replaced, never changed, on a write, so a
  // file opened for reading keeps what it was opened on.
  std::shared_ptr<const std::string> bytes;
  std::string target;                      // a symbolic link's
  std::map<std::string, NodePtr> entries;  // a folder's
  std::map<std::string, std::string> attributes;  // extended, by name
  bool removed = false;  // a folder taken out of the tree: it can be
                         // neither listed nor made anything in

  // Takes this node and everything in it out of the tree. Files stay
  // what they are to whoever holds them open, or by another name.
  void Unlink() {
    if (kind != FileKind::kFolder) return;
    for (auto& [name, entry] : entries) entry->Unlink();
    entries.clear();
    removed = true;
  }
};

// A folder held open: it stays the same folder wherever it is moved, and
// a removed one stays open, though nothing is left to do in it.
class MemoryFileSystem::MemoryFolder final : public Folder {
 public:
  MemoryFolder(std::string path, NodePtr node)
      : Folder(std::move(path)), node_(std::move(node)) {}

  static Node* NodeOf(const Folder& folder) {
    return static_cast<const MemoryFolder&>(folder).node_.get();
  }

 private:
  const NodePtr node_;
};

// A file made by CreateExclusive. Appends are gathered until a Flush,
// Sync or Close hands them to the file, as the POSIX file's buffer does.
class MemoryFileSystem::NewFile final : public WritableFile {
 public:
  NewFile(MemoryFileSystem* file_system, NodePtr node)
      : file_system_(file_system), node_(std::move(node)) {}

  Status Append(const char* data, std::size_t length) override {
    if (closed_) return Errno(EBADF);
    buffer_.append(data, length);
    return Status::Ok();
  }
  Status Flush() override { return WriteOut(); }
  Status Sync() override { return WriteOut(); }
  Status Close() override {
    Status status = WriteOut();
    closed_ = true;
    return status;
  }

  Node* node() const { return node_.get(); }

 private:
  Status WriteOut() {
    if (closed_) return Errno(EBADF);
    if (buffer_.empty()) return Status::Ok();
    MutexLock lock(&file_system_->mutex_);
    auto bytes = std::make_shared<std::string>(*node_->bytes);
    bytes->append(buffer_);
    buffer_.clear();
    node_->info.size = bytes->size();
    node_->bytes = std::move(bytes);
    file_system_->Touch(node_.get());
    return Status::Ok();
  }

  MemoryFileSystem* const file_system_;
  const NodePtr node_;
  std::string buffer_;  // appended since the last write out
  bool closed_ = false;
};

MemoryFileSystem::MemoryFileSystem(
    const std::map<std::string, std::string>& tree)
    : root_(std::make_shared<Node>()) {
  {
    MutexLock lock(&mutex_);
    *root_ = std::move(*NewNode(FileKind::kFolder));
  }
  // In byte order, a folder comes before what is in it.
  for (const auto& [path, value] : tree) {
    if (value == "<dir>") {
      MakeFolder(path);
    } else if (value == "<special>") {
      MakeOther(path);
    } else if (value.compare(0, 3, "-> ") == 0) {
      MakeLink(path, value.substr(3));
    } else {
      Write(path, value);
    }
  }
}

MemoryFileSystem::~MemoryFileSystem() = default;

MemoryFileSystem::NodePtr MemoryFileSystem::NewNode(FileKind kind) {
  auto node = std::make_shared<Node>();
  node->kind = kind;
  node->info.mode = kind == FileKind::kFolder    ? 0755
                    : kind == FileKind::kSymlink ? 0777
                                                 : 0644;
  node->info.owner = getuid();
  node->info.group = getgid();
  node->info.device = kDevice;
  node->info.inode = next_inode_++;
  if (kind == FileKind::kRegular)
    node->bytes = std::make_shared<const std::string>();
  Touch(node.get());
  return node;
}

void MemoryFileSystem::Touch(Node* node) { node->info.modified_ns = ++clock_; }

MemoryFileSystem::NodePtr MemoryFileSystem::Find(const Node& folder,
                                                 const std::string& name) {
  auto it = folder.entries.find(name);
  return it == folder.entries.end() ? nullptr : it->second;
}

void MemoryFileSystem::AddEntry(Node* folder, const std::string& name,
                                NodePtr node) {
  folder->entries[name] = std::move(node);
  Touch(folder);
}

void MemoryFileSystem::DropEntry(Node* folder, const std::string& name) {
  folder->entries.erase(name);
  Touch(folder);
}

Status MemoryFileSystem::Resolve(const std::string& path, bool follow_last,
                                 NodePtr* node) const {
  if (path.empty()) return Errno(ENOENT);
  std::vector<NodePtr> chain{root_};  // the folders on the way
  std::deque<std::string> names = Split(path);
  int links = 0;
  while (!names.empty()) {
    if (chain.back()->kind != FileKind::kFolder) return Errno(ENOTDIR);
    std::string name = std::move(names.front());
    names.pop_front();
    if (name == "..") {
      if (chain.size() > 1) chain.pop_back();
      continue;
    }
    if (name.size() > NAME_MAX) return Errno(ENAMETOOLONG);
    NodePtr next = Find(*chain.back(), name);
    if (!next) return Errno(ENOENT);
    if (next->kind == FileKind::kSymlink && (follow_last || !names.empty())) {
      if (++links > kMaxLinks) return Errno(ELOOP);
      if (next->target.empty()) return Errno(ENOENT);
      std::deque<std::string> target = Split(next->target);
      names.insert(names.begin(), target.begin(), target.end());
      if (next->target[0] == '/') chain.resize(1);
      continue;
    }
    chain.push_back(std::move(next));
  }
  *node = chain.back();
  return Status::Ok();
}

MemoryFileSystem::Node* MemoryFileSystem::ParentOf(const std::string& path,
                                                   std::string* name) {
  std::deque<std::string> names = Split(path);
  if (names.empty()) Fail("no name", path);
  *name = std::move(names.back());
  names.pop_back();
  Node* folder = root_.get();
  for (const std::string& part : names) {
    if (part == "..") Fail("no \"..\" in a test's path", path);
    NodePtr next = Find(*folder, part);
    if (!next) {
      next = NewNode(FileKind::kFolder);
      AddEntry(folder, part, next);
    }
    if (next->kind != FileKind::kFolder) Fail("not a folder on the way", path);
    folder = next.get();
  }
  return folder;
}

MemoryFileSystem::NodePtr MemoryFileSystem::EntryAt(
    const std::string& path) const {
  NodePtr node = root_;
  for (const std::string& name : Split(path)) {
    if (name == "..") Fail("no \"..\" in a test's path", path);
    if (node->kind != FileKind::kFolder) Fail("not a folder on the way", path);
    node = Find(*node, name);
    if (!node) Fail("nothing there", path);
  }
  return node;
}

void MemoryFileSystem::Put(const std::string& path, NodePtr node) {
  std::string name;
  Node* folder = ParentOf(path, &name);
  if (Find(*folder, name)) Fail("something is there already", path);
  AddEntry(folder, name, std::move(node));
}

void MemoryFileSystem::Write(const std::string& path,
                             const std::string& bytes) {
  MutexLock lock(&mutex_);
  std::string name;
  Node* folder = ParentOf(path, &name);
  NodePtr file = Find(*folder, name);
  if (!file) {
    file = NewNode(FileKind::kRegular);
    AddEntry(folder, name, file);
  } else if (file->kind != FileKind::kRegular) {
    Fail("not a regular file", path);
  }
  file->bytes = std::make_shared<const std::string>(bytes);
  file->info.size = bytes.size();
  Touch(file.get());
}

void MemoryFileSystem::MakeFolder(const std::string& path) {
  MutexLock lock(&mutex_);
  std::string name;
  Node* folder = ParentOf(path, &name);
  NodePtr existing = Find(*folder, name);
  if (existing && existing->kind == FileKind::kFolder) return;
  Put(path, NewNode(FileKind::kFolder));
}

void MemoryFileSystem::MakeLink(const std::string& path,
                                const std::string& target) {
  MutexLock lock(&mutex_);
  NodePtr link = NewNode(FileKind::kSymlink);
  link->target = target;
  link->info.size = target.size();
  Put(path, std::move(link));
}

void MemoryFileSystem::MakeOther(const std::string& path) {
  MutexLock lock(&mutex_);
  Put(path, NewNode(FileKind::kOther));
}

void MemoryFileSystem::Link(const std::string& existing,
                            const std::string& path) {
  MutexLock lock(&mutex_);
  NodePtr file = EntryAt(existing);
  if (file->kind == FileKind::kFolder) Fail("a folder has one name", existing);
  Put(path, std::move(file));
}

void MemoryFileSystem::Delete(const std::string& path) {
  MutexLock lock(&mutex_);
  std::string name;
  Node* folder = ParentOf(path, &name);
  NodePtr node = Find(*folder, name);
  if (!node) Fail("nothing there", path);
  node->Unlink();
  DropEntry(folder, name);
}

void MemoryFileSystem::Mount(const std::string& path, dev_t device) {
  MutexLock lock(&mutex_);
  std::vector<Node*> nodes = {EntryAt(path).get()};
  while (!nodes.empty()) {
    Node* node = nodes.back();
    nodes.pop_back();
    node->info.device = device;
    for (auto& [name, entry] : node->entries) nodes.push_back(entry.get());
  }
}

void MemoryFileSystem::Chmod(const std::string& path, mode_t mode) {
  MutexLock lock(&mutex_);
  EntryAt(path)->info.mode = mode & 07777;
}

void MemoryFileSystem::Chown(const std::string& path, uid_t owner,
                             gid_t group) {
  MutexLock lock(&mutex_);
  NodePtr node = EntryAt(path);
  node->info.owner = owner;
  node->info.group = group;
}

void MemoryFileSystem::SetAttribute(const std::string& path,
                                    const std::string& name,
                                    const std::string& value) {
  MutexLock lock(&mutex_);
  EntryAt(path)->attributes[name] = value;
}

void MemoryFileSystem::RefuseAttribute(const std::string& name) {
  MutexLock lock(&mutex_);
  refused_attributes_.push_back(name);
}

std::map<std::string, std::string> MemoryFileSystem::Attributes(
    const std::string& path) const {
  MutexLock lock(&mutex_);
  return EntryAt(path)->attributes;
}

std::string MemoryFileSystem::Read(const std::string& path) const {
  MutexLock lock(&mutex_);
  NodePtr node = EntryAt(path);
  if (node->kind != FileKind::kRegular) Fail("not a regular file", path);
  return *node->bytes;
}

FileInfo MemoryFileSystem::Info(const std::string& path) const {
  MutexLock lock(&mutex_);
  return EntryAt(path)->info;
}

bool MemoryFileSystem::Exists(const std::string& path) const {
  MutexLock lock(&mutex_);
  NodePtr node = root_;
  for (const std::string& name : Split(path)) {
    if (node->kind != FileKind::kFolder) return false;
    node = Find(*node, name);
    if (!node) return false;
  }
  return true;
}

std::map<std::string, std::string> MemoryFileSystem::Snapshot(
    const std::string& path) const {
  MutexLock lock(&mutex_);
  NodePtr folder = EntryAt(path);
  if (folder->kind != FileKind::kFolder) Fail("not a folder", path);
  std::map<std::string, std::string> out;
  SnapshotInto(*folder, "", &out);
  return out;
}

void MemoryFileSystem::SnapshotInto(
    const Node& folder, const std::string& prefix,
    std::map<std::string, std::string>* out) const {
  for (const auto& [name, node] : folder.entries) {
    const std::string path = prefix + name;
    switch (node->kind) {
      case FileKind::kRegular:
        (*out)[path] = *node->bytes;
        break;
      case FileKind::kFolder:
        (*out)[path] = "<dir>";
        SnapshotInto(*node, path + "/", out);
        break;
      case FileKind::kSymlink:
        (*out)[path] = "-> " + node->target;
        break;
      case FileKind::kOther:
        (*out)[path] = "<special>";
        break;
    }
  }
}

Status MemoryFileSystem::OpenFolder(const std::string& path, bool follow_link,
                                    std::unique_ptr<Folder>* folder) {
  MutexLock lock(&mutex_);
  NodePtr node;
  Status status = Resolve(path, follow_link, &node);
  if (!status.ok()) return status;
  // A link left unfollowed is no folder to open(2) with O_DIRECTORY.
  if (node->kind != FileKind::kFolder) return Errno(ENOTDIR);
  folder->reset(new MemoryFolder(path, std::move(node)));
  return Status::Ok();
}

Status MemoryFileSystem::OpenSubfolder(const Folder& parent,
                                       const std::string& name,
                                       std::unique_ptr<Folder>* folder) {
  MutexLock lock(&mutex_);
  Status status = CheckName(name);
  if (!status.ok()) return status;
  NodePtr node = Find(*MemoryFolder::NodeOf(parent), name);
  if (!node) return Errno(ENOENT);
  if (node->kind != FileKind::kFolder) return Errno(ENOTDIR);  // links too
  folder->reset(new MemoryFolder(parent.path() + "/" + name, std::move(node)));
  return Status::Ok();
}

Status MemoryFileSystem::ListFolder(const Folder& folder,
                                    std::vector<FolderEntry>* entries) {
  MutexLock lock(&mutex_);
  const Node& node = *MemoryFolder::NodeOf(folder);
  entries->clear();
  if (node.removed) return Errno(ENOENT);  // as getdents64(2) says
  for (auto it = node.entries.rbegin(); it != node.entries.rend(); ++it)
    entries->push_back({it->first, it->second->kind});
  return Status::Ok();
}

Status MemoryFileSystem::FindRegular(const Folder& folder,
                                     const std::string& name, NodePtr* node) {
  Status status = CheckName(name);
  if (!status.ok()) return status;
  *node = Find(*MemoryFolder::NodeOf(folder), name);
  if (!*node) return Errno(ENOENT);
  if ((*node)->kind == FileKind::kSymlink) return Errno(ELOOP);  // O_NOFOLLOW
  if ((*node)->kind != FileKind::kRegular)
    return Status::Error(Status::Code::kNotRegular, "Not a regular file");
  return Status::Ok();
}

Status MemoryFileSystem::OpenForRead(const Folder& folder,
                                     const std::string& name,
                                     std::unique_ptr<ReadableFile>* file,
                                     FileInfo* info) {
  MutexLock lock(&mutex_);
  NodePtr node;
  Status status = FindRegular(folder, name, &node);
  if (!status.ok()) return status;
  *info = node->info;
  file->reset(new MemoryReadableFile(node->bytes));
  return Status::Ok();
}

bool MemoryFileSystem::StillReaches(const Folder& base,
                                    const std::string& relative,
                                    const Folder& folder) {
  MutexLock lock(&mutex_);
  const Node* at = MemoryFolder::NodeOf(base);
  for (const std::string& name : Split(relative)) {
    if (at->kind != FileKind::kFolder) return false;
    NodePtr next = Find(*at, name);
    if (!next || next->kind != FileKind::kFolder) return false;  // no link
    at = next.get();
  }
  return at == MemoryFolder::NodeOf(folder);
}

Status MemoryFileSystem::StatFolder(const Folder& folder, FileInfo* info) {
  MutexLock lock(&mutex_);
  *info = MemoryFolder::NodeOf(folder)->info;
  return Status::Ok();
}

Status MemoryFileSystem::Stat(const Folder& folder, const std::string& name,
                              FileInfo* info) {
  MutexLock lock(&mutex_);
  Status status = CheckName(name);
  if (!status.ok()) return status;
  NodePtr node = Find(*MemoryFolder::NodeOf(folder), name);
  if (!node) return Errno(ENOENT);
  *info = node->info;
  return Status::Ok();
}

Status MemoryFileSystem::CreateExclusive(const Folder& folder,
                                         const std::string& name,
                                         const FileInfo& like,
                                         std::unique_ptr<WritableFile>* file) {
  MutexLock lock(&mutex_);
  Status status = CheckName(name);
  if (!status.ok()) return status;
  Node* parent = MemoryFolder::NodeOf(folder);
  if (parent->removed) return Errno(ENOENT);
  if (Find(*parent, name)) return Errno(EEXIST);
  NodePtr node = NewNode(FileKind::kRegular);
  node->info.device = parent->info.device;
  node->info.mode = like.mode & 07777;
  node->info.owner = like.owner;
  node->info.group = like.group;
  auto inherited = parent->attributes.find("system.posix_acl_default");
  if (inherited != parent->attributes.end())
    node->attributes["system.posix_acl_access"] = inherited->second;
  AddEntry(parent, name, node);
  file->reset(new NewFile(this, std::move(node)));
  return Status::Ok();
}

Status MemoryFileSystem::KeepMetadata(const Folder& folder,
                                      const std::string& original,
                                      WritableFile* file) {
  MutexLock lock(&mutex_);
  Status status = CheckName(original);
  if (!status.ok()) return status;
  NodePtr from = Find(*MemoryFolder::NodeOf(folder), original);
  if (!from) return Errno(ENOENT);
  for (const std::string& refused : refused_attributes_) {
    if (from->attributes.count(refused) != 0)
      return Status::Error(
          Status::Code::kIOError,
          "cannot keep the file's extended attribute " + refused);
  }
  static_cast<NewFile*>(file)->node()->attributes = from->attributes;
  return Status::Ok();
}

class MemoryFileSystem::Held final : public HeldFile {
 public:
  Held(MemoryFileSystem* file_system, NodePtr node)
      : file_system_(file_system), node_(std::move(node)) {}

  bool Undisturbed(const FileInfo& read) override {
    MutexLock lock(&file_system_->mutex_);
    return SameVersion(read, node_->info);
  }

 private:
  MemoryFileSystem* const file_system_;
  const NodePtr node_;
};

Status MemoryFileSystem::HoldForReplace(const Folder& folder,
                                        const std::string& name,
                                        std::unique_ptr<HeldFile>* held,
                                        FileInfo* info) {
  MutexLock lock(&mutex_);
  NodePtr node;
  Status status = FindRegular(folder, name, &node);
  if (!status.ok()) return status;
  *info = node->info;
  held->reset(new Held(this, std::move(node)));
  return Status::Ok();
}

Status MemoryFileSystem::Exchange(const Folder& folder, const std::string& a,
                                  const std::string& b) {
  MutexLock lock(&mutex_);
  Status status = CheckNames(a, b);
  if (!status.ok()) return status;
  Node* parent = MemoryFolder::NodeOf(folder);
  auto first = parent->entries.find(a);
  auto second = parent->entries.find(b);
  if (first == parent->entries.end() || second == parent->entries.end())
    return Errno(ENOENT);
  first->second.swap(second->second);
  return Status::Ok();
}

Status MemoryFileSystem::ReplaceWith(const Folder& folder,
                                     const std::string& from,
                                     const std::string& to) {
  MutexLock lock(&mutex_);
  Status status = CheckNames(from, to);
  if (!status.ok()) return status;
  Node* parent = MemoryFolder::NodeOf(folder);
  NodePtr source = Find(*parent, from);
  if (!source) return Errno(ENOENT);
  NodePtr target = Find(*parent, to);
  if (target == source) return Status::Ok();  // one file: rename(2) is done
  if (target) {
    const bool folders = source->kind == FileKind::kFolder;
    if (folders && target->kind != FileKind::kFolder) return Errno(ENOTDIR);
    if (!folders && target->kind == FileKind::kFolder) return Errno(EISDIR);
    if (!target->entries.empty()) return Errno(ENOTEMPTY);
    target->Unlink();
  }
  DropEntry(parent, from);
  AddEntry(parent, to, std::move(source));
  return Status::Ok();
}

Status MemoryFileSystem::RenameNoReplace(const Folder& folder,
                                         const std::string& from,
                                         const std::string& to) {
  MutexLock lock(&mutex_);
  Status status = CheckNames(from, to);
  if (!status.ok()) return status;
  Node* parent = MemoryFolder::NodeOf(folder);
  NodePtr source = Find(*parent, from);
  if (!source) return Errno(ENOENT);
  if (Find(*parent, to)) return Errno(EEXIST);
  DropEntry(parent, from);
  AddEntry(parent, to, std::move(source));
  return Status::Ok();
}

Status MemoryFileSystem::Remove(const Folder& folder,
                                const std::string& name) {
  MutexLock lock(&mutex_);
  Status status = CheckName(name);
  if (!status.ok()) return status;
  Node* parent = MemoryFolder::NodeOf(folder);
  NodePtr node = Find(*parent, name);
  if (!node) return Errno(ENOENT);
  if (node->kind == FileKind::kFolder) return Errno(EISDIR);  // unlink(2)
  DropEntry(parent, name);
  return Status::Ok();
}

Status MemoryFileSystem::MoveNoReplace(const Folder& from_folder,
                                       const std::string& from,
                                       const Folder& to_folder,
                                       const std::string& to) {
  MutexLock lock(&mutex_);
  Status status = CheckNames(from, to);
  if (!status.ok()) return status;
  Node* source_parent = MemoryFolder::NodeOf(from_folder);
  Node* target_parent = MemoryFolder::NodeOf(to_folder);
  if (target_parent->removed) return Errno(ENOENT);
  NodePtr source = Find(*source_parent, from);
  if (!source) return Errno(ENOENT);
  if (Find(*target_parent, to)) return Errno(EEXIST);
  if (source_parent->info.device != target_parent->info.device)
    return Errno(EXDEV);
  DropEntry(source_parent, from);
  AddEntry(target_parent, to, std::move(source));
  return Status::Ok();
}

Status MemoryFileSystem::CreateFolder(const Folder& parent,
                                      const std::string& name, mode_t mode) {
  MutexLock lock(&mutex_);
  Status status = CheckName(name);
  if (!status.ok()) return status;
  Node* parent_node = MemoryFolder::NodeOf(parent);
  if (parent_node->removed) return Errno(ENOENT);
  if (Find(*parent_node, name)) return Errno(EEXIST);
  NodePtr node = NewNode(FileKind::kFolder);
  node->info.device = parent_node->info.device;
  node->info.mode = mode & 07777;
  AddEntry(parent_node, name, std::move(node));
  return Status::Ok();
}

Status MemoryFileSystem::RemoveFolder(const Folder& parent,
                                      const std::string& name) {
  MutexLock lock(&mutex_);
  Status status = CheckName(name);
  if (!status.ok()) return status;
  Node* parent_node = MemoryFolder::NodeOf(parent);
  NodePtr node = Find(*parent_node, name);
  if (!node) return Errno(ENOENT);
  if (node->kind != FileKind::kFolder) return Errno(ENOTDIR);
  if (!node->entries.empty()) return Errno(ENOTEMPTY);
  node->Unlink();
  DropEntry(parent_node, name);
  return Status::Ok();
}

bool MemoryFileSystem::Exists(const Folder& folder, const std::string& name) {
  MutexLock lock(&mutex_);
  return CheckName(name).ok() && Find(*MemoryFolder::NodeOf(folder), name);
}

void MemoryFileSystem::set_open_files_limit(std::size_t limit) {
  MutexLock lock(&mutex_);
  open_files_limit_ = limit;
}

std::size_t MemoryFileSystem::OpenFilesLimit() {
  MutexLock lock(&mutex_);
  return open_files_limit_;
}

Status MemoryFileSystem::AbsolutePath(const std::string& path,
                                      std::string* absolute) {
  if (path.empty() || path == ".") {
    *absolute = "/";
  } else {
    *absolute = path[0] == '/' ? path : "/" + path;
  }
  return Status::Ok();
}

}  // namespace vs::test
