#include "engine/undo_run.h"

#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "engine/change_entry.h"
#include "engine/file_names.h"
#include "engine/journal_records.h"
#include "engine/past_runs.h"
#include "engine/sync_pool.h"

namespace vs {
namespace {

// As many temporary names as a run tries for one file.
constexpr int kTemporaryNameAttempts = 100;

constexpr char kRestoredSuffix[] = ".restored";

Status Damaged(const std::string& what) {
  return Status::Error(Status::Code::kIOError, "damaged journal: " + what);
}

Status ChangedSinceRun() {
  return Status::Error(Status::Code::kIOError, kChangedSinceRun);
}

Status OldVersionGone() {
  return Status::Error(Status::Code::kNotFound,
                       "its old version is gone from the journal");
}

bool SameFile(const FileInfo& a, const FileInfo& b) {
  return a.device == b.device && a.inode == b.inode;
}

// The note of a copy an undo made of a copied old version, so the next
// undo knows it: its device, inode, size and modification time.
std::string EncodeCopyNote(const FileInfo& info) {
  return std::to_string(info.device) + "\t" + std::to_string(info.inode) +
         "\t" + std::to_string(info.size) + "\t" +
         std::to_string(info.modified_ns) + "\n";
}

bool DecodeCopyNote(const std::string& text, FileInfo* info) {
  unsigned long long device = 0, inode = 0, size = 0;
  long long modified = 0;
  char end = 0;
  if (std::sscanf(text.c_str(), "%llu\t%llu\t%llu\t%lld%c", &device, &inode,
                  &size, &modified, &end) != 5 ||
      end != '\n')
    return false;
  info->device = static_cast<dev_t>(device);
  info->inode = static_cast<ino_t>(inode);
  info->size = size;
  info->modified_ns = modified;
  return true;
}

// Writes a small new file and makes it durable; an old one of the name
// is replaced only when `replace` says so.
Status WriteSmallFile(FileSystem* fs, const Folder& folder,
                      const std::string& name, const std::string& text,
                      bool replace) {
  FileInfo like;
  like.mode = 0600;
  std::unique_ptr<WritableFile> file;
  Status status = fs->CreateExclusive(folder, name, like, &file);
  if (status.code() == Status::Code::kExists && replace) {
    status = fs->Remove(folder, name);
    if (status.ok()) status = fs->CreateExclusive(folder, name, like, &file);
  }
  if (!status.ok()) return status;
  status = file->Append(text.data(), text.size());
  if (status.ok()) status = MakeDurable(file.get());
  return status;
}

}  // namespace

// One undo, from its checks to its end.
class UndoRun::Work {
 public:
  Work(UndoRun* undo, bool dry_run)
      : undo_(*undo), fs_(undo->file_system_), dry_run_(dry_run) {}

  Status Prepare(const std::string& runs_folder, const std::string& id);
  void Run();

 private:
  // Where the old version brought back into the file's folder came from.
  enum class Source { kJournal, kRunLeftover, kCopy };

  Status CheckRecords();
  Status OpenFolders();
  Status OpenFolder(const std::string& folder);
  Status CheckOldVersions();
  void UndoRecord(const JournalRecord& r);
  bool IsOldVersion(const JournalRecord& r, const FileInfo& info) const;
  void FinishLeftovers(const JournalRecord& r, const Folder& folder);
  Status RestoreText(const JournalRecord& r, const Folder& folder,
                     const std::string& from);
  Status BringOldIn(const JournalRecord& r, const Folder& folder,
                    const std::string& from, std::string* temp,
                    Source* source);
  Status CopyOldIn(const JournalRecord& r, const Folder& folder,
                   const std::string& from, std::string* temp);
  Status SwapBack(const Folder& folder, const std::string& temp,
                  const std::string& name, const FileInfo& after);
  void PutOldBack(const JournalRecord& r, const Folder& folder,
                  const std::string& temp, Source source);
  // The temporary names of `name` in the folder of record `r` that exist.
  std::vector<std::string> TempsOf(const JournalRecord& r,
                                   const Folder& folder);
  std::set<std::string>& TempNames(const JournalRecord& r,
                                   const Folder& folder);
  // The path of `name` in the record's folder; by default the name the
  // file has after the run.
  std::string PathOf(const JournalRecord& r,
                     const std::string& name = "") const;
  // Tells the file `name` of the record's folder.
  void Tell(const JournalRecord& r, const std::string& name,
            const ChangeList& entries);
  void Fail(const JournalRecord& r, const std::string& entry);

