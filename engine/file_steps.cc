#include "engine/file_steps.h"

#include <cerrno>
#include <utility>

#include "engine/change_entry.h"
#include "engine/file_names.h"
#include "engine/journal_records.h"
#include "engine/run_journal.h"
#include "engine/sync_pool.h"
#include "engine/pattern_rewriter.h"
#include "engine/text_rewriter.h"

namespace vs {
namespace {

constexpr std::size_t kMaxEntryLength = 1023;
// Temporary names tried before a text step gives up.
constexpr int kTemporaryNameAttempts = 100;

}  // namespace

FileSteps::FileSteps(const RunSettings& settings, FileSystem* file_system,
                     RunObserver* observer, ProblemCounts* counts,
                     SpillStore* spill_store, RunJournal* journal)
    : settings_(settings),
      file_system_(file_system),
      observer_(observer),
      counts_(counts),
      journal_(journal),
      plan_(PlanMatching(settings.find, settings.replace, settings.modes,
                         settings.code_page)),
      matcher_(plan_.find, settings.code_page),
      scan_settings_{file_system,
                     &matcher_,
                     plan_.replace,
                     &settings.code_page,
                     settings.change_text && !NothingToReplace(),
                     settings.sub_folders,
                     settings.filter.empty() ? nullptr : &settings.filter,
                     settings.ignore_rules.get(),
                     !settings.include_vcs,
                     settings.one_file_system,
                     spill_store,
                     settings.keep_line_texts,
                     plan_.pattern.get(),
                     journal ? &journal->own_folders() : nullptr} {}

bool FileSteps::NothingToReplace() const {
  if (!plan_.error.empty()) return true;
  if (plan_.pattern) return false;
  return Matcher::NeverMatches(plan_.find) || plan_.find == plan_.replace;
}

PendingFile FileSteps::Begin(std::shared_ptr<const Folder> folder,
                             const FolderEntry& entry,
                             std::optional<ScanResult> first_look) {
  PendingFile file;
  // Built in one allocation: this runs for every file of the tree.
  file.path.reserve(folder->path().size() + 1 + entry.name.size());
  file.path.append(folder->path()).append(1, '/').append(entry.name);
  file.folder = std::move(folder);
  file.name = entry.name;
  // Links, FIFOs, sockets and devices keep their text: only their names
  // are ours to change.
  try {
    if (settings_.change_text && entry.kind == FileKind::kRegular)
      PrepareText(&file, std::move(first_look));
    if (settings_.change_names) PlanNewName(&file);
  } catch (...) {
    Discard(&file);  // out of memory: no partial temporary file stays
    throw;
  }
  return file;
}

PendingFile FileSteps::ChangeText(std::shared_ptr<const Folder> folder,
                                  const std::string& name, std::string path) {
  PendingFile file;
  file.folder = std::move(folder);
  file.name = name;
  file.path = std::move(path);
  try {
    PrepareText(&file, std::nullopt);
    if (file.has_text()) TextSynced(&file, MakeDurable(&file));
    PutInPlace(&file);
  } catch (...) {
    Discard(&file);  // out of memory: no partial temporary file stays
    throw;
  }
  return file;
}

void FileSteps::PrepareText(PendingFile* file,
                            std::optional<ScanResult> first_look) {
  if (NothingToReplace()) return;
  // Most files hold no occurrence: they are read once and never written.
  if (!first_look) {
    first_look = ScanFile(scan_settings_, *file->folder, file->name,
                          &read_buffer_, /*work_out_text=*/true);
  }
  if (!first_look->regular) return;  // no regular file any more
  if (!first_look->status.ok())
    return Unreadable(file->path, first_look->status);
  file->bytes_read = first_look->version.size;
  if (!first_look->changes) return;
  if (first_look->new_text) {
    // Worked out already: it stands if the file is still what was read.
    FileInfo now;
    if (file_system_->Stat(*file->folder, file->name, &now).ok() &&
        SameVersion(now, first_look->version))
      return UseNewText(file, first_look->version,
                        std::move(*first_look->new_text));
  }
  StreamText(file, *first_look);
}

void FileSteps::StreamText(PendingFile* file, const ScanResult& first_look) {
  // Too large to be worked out in memory, or changed since the first look.
  std::unique_ptr<ReadableFile> in;
  FileInfo info;
  Status status = file_system_->OpenForRead(*file->folder, file->name, &in,
                                            &info);
  if (status.code() == Status::Code::kNotRegular) return;
  if (!status.ok()) return Unreadable(file->path, status);
  if (!SameVersion(info, first_look.version)) {
    // Changed since the first look: look again at what is there now.
    bool changes = false;
    status = ScanOpenFile(scan_settings_, in.get(), &read_buffer_, &changes);
    if (!status.ok()) return Unreadable(file->path, status);
    if (!changes) return;
  }
  if (!settings_.dry_run) {
    file->read_version = info;
    status = CreateTemp(file, info);
    if (!status.ok()) return FailText(file, status);
  }
  ChangeList lines(scan_settings_.spill_store);
  ChangeList line_texts(scan_settings_.spill_store);
  bool binary = false;
  ChangeList* const kept = settings_.keep_line_texts ? &line_texts : nullptr;
  if (plan_.pattern) {
    PatternRewriter rewriter(*plan_.pattern, settings_.code_page,
                             &read_buffer_);
    status = rewriter.Rewrite(in.get(), file->temp.get(), &lines, &binary,
                              kept);
  } else {
    TextRewriter rewriter(matcher_, plan_.replace, settings_.code_page,
                          &read_buffer_);
    status = rewriter.Rewrite(in.get(), file->temp.get(), &lines, &binary,
                              kept);
  }
  if (status.ok() && file->temp) status = file->temp->Flush();
  if (!status.ok()) return FailText(file, status);
  if (binary || lines.empty()) {  // the file changed since the first look
    Discard(file);
    return;
  }
  file->changes = std::move(lines);
  file->line_texts = std::move(line_texts);
  file->changed = true;
  if (file->temp) file->MoveOn(FileStage::kWritten);
}

void FileSteps::UseNewText(PendingFile* file, const FileInfo& version,
                           NewText new_text) {
  // Written out as it is made durable, off the walk: creating a file is
  // the costliest step of a change, and the walk is what the other
  // threads wait for.
  if (!settings_.dry_run) {
    file->read_version = version;
    file->new_text = std::move(new_text.bytes);
    file->MoveOn(FileStage::kWorkedOut);
  }
  file->changes = std::move(new_text.lines);
  file->line_texts = std::move(new_text.line_texts);
  file->changed = true;
}

Status FileSteps::CreateTemp(PendingFile* file, const FileInfo& like) {
  // Never anything that exists already.
  Status status;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    file->temp_name = TemporaryName(file->name, attempt);
    status = file_system_->CreateExclusive(*file->folder, file->temp_name,
                                           like, &file->temp);
    if (status.code() != Status::Code::kExists) break;
  }
  // Before any byte is written: some of what a file carries takes only
  // on an empty file. What cannot be kept leaves the file as it is.
  if (status.ok()) {
    status = file_system_->KeepMetadata(*file->folder, file->name,
                                        file->temp.get());
    if (!status.ok()) {
      file->temp.reset();
      file_system_->Remove(*file->folder, file->temp_name);
    }
  }
  if (!status.ok()) file->temp_name.clear();
  return status;
}

