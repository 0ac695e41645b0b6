#include "tests/fault_file_system.h"

#include <cerrno>
#include <utility>

namespace vs::test {
namespace {

// The ops whose rules count calls rather than entries, reads or bytes.
bool CountsCalls(FaultFileSystem::Op op) {
  using Op = FaultFileSystem::Op;
  return op != Op::kListFolderAfter && op != Op::kAppend;
}

}  // namespace

class FaultFileSystem::WrappedFolder final : public Folder {
 public:
  explicit WrappedFolder(std::unique_ptr<Folder> base)
      : Folder(base->path()), base_(std::move(base)) {}
  const Folder& base() const { return *base_; }

 private:
  const std::unique_ptr<Folder> base_;
};

class FaultFileSystem::ReadFile final : public ReadableFile {
 public:
  ReadFile(FaultFileSystem* fs, std::string path,
           std::unique_ptr<ReadableFile> base)
      : fs_(fs), path_(std::move(path)), base_(std::move(base)) {}

  Status Read(char* buffer, std::size_t capacity, std::size_t* got) override {
    fs_->RunReadHooks(path_);
    if (auto rule = fs_->Fire(Op::kRead, path_, 0)) {
      *got = 0;
      return rule->status;
    }
    return base_->Read(buffer, capacity, got);
  }

  Status Rewind() override { return base_->Rewind(); }

 private:
  FaultFileSystem* const fs_;
  const std::string path_;
  const std::unique_ptr<ReadableFile> base_;
};

class FaultFileSystem::WriteFile final : public WritableFile {
 public:
  WriteFile(FaultFileSystem* fs, std::string path,
            std::unique_ptr<WritableFile> base)
      : fs_(fs), path_(std::move(path)), base_(std::move(base)) {}

  Status Append(const char* data, std::size_t length) override {
    fs_->Record("Append", path_);
    if (auto rule = fs_->Fire(Op::kAppend, path_, taken_ + length)) {
      return rule->status;
    }
    Status status = base_->Append(data, length);
    if (status.ok()) taken_ += length;
    return status;
  }

  Status Flush() override {
    Status status = fs_->Intercept(Op::kFlush, "Flush", path_);
    return status.ok() ? base_->Flush() : status;
  }

  Status Sync() override {
    Status status = fs_->Intercept(Op::kSync, "Sync", path_);
    return status.ok() ? base_->Sync() : status;
  }

  Status Close() override {
    Status status = fs_->Intercept(Op::kClose, "Close", path_);
    Status closed = base_->Close();
    return status.ok() ? closed : status;
  }

  WritableFile* base() const { return base_.get(); }

 private:
  FaultFileSystem* const fs_;
  const std::string path_;
  const std::unique_ptr<WritableFile> base_;
  std::uint64_t taken_ = 0;  // bytes appended with success
};

class FaultFileSystem::Held final : public HeldFile {
 public:
  Held(FaultFileSystem* fs, std::string path, std::unique_ptr<HeldFile> base)
      : fs_(fs), path_(std::move(path)), base_(std::move(base)) {}

  bool Undisturbed(const FileInfo& read) override {
    // A failing rule stands for a disturbance the system reported.
    if (!fs_->Intercept(Op::kUndisturbed, "Undisturbed", path_).ok())
      return false;
    return base_->Undisturbed(read);
  }