  UndoRun& undo_;
  FileSystem* const fs_;
  const bool dry_run_;
  std::unique_ptr<Folder> runs_, run_, old_;
  PastRun past_;
  // Each record's folder by its path below the base; null where it is
  // gone.
  std::map<std::string, std::unique_ptr<Folder>> folders_;
  // The temporary names found in each folder, kept up to date with what
  // the undo makes and removes there.
  std::map<std::string, std::set<std::string>> temp_names_;
  // The copies earlier undos made, by record number.
  std::map<std::uint64_t, FileInfo> copies_;
};

Status UndoRun::Work::Prepare(const std::string& runs_folder,
                              const std::string& id) {
  Status status = LoadRun(fs_, runs_folder, id, &past_);
  if (!status.ok()) return status;
  if (past_.summary.undone)
    return Status::Error(Status::Code::kExists,
                         "run " + id + " was undone already");
  status = fs_->OpenFolder(runs_folder, /*follow_link=*/true, &runs_);
  if (status.ok()) status = fs_->OpenSubfolder(*runs_, id, &run_);
  if (!status.ok()) return status;
  status = fs_->OpenSubfolder(*run_, "old", &old_);
  if (status.code() == Status::Code::kNotFound) {
    old_.reset();
  } else if (!status.ok()) {
    return status;
  }
  status = CheckRecords();
  if (status.ok()) status = OpenFolders();
  if (status.ok()) status = CheckOldVersions();
  return status;
}

// No two records may speak for one file: one would undo the other.
Status UndoRun::Work::CheckRecords() {
  std::set<std::pair<std::string, std::string>> found, left;
  for (const JournalRecord& r : past_.changes.records) {
    if (!found.emplace(r.folder, r.name).second ||
        !left.emplace(r.folder, r.name_after()).second)
      return Damaged("two records of " + PathOf(r));
  }
  return Status::Ok();
}

Status UndoRun::Work::OpenFolders() {
  const std::string& base = past_.summary.header.base_dir;
  Status status = fs_->OpenFolder(base, /*follow_link=*/true, &folders_[""]);
  if (!status.ok())
    return Status::Error(status.code(), "cannot open the run's folder " +
                                            base + ": " + status.reason());
  for (const JournalRecord& r : past_.changes.records) {
    status = OpenFolder(r.folder);
    if (!status.ok()) return status;
  }
  return Status::Ok();
}

// Opens `folder` from the base, name by name, never through a link. One
// that is gone leaves its files to fail; anything else that cannot be
// opened (a link, a file) refuses the undo.
Status UndoRun::Work::OpenFolder(const std::string& folder) {
  if (folders_.count(folder)) return Status::Ok();  // the base is there
  const std::size_t slash = folder.rfind('/');
  const std::string parent =
      slash == std::string::npos ? std::string() : folder.substr(0, slash);
  Status status = OpenFolder(parent);
  if (!status.ok()) return status;
  std::unique_ptr<Folder>& opened = folders_[folder];
  const Folder* above = folders_[parent].get();
  if (!above) return Status::Ok();
  const std::string name =
      slash == std::string::npos ? folder : folder.substr(slash + 1);
  status = fs_->OpenSubfolder(*above, name, &opened);
  // Gone, with nothing in its place: its files are no longer as the run
  // left them. A link or a file of its name is something else.
  if (status.code() == Status::Code::kNotFound && !fs_->Exists(*above, name))
    return Status::Ok();
  if (!status.ok())
    return Damaged(above->path() + "/" + name +
                   " is not a folder of the run's tree: " + status.reason());
  return Status::Ok();
}

// Every old version the journal holds must be the file the run found
// (moved) or of its size (copied); a copy an earlier undo noted must
// decode.
Status UndoRun::Work::CheckOldVersions() {
  if (!old_) return Status::Ok();
  for (const JournalRecord& r : past_.changes.records) {
    if (r.old_text == OldText::kNone) continue;
    const std::string name = OldTextName(r.number);
    const Status not_old = Damaged("old/" + name +
                                   " is not the old version of " + PathOf(r));
    if (r.old_text == OldText::kMoved) {
      FileInfo info;
      if (fs_->Stat(*old_, name, &info).ok() && !SameVersion(info, r.before))
        return not_old;
      continue;
    }
    std::unique_ptr<ReadableFile> file;
    FileInfo info;
    Status status = fs_->OpenForRead(*old_, name, &file, &info);
    if (status.code() == Status::Code::kNotFound) continue;
    // A copy cut short by a killed run is no damage while the file it
    // copies is still under the run's temporary name.
    bool run_left_it = false;
    if (status.ok() && info.size != r.before.size) {
      if (const Folder* folder = folders_[r.folder].get()) {
        for (const std::string& temp : TempsOf(r, *folder)) {
          FileInfo left;
          if (fs_->Stat(*folder, temp, &left).ok() && SameFile(left, r.before))
            run_left_it = true;
        }
      }
    }
    if (!status.ok() || (info.size != r.before.size && !run_left_it))
      return not_old;
    std::string note;
    status = ReadWholeFile(fs_, *old_, name + kRestoredSuffix, &note);
    if (status.ok()) {
      FileInfo copy;
      if (!DecodeCopyNote(note, &copy))
        return Damaged("old/" + name + kRestoredSuffix + " does not decode");
      copies_[r.number] = copy;
    }
  }
  return Status::Ok();
}

void UndoRun::Work::Run() {
  const auto& records = past_.changes.records;
  for (auto r = records.rbegin(); r != records.rend(); ++r) {
    if (undo_.stop_requested()) return;
    UndoRecord(*r);
  }
  if (dry_run_ || undo_.stop_requested()) return;
  Status status = WriteSmallFile(fs_, *run_, "undone",
                                 std::to_string(std::time(nullptr)) + "\n",
                                 /*replace=*/false);
  if (!status.ok() && status.code() != Status::Code::kExists)
    undo_.mark_failure_ = "cannot mark run " + past_.summary.id +
                          " undone: " + status.reason();
}

void UndoRun::Work::UndoRecord(const JournalRecord& r) {
  const Folder* folder = folders_[r.folder].get();
  if (!folder) return Fail(r, RestoreFailureEntry(kChangedSinceRun));
  const std::string& after_name = r.name_after();
  const bool renamed = !r.new_name.empty();
  FileInfo at_name, at_after;
  const bool has_name = fs_->Stat(*folder, r.name, &at_name).ok();
  const bool has_after =
      renamed ? fs_->Stat(*folder, after_name, &at_after).ok() : has_name;
  if (!renamed) at_after = at_name;
  if (has_name && IsOldVersion(r, at_name)) {
    // Never changed, or restored already: only leftovers may be left.
    if (!dry_run_) FinishLeftovers(r, *folder);
    return;
  }
  // Where the run's version is, and what of it is to go back.
  bool text_back = r.old_text != OldText::kNone;
  std::string from;
  if (has_after && SameVersion(at_after, r.after)) {
    from = after_name;
  } else if (renamed && text_back && has_name &&
             SameVersion(at_name, r.after)) {
    from = r.name;  // new text in place, never renamed
  } else if (renamed && text_back && has_after &&
             SameVersion(at_after, r.before)) {
    from = after_name;  // renamed, its text never changed
    text_back = false;
  } else {
    return Fail(r, RestoreFailureEntry(kChangedSinceRun));
  }
  const bool name_back = from != r.name;
  if (name_back && fs_->Exists(*folder, r.name))
    return Fail(r, RestoreNameFailureEntry(r.name, kNameTaken));
  Status status;
  if (dry_run_) {
    // As far as can be told without changing anything.
    if (text_back && !old_ && TempsOf(r, *folder).empty())
      status = OldVersionGone();
  } else if (text_back) {
    status = RestoreText(r, *folder, from);
  } else {
    status = fs_->RenameNoReplace(*folder, from, r.name);
  }
  if (status.code() == Status::Code::kExists)
    return Fail(r, RestoreNameFailureEntry(r.name, kNameTaken));
  if (!status.ok()) return Fail(r, RestoreFailureEntry(status.reason()));
  ChangeList entries;
  if (text_back) entries.push_back(kRestoredTextEntry);
  if (name_back) entries.push_back(RestoredNameEntry(r.name));
  ++undo_.restored_;
  Tell(r, from, entries);
}

bool UndoRun::Work::IsOldVersion(const JournalRecord& r,
                                 const FileInfo& info) const {
  if (SameVersion(info, r.before)) return true;
  auto copy = copies_.find(r.number);
  return copy != copies_.end() && SameVersion(info, copy->second);
}

// Removes what an undo cut short may have left of the run's version: under
// a temporary name after the exchange, or under the new name.
void UndoRun::Work::FinishLeftovers(const JournalRecord& r,
                                    const Folder& folder) {
  if (r.old_text == OldText::kNone) return;  // the one file is back
  for (const std::string& temp : TempsOf(r, folder)) {
    FileInfo info;
    if (fs_->Stat(folder, temp, &info).ok() && SameVersion(info, r.after) &&
        fs_->Remove(folder, temp).ok())
      TempNames(r, folder).erase(temp);
  }
  FileInfo info;
  if (!r.new_name.empty() && !SameFile(r.after, r.before) &&
      fs_->Stat(folder, r.new_name, &info).ok() && SameVersion(info, r.after))
    fs_->Remove(folder, r.new_name);
}

Status UndoRun::Work::RestoreText(const JournalRecord& r, const Folder& folder,
                                  const std::string& from) {
  std::string temp;
  Source source = Source::kRunLeftover;
  Status status = BringOldIn(r, folder, from, &temp, &source);
  if (!status.ok()) return status;
  if (from == r.name) {
    status = SwapBack(folder, temp, r.name, r.after);
  } else {
    status = fs_->RenameNoReplace(folder, temp, r.name);
    if (status.ok()) {
      TempNames(r, folder).erase(temp);
      // The run's version goes, if it is still that.
      FileInfo info;
      if (fs_->Stat(folder, from, &info).ok() && SameVersion(info, r.after))
        fs_->Remove(folder, from);
    }
  }
  if (!status.ok()) PutOldBack(r, folder, temp, source);
  return status;
}

// Brings the old version into `folder` under a temporary name: the one a
// killed run or undo left there, or the journal's, moved or copied.
Status UndoRun::Work::BringOldIn(const JournalRecord& r, const Folder& folder,
                                 const std::string& from, std::string* temp,
                                 Source* source) {
  auto copy = copies_.find(r.number);
  for (const std::string& name : TempsOf(r, folder)) {
    FileInfo info;
    if (!fs_->Stat(folder, name, &info).ok()) continue;
    if (SameVersion(info, r.before) ||
        (copy != copies_.end() && SameVersion(info, copy->second))) {
      *temp = name;
      *source = SameFile(info, r.before) ? Source::kRunLeftover : Source::kCopy;
      return Status::Ok();
    }
  }
  if (!old_) return OldVersionGone();
  if (r.old_text == OldText::kCopied) {
    *source = Source::kCopy;
    return CopyOldIn(r, folder, from, temp);
  }
  const std::string old_name = OldTextName(r.number);
  FileInfo info;
  Status status = fs_->Stat(*old_, old_name, &info);
  if (status.code() == Status::Code::kNotFound) return OldVersionGone();
  if (!status.ok()) return status;
  if (!SameVersion(info, r.before))
    return Damaged("old/" + old_name + " is not the old version");
  *source = Source::kJournal;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    *temp = TemporaryName(r.name, attempt);
    status = fs_->MoveNoReplace(*old_, old_name, folder, *temp);
    if (status.code() != Status::Code::kExists) break;
  }
  if (status.ok()) TempNames(r, folder).insert(*temp);
  return status;
}