Status FileSteps::MakeDurable(PendingFile* file) {
  if (file->stage == FileStage::kWorkedOut) {
    Status status = CreateTemp(file, file->read_version);
    if (!status.ok()) return status;  // the text is kept for another try
    file->MoveOn(FileStage::kWritten);
    const std::string text = std::move(file->new_text);
    file->new_text = std::string();
    status = file->temp->Append(text.data(), text.size());
    if (status.ok()) status = file->temp->Flush();
    if (!status.ok()) return status;
  }
  Status status = vs::MakeDurable(file->temp.get());
  if (status.ok()) file->MoveOn(FileStage::kDurable);
  return status;
}

void FileSteps::TextSynced(PendingFile* file, const Status& status) {
  if (!status.ok()) FailText(file, status);
}

void FileSteps::Finish(PendingFile* file) {
  const bool commits = file->stage == FileStage::kDurable ||
                       (file->new_name && file->refusal.empty());
  if (commits && !settings_.dry_run && !StillInTree(file->folder))
    return LeaveAlone(file);
  PutInPlace(file);
  Rename(file);
  file->MoveOn(FileStage::kNamed);
}

bool FileSteps::StillInTree(const std::shared_ptr<const Folder>& folder) {
  if (!base_ || folder == base_) return true;
  if (folder == checked_folder_) return checked_in_tree_;
  for (const auto& moved : moved_out_)
    if (moved == folder) return false;
  checked_folder_ = folder;
  // Reached through folders alone, from the base, by the path the walk
  // took: a folder moved away, or swapped for a link, is not.
  const std::string relative = folder->path().substr(base_->path().size() + 1);
  checked_in_tree_ = file_system_->StillReaches(*base_, relative, *folder);
  if (!checked_in_tree_) {
    moved_out_.push_back(folder);
    ++counts_->moved_folders;
    observer_->OnProblem(Problem{Problem::Kind::kMovedFolder, folder->path(),
                                 "moved out of the folder during the run"});
  }
  return checked_in_tree_;
}