 private:
  FaultFileSystem* const fs_;
  const std::string path_;
  const std::unique_ptr<HeldFile> base_;
};

FaultFileSystem::FaultFileSystem(FileSystem* base) : base_(base) {}

void FaultFileSystem::FailNext(Op op, std::string path_part, Status status,
                               std::uint64_t after) {
  AddRule({op, std::move(path_part), std::move(status), after, true});
}

void FaultFileSystem::FailAlways(Op op, std::string path_part, Status status,
                                 std::uint64_t after) {
  AddRule({op, std::move(path_part), std::move(status), after, false});
}

void FaultFileSystem::OnRead(std::string path_part,
                             std::function<void(std::uint64_t)> hook) {
  MutexLock lock(&mutex_);
  read_hooks_.push_back({std::move(path_part), std::move(hook)});
}

void FaultFileSystem::RunReadHooks(const std::string& path) {
  std::vector<std::pair<std::function<void(std::uint64_t)>, std::uint64_t>>
      due;
  {
    MutexLock lock(&mutex_);
    for (ReadHook& h : read_hooks_)
      if (path.find(h.path_part) != std::string::npos)
        due.emplace_back(h.hook, ++h.reads);
  }
  for (auto& [hook, read_number] : due) hook(read_number);
}

const Folder& FaultFileSystem::Base(const Folder& folder) {
  return static_cast<const WrappedFolder&>(folder).base();
}

std::string FaultFileSystem::PathOf(const Folder& folder,
                                    const std::string& name) {
  return folder.path() + "/" + name;
}

Status FaultFileSystem::DiskFull() { return Status::FromErrno(ENOSPC); }
Status FaultFileSystem::IoError() { return Status::FromErrno(EIO); }

std::vector<std::string> FaultFileSystem::calls() const {
  MutexLock lock(&mutex_);
  return calls_;
}

void FaultFileSystem::AddRule(Rule rule) {
  MutexLock lock(&mutex_);
  rules_.push_back(std::move(rule));
}

void FaultFileSystem::Record(const std::string& name, const std::string& args) {
  MutexLock lock(&mutex_);
  calls_.push_back(name + " " + args);
}

void FaultFileSystem::Before(Op op, std::string path_part,
                             std::function<void()> hook) {
  MutexLock lock(&mutex_);
  call_hooks_.push_back({op, std::move(path_part), std::move(hook)});
}

Status FaultFileSystem::Intercept(Op op, const std::string& name,
                                  const std::string& args) {
  std::vector<std::function<void()>> due;
  {
    MutexLock lock(&mutex_);
    for (const CallHook& h : call_hooks_)
      if (h.op == op && args.find(h.path_part) != std::string::npos)
        due.push_back(h.hook);
  }
  for (const auto& hook : due) hook();
  Record(name, args);
  auto rule = Fire(op, args, 0);
  return rule ? rule->status : Status::Ok();
}

std::optional<FaultFileSystem::Rule> FaultFileSystem::Fire(
    Op op, const std::string& args, std::uint64_t count) {
  MutexLock lock(&mutex_);
  std::optional<Rule> fired;
  for (auto it = rules_.begin(); it != rules_.end();) {
    if (it->op != op || args.find(it->path_part) == std::string::npos) {
      ++it;
      continue;
    }
    // Every matching rule counts the call, not just the one that fires.
    std::uint64_t passed = CountsCalls(op) ? ++it->calls : count;
    if (fired || passed <= it->after) {
      ++it;
      continue;
    }
    fired = *it;
    it = it->once ? rules_.erase(it) : it + 1;
  }
  return fired;
}

Status FaultFileSystem::OpenFolder(const std::string& path, bool follow_link,
                                   std::unique_ptr<Folder>* folder) {
  Status status = Intercept(Op::kOpenFolder, "OpenFolder", path);
  std::unique_ptr<Folder> base_folder;
  if (status.ok()) status = base_->OpenFolder(path, follow_link, &base_folder);
  if (status.ok())
    *folder = std::make_unique<WrappedFolder>(std::move(base_folder));
  return status;
}

Status FaultFileSystem::OpenSubfolder(const Folder& parent,
                                      const std::string& name,
                                      std::unique_ptr<Folder>* folder) {
  Status status =
      Intercept(Op::kOpenFolder, "OpenFolder", PathOf(parent, name));
  std::unique_ptr<Folder> base_folder;
  if (status.ok())
    status = base_->OpenSubfolder(Base(parent), name, &base_folder);
  if (status.ok())
    *folder = std::make_unique<WrappedFolder>(std::move(base_folder));
  return status;
}

Status FaultFileSystem::ListFolder(const Folder& folder,
                                   std::vector<FolderEntry>* entries) {
  const std::string& path = folder.path();
  Status status = Intercept(Op::kListFolder, "ListFolder", path);
  if (!status.ok()) {
    entries->clear();
    return status;
  }
  status = base_->ListFolder(Base(folder), entries);
  if (!status.ok()) return status;
  if (auto rule = Fire(Op::kListFolderAfter, path, entries->size())) {
    entries->resize(rule->after);
    return rule->status;
  }
  return Status::Ok();
}

Status FaultFileSystem::OpenForRead(const Folder& folder,
                                    const std::string& name,
                                    std::unique_ptr<ReadableFile>* file,
                                    FileInfo* info) {
  std::string path = PathOf(folder, name);
  Status status = Intercept(Op::kOpenForRead, "OpenForRead", path);
  if (!status.ok()) return status;
  std::unique_ptr<ReadableFile> base_file;
  status = base_->OpenForRead(Base(folder), name, &base_file, info);
  if (status.ok()) {
    *file = std::make_unique<ReadFile>(this, path, std::move(base_file));
  }
  return status;
}

bool FaultFileSystem::StillReaches(const Folder& base,
                                   const std::string& relative,
                                   const Folder& folder) {
  if (!Intercept(Op::kStillReaches, "StillReaches", folder.path()).ok())
    return false;
  return base_->StillReaches(Base(base), relative, Base(folder));
}

Status FaultFileSystem::StatFolder(const Folder& folder, FileInfo* info) {
  return base_->StatFolder(Base(folder), info);
}

Status FaultFileSystem::Stat(const Folder& folder, const std::string& name,
                             FileInfo* info) {
  return base_->Stat(Base(folder), name, info);
}

Status FaultFileSystem::CreateExclusive(const Folder& folder,
                                        const std::string& name,
                                        const FileInfo& like,
                                        std::unique_ptr<WritableFile>* file) {
  std::string path = PathOf(folder, name);
  Status status = Intercept(Op::kCreateExclusive, "CreateExclusive", path);
  if (!status.ok()) return status;
  std::unique_ptr<WritableFile> base_file;
  status = base_->CreateExclusive(Base(folder), name, like, &base_file);
  if (status.ok()) {
    *file = std::make_unique<WriteFile>(this, path, std::move(base_file));
  }
  return status;
}

Status FaultFileSystem::KeepMetadata(const Folder& folder,
                                     const std::string& original,
                                     WritableFile* file) {
  Status status = Intercept(Op::kKeepMetadata, "KeepMetadata",
                            PathOf(folder, original));
  if (!status.ok()) return status;
  return base_->KeepMetadata(Base(folder), original,
                             static_cast<WriteFile*>(file)->base());
}

Status FaultFileSystem::HoldForReplace(const Folder& folder,
                                       const std::string& name,
                                       std::unique_ptr<HeldFile>* held,
                                       FileInfo* info) {
  std::string path = PathOf(folder, name);
  Status status = Intercept(Op::kHoldForReplace, "HoldForReplace", path);
  if (!status.ok()) return status;
  std::unique_ptr<HeldFile> base_held;
  status = base_->HoldForReplace(Base(folder), name, &base_held, info);
  if (status.ok())
    *held = std::make_unique<Held>(this, path, std::move(base_held));
  return status;
}

Status FaultFileSystem::Exchange(const Folder& folder, const std::string& a,
                                 const std::string& b) {
  Status status = Intercept(Op::kExchange, "Exchange",
                            PathOf(folder, a) + " " + PathOf(folder, b));
  return status.ok() ? base_->Exchange(Base(folder), a, b) : status;
}

Status FaultFileSystem::ReplaceWith(const Folder& folder,
                                    const std::string& from,
                                    const std::string& to) {
  Status status = Intercept(Op::kReplaceWith, "ReplaceWith",
                            PathOf(folder, from) + " " + PathOf(folder, to));
  return status.ok() ? base_->ReplaceWith(Base(folder), from, to) : status;
}

Status FaultFileSystem::RenameNoReplace(const Folder& folder,
                                        const std::string& from,
                                        const std::string& to) {
  Status status = Intercept(Op::kRenameNoReplace, "RenameNoReplace",
                            PathOf(folder, from) + " " + PathOf(folder, to));
  return status.ok() ? base_->RenameNoReplace(Base(folder), from, to) : status;
}

Status FaultFileSystem::Remove(const Folder& folder, const std::string& name) {
  Status status = Intercept(Op::kRemove, "Remove", PathOf(folder, name));
  return status.ok() ? base_->Remove(Base(folder), name) : status;
}

Status FaultFileSystem::MoveNoReplace(const Folder& from_folder,
                                      const std::string& from,
                                      const Folder& to_folder,
                                      const std::string& to) {
  Status status =
      Intercept(Op::kMoveNoReplace, "MoveNoReplace",
                PathOf(from_folder, from) + " " + PathOf(to_folder, to));
  return status.ok() ? base_->MoveNoReplace(Base(from_folder), from,
                                            Base(to_folder), to)
                     : status;
}

Status FaultFileSystem::CreateFolder(const Folder& parent,
                                     const std::string& name, mode_t mode) {
  Status status =
      Intercept(Op::kCreateFolder, "CreateFolder", PathOf(parent, name));
  return status.ok() ? base_->CreateFolder(Base(parent), name, mode) : status;
}

Status FaultFileSystem::RemoveFolder(const Folder& parent,
                                     const std::string& name) {
  Status status =
      Intercept(Op::kRemoveFolder, "RemoveFolder", PathOf(parent, name));
  return status.ok() ? base_->RemoveFolder(Base(parent), name) : status;
}

bool FaultFileSystem::Exists(const Folder& folder, const std::string& name) {
  return base_->Exists(Base(folder), name);
}

}  // namespace vs::test