// Makes a new file of the copy's bytes, with the old mode and all else
// the run's version carries (which the run took from the old one), and
// notes it in the journal before it takes the name.
Status UndoRun::Work::CopyOldIn(const JournalRecord& r, const Folder& folder,
                                const std::string& from, std::string* temp) {
  const std::string old_name = OldTextName(r.number);
  std::unique_ptr<ReadableFile> in;
  FileInfo info;
  Status status = fs_->OpenForRead(*old_, old_name, &in, &info);
  if (status.code() == Status::Code::kNotFound) return OldVersionGone();
  if (!status.ok()) return status;
  if (info.size != r.before.size)
    return Damaged("old/" + old_name + " is not the old version");
  FileInfo like;
  status = fs_->Stat(folder, from, &like);
  if (!status.ok()) return status;
  like.mode = r.before.mode;
  std::unique_ptr<WritableFile> out;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    *temp = TemporaryName(r.name, attempt);
    status = fs_->CreateExclusive(folder, *temp, like, &out);
    if (status.code() != Status::Code::kExists) break;
  }
  if (!status.ok()) return status;
  status = fs_->KeepMetadata(folder, from, out.get());
  char buffer[64 * 1024];
  while (status.ok()) {
    std::size_t got = 0;
    status = in->Read(buffer, sizeof buffer, &got);
    if (!status.ok() || got == 0) break;
    status = out->Append(buffer, got);
  }
  if (status.ok()) status = MakeDurable(out.get());
  FileInfo made;
  if (status.ok()) status = fs_->Stat(folder, *temp, &made);
  if (status.ok())
    status = WriteSmallFile(fs_, *old_, old_name + kRestoredSuffix,
                            EncodeCopyNote(made), /*replace=*/true);
  if (!status.ok()) {
    out.reset();
    fs_->Remove(folder, *temp);
    return status;
  }
  copies_[r.number] = made;
  TempNames(r, folder).insert(*temp);
  return Status::Ok();
}