void FileSteps::LeaveAlone(PendingFile* file) {
  Discard(file);
  file->changes.clear();
  file->changed = false;
  file->new_name.reset();
  file->MoveOn(FileStage::kNamed);
}

void FileSteps::PutInPlace(PendingFile* file) {
  if (file->stage != FileStage::kDurable) {
    file->MoveOn(FileStage::kInPlace);
    return;
  }
  file->temp.reset();
  Status status = SwapIn(file);
  if (!status.ok()) return FailText(file, status);
  file->temp_name.clear();
  file->MoveOn(FileStage::kInPlace);
}

namespace {

Status ChangedDuringRun() {
  return Status::Error(Status::Code::kIOError, "changed during the run");
}

// Whether the file's old version is to be moved into the journal: it has
// a record there, and no copy of it is kept instead.
bool KeepsOldVersion(const RunJournal* journal, const PendingFile& file) {
  return journal && file.journal_number != 0 && !file.old_text_copied;
}

}  // namespace

Status FileSteps::SwapIn(PendingFile* file) {
  // Whatever another program does to the file from the moment it was read
  // must survive: the new text takes the name only from the very version
  // that was read, untouched. The file is held from the last check until
  // the swap is confirmed, so a program that opens it for writing meanwhile
  // is seen (and waits, where the system allows a lease).
  const Folder& folder = *file->folder;
  std::unique_ptr<HeldFile> held;
  FileInfo now;
  Status status = file_system_->HoldForReplace(folder, file->name, &held,
                                               &now);
  // Gone, or something else than a file now: nothing is to come back.
  if (status.code() == Status::Code::kNotFound ||
      status.code() == Status::Code::kNotRegular)
    return ChangedDuringRun();
  if (!status.ok()) return status;
  if (!UntouchedSince(file->read_version, now)) return ChangedDuringRun();

  status = file_system_->Exchange(folder, file->temp_name, file->name);
  // No atomic swap: the check above is as close as the run gets.
  if (status.code() == Status::Code::kNotSupported) return MoveIn(file);
  if (status.code() == Status::Code::kNotFound) return ChangedDuringRun();
  if (!status.ok()) return status;

  // The temporary name now holds what the name held at the swap, which
  // must be the held file, and the held file must be as it was read.
  FileInfo taken_out;
  if (file_system_->Stat(folder, file->temp_name, &taken_out).ok() &&
      taken_out.device == now.device && taken_out.inode == now.inode &&
      held->Undisturbed(file->read_version)) {
    LetGoOfOldVersion(file);
    return Status::Ok();
  }
  // Another program got there first: what it made goes back.
  status = file_system_->Exchange(folder, file->temp_name, file->name);
  if (!status.ok()) {
    // Its version is under the temporary name: never to be removed.
    std::string kept = file->temp_name;
    file->temp_name.clear();
    return Status::Error(Status::Code::kIOError,
                         "changed during the run, and its version could "
                         "not be put back: it is in " + kept + " (" +
                             status.reason() + ")");
  }
  return ChangedDuringRun();
}

