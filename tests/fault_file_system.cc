#include "tests/fault_file_system.h"

#include <cerrno>
#include <utility>

namespace vs::test {
namespace {

// The ops whose rules count calls rather than entries, reads or bytes.
bool CountsCalls(FaultFileSystem::Op op) {
  using Op = FaultFileSystem::Op;
  return op != Op::kListFolderAfter && op != Op::kRead && op != Op::kAppend;
}

}  // namespace

class FaultFileSystem::ReadFile final : public ReadableFile {
 public:
  ReadFile(FaultFileSystem* fs, std::string path,
           std::unique_ptr<ReadableFile> base)
      : fs_(fs), path_(std::move(path)), base_(std::move(base)) {}

  Status Read(char* buffer, std::size_t capacity, std::size_t* got) override {
    if (auto rule = fs_->Fire(Op::kRead, path_, ++reads_)) {
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
  std::uint64_t reads_ = 0;
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

 private:
  FaultFileSystem* const fs_;
  const std::string path_;
  const std::unique_ptr<WritableFile> base_;
  std::uint64_t taken_ = 0;  // bytes appended with success
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

Status FaultFileSystem::DiskFull() { return Status::FromErrno(ENOSPC); }
Status FaultFileSystem::IoError() { return Status::FromErrno(EIO); }

std::vector<std::string> FaultFileSystem::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

void FaultFileSystem::AddRule(Rule rule) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.push_back(std::move(rule));
}

void FaultFileSystem::Record(const std::string& name, const std::string& args) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(name + " " + args);
}

Status FaultFileSystem::Intercept(Op op, const std::string& name,
                                  const std::string& args) {
  Record(name, args);
  auto rule = Fire(op, args, 0);
  return rule ? rule->status : Status::Ok();
}

std::optional<FaultFileSystem::Rule> FaultFileSystem::Fire(
    Op op, const std::string& args, std::uint64_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
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

Status FaultFileSystem::ListFolder(const std::string& path, bool follow_link,
                                   std::vector<FolderEntry>* entries) {
  Status status = Intercept(Op::kListFolder, "ListFolder", path);
  if (!status.ok()) {
    entries->clear();
    return status;
  }
  status = base_->ListFolder(path, follow_link, entries);
  if (!status.ok()) return status;
  if (auto rule = Fire(Op::kListFolderAfter, path, entries->size())) {
    entries->resize(rule->after);
    return rule->status;
  }
  return Status::Ok();
}

Status FaultFileSystem::OpenForRead(const std::string& path,
                                    std::unique_ptr<ReadableFile>* file,
                                    FileInfo* info) {
  Status status = Intercept(Op::kOpenForRead, "OpenForRead", path);
  if (!status.ok()) return status;
  std::unique_ptr<ReadableFile> base_file;
  status = base_->OpenForRead(path, &base_file, info);
  if (status.ok()) {
    *file = std::make_unique<ReadFile>(this, path, std::move(base_file));
  }
  return status;
}

Status FaultFileSystem::CreateExclusive(const std::string& path,
                                        const FileInfo& like,
                                        std::unique_ptr<WritableFile>* file) {
  Status status = Intercept(Op::kCreateExclusive, "CreateExclusive", path);
  if (!status.ok()) return status;
  std::unique_ptr<WritableFile> base_file;
  status = base_->CreateExclusive(path, like, &base_file);
  if (status.ok()) {
    *file = std::make_unique<WriteFile>(this, path, std::move(base_file));
  }
  return status;
}

Status FaultFileSystem::ReplaceWith(const std::string& from,
                                    const std::string& to) {
  Status status = Intercept(Op::kReplaceWith, "ReplaceWith", from + " " + to);
  return status.ok() ? base_->ReplaceWith(from, to) : status;
}

Status FaultFileSystem::RenameNoReplace(const std::string& from,
                                        const std::string& to) {
  Status status =
      Intercept(Op::kRenameNoReplace, "RenameNoReplace", from + " " + to);
  return status.ok() ? base_->RenameNoReplace(from, to) : status;
}

Status FaultFileSystem::Remove(const std::string& path) {
  Status status = Intercept(Op::kRemove, "Remove", path);
  return status.ok() ? base_->Remove(path) : status;
}

bool FaultFileSystem::Exists(const std::string& path) {
  return base_->Exists(path);
}

}  // namespace vs::test