// Puts `temp` in the place of `name` in one exchange, if `name` still
// holds the run's version, untouched until the exchange is confirmed;
// then removes that version.
Status UndoRun::Work::SwapBack(const Folder& folder, const std::string& temp,
                               const std::string& name,
                               const FileInfo& after) {
  std::unique_ptr<HeldFile> held;
  FileInfo now;
  Status status = fs_->HoldForReplace(folder, name, &held, &now);
  if (status.code() == Status::Code::kNotFound ||
      status.code() == Status::Code::kNotRegular)
    return ChangedSinceRun();
  if (!status.ok()) return status;
  if (!SameVersion(now, after)) return ChangedSinceRun();
  status = fs_->Exchange(folder, temp, name);
  if (status.code() == Status::Code::kNotSupported) {
    // No atomic swap here: the check above is as close as it gets.
    status = fs_->ReplaceWith(folder, temp, name);
    return status;
  }
  if (!status.ok()) return status;
  FileInfo taken_out;
  if (fs_->Stat(folder, temp, &taken_out).ok() && SameFile(taken_out, now) &&
      held->Undisturbed(after)) {
    held.reset();
    fs_->Remove(folder, temp);
    return Status::Ok();
  }
  // Changed at the last moment: what the other program made goes back.
  status = fs_->Exchange(folder, temp, name);
  if (!status.ok())
    return Status::Error(Status::Code::kIOError,
                         std::string(kChangedSinceRun) +
                             ", and its version could not be put back: it "
                             "is in " + temp + " (" + status.reason() + ")");
  return ChangedSinceRun();
}