Status FileSteps::MoveIn(PendingFile* file) {
  const Folder& folder = *file->folder;
  if (KeepsOldVersion(journal_, *file)) {
    // Two steps: a crash between them leaves the name empty, the old
    // version in the journal and the new text under its temporary name,
    // both as the record on the disk tells, so undo finds them.
    Status kept = journal_->KeepOldText(folder, file->name,
                                        file->journal_number);
    if (kept.ok()) {
      Status status = file_system_->RenameNoReplace(folder, file->temp_name,
                                                    file->name);
      if (status.ok()) return status;
      Status back = journal_->PutBackOldText(folder, file->name,
                                             file->journal_number);
      if (back.ok()) return status;
      return Status::Error(Status::Code::kIOError,
                           status.reason() + ", and its old version could "
                           "not be put back: it is in " + journal_->path() +
                           "/old/" + OldTextName(file->journal_number) +
                           " (" + back.reason() + ")");
    }
    OldVersionLost(file, kept);
  }
  return file_system_->ReplaceWith(folder, file->temp_name, file->name);
}

void FileSteps::LetGoOfOldVersion(PendingFile* file) {
  if (KeepsOldVersion(journal_, *file)) {
    // The very file, moved: its bytes, mode, owner, attributes and times
    // all kept, nothing copied.
    Status kept = journal_->KeepOldText(*file->folder, file->temp_name,
                                        file->journal_number);
    if (kept.ok()) return;
    OldVersionLost(file, kept);
  }
  // The hold lets its blocks go off the walk.
  file_system_->Remove(*file->folder, file->temp_name);
}

void FileSteps::OldVersionLost(PendingFile* file, const Status& status) {
  ++counts_->old_texts_lost;
  observer_->OnProblem(
      Problem{Problem::Kind::kOldTextLost, file->path, status.reason()});
}

void FileSteps::GiveUp(PendingFile* file, const Status& why) {
  if (file->has_text()) FailText(file, why);
  if (file->new_name && file->refusal.empty()) file->refusal = why.reason();
}

void FileSteps::FailText(PendingFile* file, const Status& status) {
  Discard(file);
  file->changes.clear();
  file->line_texts.clear();  // no line changed
  AddFailure(file, TextFailureEntry(status.reason()));
  file->MoveOn(FileStage::kInPlace);
}

void FileSteps::Discard(PendingFile* file) {
  file->temp.reset();
  file->new_text = std::string();
  if (!file->temp_name.empty())
    file_system_->Remove(*file->folder, file->temp_name);
  file->temp_name.clear();
}

void FileSteps::PlanNewName(PendingFile* file) {
  if (!plan_.error.empty()) return;
  // Most names hold no literal find text: they are not even copied.
  if (!plan_.pattern && !plan_.find.empty() &&
      file->name.find(plan_.find) == std::string::npos)
    return;
  std::string new_name = ReplaceAll(file->name, plan_, settings_.code_page);
  if (new_name == file->name) return;
  file->refusal = RefusalOf(new_name);
  // A file of such a name would be taken for version control's own: a
  // ".git" file, for one, makes git take the folder for a worktree.
  if (file->refusal.empty() && !settings_.include_vcs &&
      IsVersionControlName(new_name))
    file->refusal = "a name version control keeps for its own files";
  if (file->refusal.empty() && IsTemporaryName(new_name))
    file->refusal = "a name kept for temporary files";
  file->new_name = std::move(new_name);
}

