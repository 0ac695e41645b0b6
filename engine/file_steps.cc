#include "engine/file_steps.h"

#include <cerrno>
#include <utility>

#include "engine/file_names.h"
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
                     SpillStore* spill_store)
    : settings_(settings),
      file_system_(file_system),
      observer_(observer),
      counts_(counts),
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
                     !settings.include_vcs,
                     spill_store,
                     plan_.pattern.get()} {}

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
  bool binary = false;
  if (plan_.pattern) {
    PatternRewriter rewriter(*plan_.pattern, settings_.code_page,
                             &read_buffer_);
    status = rewriter.Rewrite(in.get(), file->temp.get(), &lines, &binary);
  } else {
    TextRewriter rewriter(matcher_, plan_.replace, settings_.code_page,
                          &read_buffer_);
    status = rewriter.Rewrite(in.get(), file->temp.get(), &lines, &binary);
  }
  if (status.ok() && file->temp) status = file->temp->Flush();
  if (!status.ok()) return FailText(file, status);
  if (binary || lines.empty()) {  // the file changed since the first look
    Discard(file);
    return;
  }
  file->changes = std::move(lines);
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
  PutInPlace(file);
  Rename(file);
  file->MoveOn(FileStage::kNamed);
}

void FileSteps::PutInPlace(PendingFile* file) {
  if (file->stage != FileStage::kDurable) {
    file->MoveOn(FileStage::kInPlace);
    return;
  }
  file->temp.reset();
  // Whatever another program wrote to the file since it was read would
  // be lost with it.
  FileInfo now;
  Status status = file_system_->Stat(*file->folder, file->name, &now);
  if (status.ok() && !SameVersion(now, file->read_version))
    status = Status::Error(Status::Code::kIOError,
                           "the file changed while it was being rewritten");
  if (status.ok())
    status = file_system_->ReplaceWith(*file->folder, file->temp_name,
                                       file->name);
  if (!status.ok()) return FailText(file, status);
  file->temp_name.clear();
  file->MoveOn(FileStage::kInPlace);
}

void FileSteps::FailText(PendingFile* file, const Status& status) {
  Discard(file);
  file->changes.clear();
  AddFailure(file, "Failed to change Text (" + status.reason() + ")");
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
  std::string new_name = ReplaceAll(file->name, plan_, settings_.code_page);
  if (new_name == file->name) return;
  file->refusal = RefusalOf(new_name);
  // A file of such a name would be taken for version control's own: a
  // ".git" file, for one, makes git take the folder for a worktree.
  if (file->refusal.empty() && !settings_.include_vcs &&
      IsVersionControlName(new_name))
    file->refusal = "a name version control keeps for its own files";
  file->new_name = std::move(new_name);
}

void FileSteps::Rename(PendingFile* file) {
  if (!file->new_name) return;
  const std::string& new_name = *file->new_name;
  Status status;
  if (!file->refusal.empty()) {
    status = Status::Error(Status::Code::kIOError, file->refusal);
  } else if (settings_.dry_run) {
    if (file_system_->Exists(*file->folder, new_name))
      status = Status::FromErrno(EEXIST);
  } else {
    status = file_system_->RenameNoReplace(*file->folder, file->name,
                                           new_name);
  }
  if (status.ok()) {
    AddEntry(file, "Changed File Name to: " + new_name);
  } else {
    AddFailure(file, "Failed to change File Name to: " + new_name + " (" +
                         status.reason() + ")");
  }
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
