#include "engine/run_journal.h"

#include <unistd.h>

#include <cstdio>
#include <system_error>
#include <utility>
#include <vector>

namespace vs {
namespace {

constexpr mode_t kOwnFolderMode = 0700;
constexpr mode_t kOwnFileMode = 0600;
// Runs of one process started within one second: "-2", "-3", ...
constexpr int kRunFolderAttempts = 1000;
constexpr std::size_t kCopyBufferSize = 64 * 1024;

constexpr char kHeaderName[] = "run";
constexpr char kChangesName[] = "changes";
constexpr char kOldName[] = "old";
constexpr char kEndName[] = "end";

// A reason that says which step of the journal failed.
Status Failed(const std::string& what, const Status& status) {
  return Status::Error(status.code(), what + ": " + status.reason());
}

std::string RunId(std::time_t started, pid_t pid) {
  std::tm utc{};
  gmtime_r(&started, &utc);
  char id[64];
  std::snprintf(id, sizeof id, "%04d%02d%02d-%02d%02d%02d-%ld",
                utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                utc.tm_min, utc.tm_sec, static_cast<long>(pid));
  return id;
}

std::string LastName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

RunJournal::RunJournal(FileSystem* file_system) : file_system_(file_system) {}

RunJournal::~RunJournal() = default;

FileInfo RunJournal::OwnFile() const {
  FileInfo info;
  info.mode = kOwnFileMode;
  info.owner = geteuid();
  info.group = getegid();
  return info;
}

Status RunJournal::OpenMaking(const std::string& path,
                              std::unique_ptr<Folder>* folder) {
  Status status = file_system_->OpenFolder(path, /*follow_link=*/true, folder);
  if (status.code() != Status::Code::kNotFound) return status;
  // Missing: made in its parent, itself made first if need be.
  const std::size_t last = path.find_last_not_of('/');
  if (last == std::string::npos) return status;  // "/" itself
  const std::size_t slash = path.rfind('/', last);
  // A relative path of one name is made in the working folder.
  const std::string parent_path = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                             : path.substr(0, slash);
  const std::string name =
      slash == std::string::npos ? path.substr(0, last + 1)
                                 : path.substr(slash + 1, last - slash);
  if (name == "." || name == "..") return status;
  std::unique_ptr<Folder> parent;
  status = OpenMaking(parent_path, &parent);
  if (!status.ok()) return status;
  status = file_system_->CreateFolder(*parent, name, kOwnFolderMode);
  // Made by another run meanwhile, perhaps: it is opened all the same.
  if (!status.ok() && status.code() != Status::Code::kExists) return status;
  return file_system_->OpenFolder(path, /*follow_link=*/true, folder);
}

Status RunJournal::Identify(const Folder& folder, const std::string& name) {
  FileInfo info;
  Status status = file_system_->StatFolder(folder, &info);
  if (!status.ok()) return status;
  own_folders_.push_back(OwnFolder{name, info.device, info.inode});
  return Status::Ok();
}

Status RunJournal::Begin(const std::string& state_folder,
                         const RunSettings& settings,
                         const std::string& base_dir) {
  runs_path_ = state_folder + "/runs";
  base_dir_ = base_dir;
  std::unique_ptr<Folder> state;
  Status status = OpenMaking(state_folder, &state);
  if (status.ok()) status = Identify(*state, LastName(state_folder));
  if (status.ok()) status = OpenMaking(runs_path_, &runs_);
  if (status.ok()) status = Identify(*runs_, "runs");
  if (!status.ok()) return status;
  status = MakeRunFolder();
  if (!status.ok()) return Failed("cannot make the run's folder", status);
  status = WriteHeader(settings, base_dir);
  if (!status.ok()) Abandon();
  return status;
}

Status RunJournal::MakeRunFolder() {
  const std::string stem = RunId(std::time(nullptr), getpid());
  Status status;
  for (int attempt = 1; attempt <= kRunFolderAttempts; ++attempt) {
    id_ = attempt == 1 ? stem : stem + "-" + std::to_string(attempt);
    status = file_system_->CreateFolder(*runs_, id_, kOwnFolderMode);
    if (status.code() != Status::Code::kExists) break;
  }
  if (!status.ok()) {
    id_.clear();
    return status;
  }
  status = file_system_->OpenSubfolder(*runs_, id_, &run_);
  if (status.ok()) status = Identify(*run_, id_);
  if (status.ok())
    status = file_system_->CreateFolder(*run_, kOldName, kOwnFolderMode);
  if (status.ok()) status = file_system_->OpenSubfolder(*run_, kOldName, &old_);
  FileInfo info;
  if (status.ok()) status = file_system_->StatFolder(*old_, &info);
  if (status.ok()) device_ = info.device;
  if (!status.ok()) Abandon();
  return status;
}

Status RunJournal::WriteHeader(const RunSettings& settings,
                               const std::string& base_dir) {
  JournalHeader header;
  Status status = file_system_->AbsolutePath(base_dir, &header.base_dir);
  if (!status.ok()) return Failed("cannot tell where the folder is", status);
  header.find = settings.find;
  header.replace = settings.replace;
  header.modes = settings.modes;
  header.sub_folders = settings.sub_folders;
  header.change_names = settings.change_names;
  header.change_text = settings.change_text;
  header.started = static_cast<std::int64_t>(std::time(nullptr));
  const std::string text = EncodeHeader(header);

  std::unique_ptr<WritableFile> file;
  status = file_system_->CreateExclusive(*run_, kHeaderName, OwnFile(), &file);
  if (status.ok()) status = file->Append(text.data(), text.size());
  if (status.ok()) status = file->Sync();
  if (status.ok()) status = file->Close();
  if (!status.ok()) return Failed("cannot write the run's settings", status);

  std::unique_ptr<WritableFile> changes;
  status = file_system_->CreateExclusive(*run_, kChangesName, OwnFile(),
                                         &changes);
  if (!status.ok()) return Failed("cannot begin the list of changes", status);
  MutexLock lock(&mutex_);
  changes_ = std::move(changes);
  return Status::Ok();
}

void RunJournal::Abandon() {
  {
    MutexLock lock(&mutex_);
    changes_.reset();
  }
  if (run_) {
    file_system_->Remove(*run_, kChangesName);
    file_system_->Remove(*run_, kHeaderName);
    old_.reset();
    file_system_->RemoveFolder(*run_, kOldName);
    run_.reset();
  }
  if (runs_ && !id_.empty()) file_system_->RemoveFolder(*runs_, id_);
  id_.clear();
}

void RunJournal::Add(const JournalRecord& record) {
  std::string line = EncodeRecord(record);
  MutexLock lock(&mutex_);
  if (record.number <= written_ || ready_.count(record.number)) return;
  ready_[record.number] = std::move(line);
  WriteReady();
}

void RunJournal::Skip(std::uint64_t number) {
  if (number == 0) return;
  MutexLock lock(&mutex_);
  if (number <= written_ || ready_.count(number)) return;
  ready_[number] = std::string();
  WriteReady();
}

void RunJournal::WriteReady() {
  for (auto next = ready_.begin();
       next != ready_.end() && next->first == written_ + 1;
       next = ready_.erase(next)) {
    ++written_;
    if (next->second.empty()) continue;
    Write(next->second);
    if (failure_.ok()) ++records_;
  }
}

void RunJournal::Write(const std::string& line) {
  if (!failure_.ok()) return;
  if (!changes_) return Fail(Status::Error(Status::Code::kIOError, "closed"));
  Status status = changes_->Append(line.data(), line.size());
  if (!status.ok()) Fail(status);
}

void RunJournal::Fail(const Status& status) {
  if (failure_.ok()) failure_ = status;
}

Status RunJournal::JournalWriteFailed(const Status& status) {
  {
    MutexLock lock(&mutex_);
    Fail(status);
  }
  return WriteFailure(status);
}

Status WriteFailure(const Status& status) {
  return Failed("cannot write the undo journal", status);
}

void RunJournal::AddEntries(std::uint64_t number, const ChangeList& entries) {
  std::string line;
  try {
    line = EncodeEntries(number, entries);
  } catch (const std::system_error&) {
    // Entries that cannot be read back from the scratch file: the record
    // stands without them, as though the run had been killed after it.
    return;
  }
  MutexLock lock(&mutex_);
  Write(line);
}

Status RunJournal::Sync() {
  MutexLock lock(&mutex_);
  if (!ready_.empty()) {
    Fail(Status::Error(Status::Code::kIOError, "a record went missing"));
  }
  if (failure_.ok()) {
    Status status = changes_ ? changes_->Sync()
                             : Status::Error(Status::Code::kIOError, "closed");
    if (!status.ok()) Fail(status);
  }
  return failure_;
}

Status RunJournal::failure() const {
  MutexLock lock(&mutex_);
  return failure_;
}

Status RunJournal::CopyInto(ReadableFile* from, WritableFile* to,
                            std::uint64_t* copied, bool* write_failed) {
  std::vector<char> buffer(kCopyBufferSize);
  for (;;) {
    std::size_t got = 0;
    Status status = from->Read(buffer.data(), buffer.size(), &got);
    if (!status.ok()) return status;
    if (got == 0) break;
    status = to->Append(buffer.data(), got);
    if (!status.ok()) {
      *write_failed = true;
      return status;
    }
    *copied += got;
  }
  *write_failed = true;  // what fails from here on is the journal's
  Status status = to->Sync();
  if (status.ok()) status = to->Close();
  return status;
}

Status RunJournal::CopyOldText(const Folder& folder, const std::string& name,
                               const FileInfo& read, std::uint64_t number) {
  {
    Status failed = failure();
    if (!failed.ok()) return failed;
  }
  std::unique_ptr<ReadableFile> in;
  FileInfo now;
  Status status = file_system_->OpenForRead(folder, name, &in, &now);
  if (status.code() == Status::Code::kNotFound ||
      status.code() == Status::Code::kNotRegular ||
      (status.ok() && !SameVersion(read, now)))
    return Status::Error(Status::Code::kIOError, "changed during the run");
  if (!status.ok()) return status;

  // The copy is the old text's only home: it is on the disk before the
  // file is replaced, with the file's mode.
  const std::string copy = OldTextName(number);
  std::unique_ptr<WritableFile> out;
  status = file_system_->CreateExclusive(*old_, copy, read, &out);
  if (!status.ok()) return JournalWriteFailed(status);
  std::uint64_t copied = 0;
  bool write_failed = false;
  status = CopyInto(in.get(), out.get(), &copied, &write_failed);
  out.reset();
  // Written to while it was read: the swap would find it changed too.
  if (status.ok() && copied != read.size)
    status = Status::Error(Status::Code::kIOError, "changed during the run");
  if (!status.ok()) {
    file_system_->Remove(*old_, copy);
    if (!write_failed) return status;  // the file's own failure
    return JournalWriteFailed(status);
  }
  MutexLock lock(&mutex_);
  bytes_copied_ += copied;
  return Status::Ok();
}

Status RunJournal::KeepOldText(const Folder& folder, const std::string& name,
                               std::uint64_t number) {
  return file_system_->MoveNoReplace(folder, name, *old_,
                                     OldTextName(number));
}

Status RunJournal::PutBackOldText(const Folder& folder,
                                  const std::string& name,
                                  std::uint64_t number) {
  return file_system_->MoveNoReplace(*old_, OldTextName(number), folder, name);
}

Status RunJournal::End(bool stopped) {
  JournalEnd end;
  end.stopped = stopped;
  end.ended = static_cast<std::int64_t>(std::time(nullptr));
  const std::string text = EncodeEnd(end);
  {
    // The entries written since the last batch go to the disk first.
    MutexLock lock(&mutex_);
    if (failure_.ok() && changes_) {
      Status status = changes_->Sync();
      if (status.ok()) status = changes_->Close();
      if (!status.ok()) Fail(status);
    }
    changes_.reset();
  }
  if (!run_) return failure();
  // A run that changed nothing has nothing to undo: it keeps no journal,
  // and pushes no run that did out of those kept.
  if (reserved_ == 0 && !failed()) {
    Abandon();
    return Status::Ok();
  }
  std::unique_ptr<WritableFile> file;
  Status status = file_system_->CreateExclusive(*run_, kEndName, OwnFile(),
                                                &file);
  if (status.ok()) status = file->Append(text.data(), text.size());
  if (status.ok()) status = file->Sync();
  if (status.ok()) status = file->Close();
  return status;
}

JournalSummary RunJournal::summary() const {
  JournalSummary summary;
  summary.id = id_;
  if (!id_.empty()) summary.folder = path();
  MutexLock lock(&mutex_);
  summary.files = records_;
  summary.bytes_copied = bytes_copied_;
  return summary;
}

}  // namespace vs