void FileSteps::Rename(PendingFile* file) {
  if (!file->new_name) return;
  const std::string& new_name = *file->new_name;
  Status status;
  if (!file->refusal.empty()) {
    status = Status::Error(Status::Code::kIOError, file->refusal);
  } else if (settings_.dry_run) {
    if (NameTaken(*file->folder, new_name)) {
      status = Status::FromErrno(EEXIST);
    } else {
      const std::string folder = file->folder->path() + "/";
      dry_run_names_[folder + file->name] = false;
      dry_run_names_[folder + new_name] = true;
    }
  } else {
    status = file_system_->RenameNoReplace(*file->folder, file->name,
                                           new_name);
  }
  if (status.ok()) {
    AddEntry(file, NewNameEntry(new_name));
  } else {
    AddFailure(file, NameFailureEntry(new_name, status.reason()));
  }
}

bool FileSteps::NameTaken(const Folder& folder, const std::string& name) {
  if (!dry_run_names_.empty()) {
    auto renamed = dry_run_names_.find(folder.path() + "/" + name);
    if (renamed != dry_run_names_.end()) return renamed->second;
  }
  return file_system_->Exists(folder, name);
}

void FileSteps::AddEntry(PendingFile* file, std::string entry) {
  entry.resize(settings_.code_page.CutLength(entry, kMaxEntryLength));
  file->changes.push_back(std::move(entry));
  file->changed = true;
}

void FileSteps::AddFailure(PendingFile* file, std::string entry) {
  AddEntry(file, std::move(entry));
  ++counts_->failure_entries;
}

void FileSteps::Unreadable(const std::string& path, const Status& status) {
  ++counts_->unreadable_files;
  observer_->OnProblem(
      Problem{Problem::Kind::kUnreadableFile, path, status.reason()});
}

std::string ReplaceAll(std::string text, const std::string& find,
                       const std::string& replace,
                       const CodePage& code_page) {
  // Most texts (file names) hold no occurrence at all, aligned or not.
  if (Matcher::NeverMatches(find) || text.find(find) == std::string::npos)
    return text;
  Matcher matcher(find, code_page);
  const std::size_t find_length = matcher.length();
  // Count first, so the result is built in one allocation, and not at all
  // when nothing occurs.
  std::size_t count = 0, boundary = 0;
  for (std::size_t at = matcher.Find(text, 0, &boundary);
       at != Matcher::npos;
       at = matcher.Find(text, at + find_length, &boundary)) {
    ++count;
    boundary = at;  // the occurrence's end may be inside a character
  }
  if (count == 0) return text;

  std::string result;
  result.reserve(text.size() - count * find_length + count * replace.size());
  std::size_t copied = 0;
  boundary = 0;
  for (std::size_t at = matcher.Find(text, 0, &boundary);
       at != Matcher::npos;
       at = matcher.Find(text, at + find_length, &boundary)) {
    result.append(text, copied, at - copied);
    result += replace;
    copied = at + find_length;
    boundary = at;
  }
  result.append(text, copied, std::string::npos);
  return result;
}

std::string ReplaceAll(std::string text, const MatchPlan& plan,
                       const CodePage& code_page) {
  if (!plan.error.empty()) return text;
  if (!plan.pattern) return ReplaceAll(std::move(text), plan.find, plan.replace,
                                       code_page);
  MatchState state;
  std::string result;
  if (!ReplaceInLine(*plan.pattern, text, &state, &result)) return text;
  return result;
}

}  // namespace vs