// After a failure, the old version brought in goes back where it was.
void UndoRun::Work::PutOldBack(const JournalRecord& r, const Folder& folder,
                               const std::string& temp, Source source) {
  switch (source) {
    case Source::kJournal:
      if (fs_->MoveNoReplace(folder, temp, *old_, OldTextName(r.number)).ok())
        TempNames(r, folder).erase(temp);
      return;
    case Source::kCopy:
      if (fs_->Remove(folder, temp).ok()) TempNames(r, folder).erase(temp);
      return;
    case Source::kRunLeftover:
      return;  // where the run left it, for the next undo to find
  }
}

std::set<std::string>& UndoRun::Work::TempNames(const JournalRecord& r,
                                                const Folder& folder) {
  auto found = temp_names_.find(r.folder);
  if (found != temp_names_.end()) return found->second;
  std::set<std::string>& names = temp_names_[r.folder];
  std::vector<FolderEntry> entries;
  fs_->ListFolder(folder, &entries);
  for (const FolderEntry& entry : entries)
    if (entry.kind == FileKind::kRegular && IsTemporaryName(entry.name))
      names.insert(entry.name);
  return names;
}

std::vector<std::string> UndoRun::Work::TempsOf(const JournalRecord& r,
                                                const Folder& folder) {
  const std::set<std::string>& names = TempNames(r, folder);
  std::vector<std::string> temps;
  if (names.empty()) return temps;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::string name = TemporaryName(r.name, attempt);
    if (names.count(name)) temps.push_back(std::move(name));
  }
  return temps;
}

std::string UndoRun::Work::PathOf(const JournalRecord& r,
                                  const std::string& name) const {
  std::string path = past_.summary.header.base_dir;
  if (path.empty() || path.back() != '/') path.push_back('/');
  if (!r.folder.empty()) path += r.folder + "/";
  return path + (name.empty() ? r.name_after() : name);
}

void UndoRun::Work::Tell(const JournalRecord& r, const std::string& name,
                         const ChangeList& entries) {
  undo_.observer_->OnFileChanged(PathOf(r, name), entries);
}

// A failure is told under the name the file has after the run.
void UndoRun::Work::Fail(const JournalRecord& r, const std::string& entry) {
  ++undo_.failures_;
  Tell(r, r.name_after(), ChangeList{entry});
}

Status UndoRun::Undo(const std::string& runs_folder, const std::string& id,
                     bool dry_run) {
  failures_ = 0;
  restored_ = 0;
  mark_failure_.clear();
  Work work(this, dry_run);
  Status status = work.Prepare(runs_folder, id);
  if (!status.ok()) return status;
  work.Run();
  return Status::Ok();
}

}  // namespace vs
