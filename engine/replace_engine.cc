#include "engine/replace_engine.h"

#include <limits.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <future>
#include <thread>

#include "engine/matcher.h"
#include "engine/scan_ahead.h"
#include "engine/sync_pool.h"
#include "engine/text_rewriter.h"

namespace vs {
namespace {

constexpr std::size_t kMaxEntryLength = 1023;
// Rewritten files wait in a batch, so that flushing them to the disk
// costs one wait for the batch instead of one for each file.
constexpr std::size_t kMaxBatchedRewrites = 64;
// A batch keeps the folders of its files open, up to this many.
constexpr std::size_t kMaxBatchedFolders = 32;
// Threads that write out new texts and make them durable: each fsync
// waits for the disk, and waits of several files overlap.
constexpr std::size_t kSyncThreads = 8;

// Why a new file name cannot be used, or "" when it can.
std::string RefusalOf(const std::string& name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos)
    return "not a valid file name";
  if (name.size() > NAME_MAX) return "File name too long";
  return "";
}

}  // namespace

// One file between its text and name steps and its entry in the log: the
// rewritten text waits in a temporary file, and the new name is only
// planned, until the batch it is in is committed.
struct CReplaceEngine::PendingFile {
  const Folder* folder = nullptr;  // open until the file is finished
  std::string name;
  std::string path;  // as found: the folder's path, "/", name
  ChangeList changes;
  bool changed = false;
  FileInfo read_version;  // the file as it was when its text was read
  std::unique_ptr<WritableFile> temp;
  // A new text worked out in memory, for MakeTextDurable to write to a
  // temporary file it creates.
  std::optional<std::string> unwritten;
  std::future<Status> durable;  // MakeTextDurable, once started
  std::string temp_name;
  bool rename_planned = false;
  std::string new_name;
  std::string refusal;  // why new_name cannot be used
};

// Files in walk order, across folders, waiting to be finished together:
// every new text of the batch is made durable first, then each file is
// finished in turn, so every effect happens in the order of the walk.
class CommitBatch {
 public:
  CommitBatch(CReplaceEngine* engine, SyncPool* sync_pool,
              ScanAhead* scan_ahead)
      : m_engine(engine), m_syncPool(sync_pool), m_scanAhead(scan_ahead) {}
  // Only reached with files waiting when the walk is left by an exception
  // (out of memory): their temporary files go, and their originals stay.
  ~CommitBatch() {
    for (auto& file : m_files) {
      if (file.durable.valid()) file.durable.wait();
      m_engine->DiscardTemp(&file);
    }
  }

  void Add(CReplaceEngine::PendingFile file) {
    // A file with nothing to do, or nothing waiting before it, is
    // finished at once.
    const bool text = file.temp || file.unwritten;
    const bool idle = !text && !file.rename_planned && !file.changed;
    if (idle || (!text && m_files.empty())) {
      m_engine->Finish(&file);
      return;
    }
    // (A deque: the file stays where it is while the pool works on it.)
    CReplaceEngine::PendingFile& added = m_files.emplace_back(std::move(file));
    if (text) {
      // Written out and on its way to the disk while the walk goes on.
      added.durable = m_syncPool->Start([engine = m_engine, &added] {
        return engine->MakeTextDurable(&added);
      });
      ++m_rewrites;
    }
    if (m_rewrites >= kMaxBatchedRewrites) Commit();
  }

  // The walk is done with `folder`; files of it may still be waiting.
  void Release(std::unique_ptr<Folder> folder) {
    // Closed at once unless a file of it waits: descriptors stay free
    // for new files, and folders with nothing waiting never force a
    // commit.
    if (std::none_of(m_files.begin(), m_files.end(),
                     [&](const CReplaceEngine::PendingFile& file) {
                       return file.folder == folder.get();
                     }))
      return;
    m_folders.push_back(std::move(folder));
    if (m_folders.size() >= kMaxBatchedFolders) Commit();
  }

  void Commit() {
    // Every new text of the batch is durable before any file is replaced.
    for (auto& file : m_files) {
      if (!file.durable.valid()) continue;
      // While the disk works, the walk looks ahead.
      while (file.durable.wait_for(std::chrono::seconds(0)) !=
                 std::future_status::ready &&
             m_scanAhead->LookAhead()) {
      }
      Status status = file.durable.get();
      // Created off the walk, the temporary file may have found every
      // descriptor taken for a moment (by folders listed ahead, say):
      // it gets one more try here.
      if (status.code() == Status::Code::kNoDescriptors && file.unwritten)
        status = m_engine->MakeTextDurable(&file);
      m_engine->TextSynced(&file, status);
    }
    for (auto& file : m_files) m_engine->Finish(&file);
    m_files.clear();
    m_folders.clear();
    m_rewrites = 0;
  }

 private:
  CReplaceEngine* m_engine;
  SyncPool* m_syncPool;
  ScanAhead* m_scanAhead;
  std::deque<CReplaceEngine::PendingFile> m_files;
  std::vector<std::unique_ptr<Folder>> m_folders;  // open for m_files
  std::size_t m_rewrites = 0;
};

CReplaceEngine::CReplaceEngine(FileSystem* file_system)
    : m_fileSystem(file_system) {
  // The walk itself is one thread, and looks ahead too while it waits.
  unsigned cores = std::thread::hardware_concurrency();
  m_scanThreads = cores > 1 ? cores - 1 : 0;
}

CReplaceEngine::~CReplaceEngine() = default;

void CReplaceEngine::ReportProblem(const std::string&) {}

void CReplaceEngine::ProcessFolder(const std::string& folder) {
  if (folder.empty()) return;
  // The base folder may be a link to a folder; no link below it is
  // followed.
  std::unique_ptr<Folder> base;
  Status opened = m_fileSystem->OpenFolder(folder, /*follow_link=*/true, &base);
  if (!opened.ok()) return ListingFailed(folder, opened);
  Matcher matcher(m_strFind, m_codePage);
  const bool scan_text = m_bChangeText && !NothingToReplace();
  // Listing alone is too little work to hand to other threads: waking
  // them would cost more than it saves.
  ScanAhead scan_ahead(
      ScanSettings{m_fileSystem, &matcher, m_strReplace, &m_codePage,
                   scan_text, m_bSubFolders != 0},
      scan_text ? m_scanThreads : 0);
  // Declared after scan_ahead and the pool, so files still waiting in the
  // batch are dropped while their folders are open and nothing syncs
  // them any more.
  SyncPool sync_pool(kSyncThreads);
  CommitBatch batch(this, &sync_pool, &scan_ahead);
  WalkFolder(scan_ahead.Start(std::move(base)), &scan_ahead, &batch);
  batch.Commit();
}

void CReplaceEngine::WalkFolder(ScanAhead::ListedFolder& listed,
                                ScanAhead* scan_ahead, CommitBatch* batch) {
  const Folder& folder = *listed.folder;
  for (std::size_t i = 0; i < listed.entries.size(); ++i) {
    const FolderEntry& entry = listed.entries[i];
    if (entry.name == "." || entry.name == "..") continue;
    if (entry.kind == FileKind::kFolder) {
      if (m_bSubFolders) WalkSubfolder(listed, i, scan_ahead, batch);
      continue;
    }
    batch->Add(ProcessFile(folder, entry, scan_ahead->TakeScan(listed, i)));
  }
  if (!listed.listed.ok()) ListingFailed(folder.path(), listed.listed);
}

void CReplaceEngine::WalkSubfolder(ScanAhead::ListedFolder& parent,
                                   std::size_t index, ScanAhead* scan_ahead,
                                   CommitBatch* batch) {
  ScanAhead::ListedFolder& sub = scan_ahead->Enter(parent, index);
  if (sub.opened.ok()) {
    WalkFolder(sub, scan_ahead, batch);
    batch->Release(std::move(sub.folder));
  } else {
    ListingFailed(
        parent.folder->path() + "/" + parent.entries[index].name, sub.opened);
  }
  scan_ahead->Leave(parent, index);
}

void CReplaceEngine::ListingFailed(const std::string& path,
                                   const Status& status) {
  std::fputs("Error get the next file\n", stdout);
  ++m_problems.unlisted_folders;
  ReportProblem("cannot list " + path + ": " + status.reason());
}

CReplaceEngine::PendingFile CReplaceEngine::ProcessFile(
    const Folder& folder, const FolderEntry& entry,
    std::optional<ScanResult> first_look) {
  PendingFile file;
  file.folder = &folder;
  file.name = entry.name;
  // Built in one allocation: this runs for every file of the tree.
  file.path.reserve(folder.path().size() + 1 + entry.name.size());
  file.path.append(folder.path()).append(1, '/').append(entry.name);
  // Links, FIFOs, sockets and devices keep their text: only their names
  // are ours to change.
  if (m_bChangeText && entry.kind == FileKind::kRegular)
    PrepareText(&file, std::move(first_look));
  if (m_bChangeFileNames) PlanNewName(&file);
  return file;
}

bool CReplaceEngine::ChangeFileText(const std::string& path,
                                    ChangeList& changes) {
  std::size_t slash = path.rfind('/');
  std::string folder_path = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
  std::unique_ptr<Folder> folder;
  Status opened = m_fileSystem->OpenFolder(folder_path, true, &folder);
  if (!opened.ok()) {
    Unreadable(path, opened);
    return false;
  }
  PendingFile file;
  file.folder = folder.get();
  file.name = path.substr(slash + 1);
  file.path = path;
  PrepareText(&file, std::nullopt);
  SyncText(&file);
  FinishText(&file);
  changes.insert(changes.end(), file.changes.begin(), file.changes.end());
  return file.changed;
}

bool CReplaceEngine::NothingToReplace() const {
  return Matcher::NeverMatches(m_strFind) || m_strFind == m_strReplace;
}

void CReplaceEngine::PrepareText(PendingFile* file,
                                 std::optional<ScanResult> first_look) {
  if (NothingToReplace()) return;
  // Most files hold no occurrence: they are read once and never written.
  if (!first_look) first_look = FirstLook(*file);
  if (!first_look->regular) return;  // no regular file any more
  if (!first_look->status.ok()) return Unreadable(file->path, first_look->status);
  if (!first_look->changes) return;
  if (first_look->new_text) {
    // Worked out already: it stands if the file is still what was read.
    FileInfo now;
    if (m_fileSystem->Stat(*file->folder, file->name, &now).ok() &&
        SameVersion(now, first_look->version))
      return UseNewText(file, first_look->version,
                        std::move(*first_look->new_text));
  }

  // Rewritten here, as it streams: too large to be worked out in memory,
  // or changed since.
  Matcher matcher(m_strFind, m_codePage);
  const ScanSettings settings{m_fileSystem, &matcher, m_strReplace,
                              &m_codePage, true, false};

  std::unique_ptr<ReadableFile> in;
  FileInfo info;
  Status status =
      m_fileSystem->OpenForRead(*file->folder, file->name, &in, &info);
  if (status.code() == Status::Code::kNotRegular) return;
  if (!status.ok()) return Unreadable(file->path, status);
  if (!SameVersion(info, first_look->version)) {
    // Changed since the first look: look again at what is there now.
    bool changes = false;
    status = ScanOpenFile(settings, in.get(), &m_readBuffer, &changes);
    if (!status.ok()) return Unreadable(file->path, status);
    if (!changes) return;
  }

  if (!m_bDryRun) {
    file->read_version = info;
    status = CreateTemp(file, info);
    if (!status.ok()) return FailText(file, status);
  }
  TextRewriter rewriter(matcher, m_strReplace, m_codePage, &m_readBuffer);
  ChangeList lines;
  bool binary = false;
  status = rewriter.Rewrite(in.get(), file->temp.get(), &lines, &binary);
  if (status.ok() && file->temp) status = file->temp->Flush();
  if (!status.ok()) return FailText(file, status);
  if (binary || lines.empty()) {  // the file changed since the first look
    DiscardTemp(file);
    return;
  }
  file->changes = std::move(lines);
  file->changed = true;
}

ScanResult CReplaceEngine::FirstLook(const PendingFile& file) {
  Matcher matcher(m_strFind, m_codePage);
  const ScanSettings settings{m_fileSystem, &matcher, m_strReplace,
                              &m_codePage, true, false};
  return ScanFile(settings, *file.folder, file.name, &m_readBuffer,
                  /*work_out_text=*/true);
}

void CReplaceEngine::UseNewText(PendingFile* file, const FileInfo& version,
                                NewText new_text) {
  // Written out with making it durable, off the walk: creating a file
  // is the costliest step of a change, and the walk is what the other
  // threads wait for.
  if (!m_bDryRun) {
    file->read_version = version;
    file->unwritten = std::move(new_text.bytes);
  }
  file->changes = std::move(new_text.lines);
  file->changed = true;
}

Status CReplaceEngine::CreateTemp(PendingFile* file, const FileInfo& like) {
  Status status;
  // "NAME.tmp" when that is free, else "NAME.1.tmp", "NAME.2.tmp", ...,
  // with NAME shortened where the name would be too long; never anything
  // that exists already.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix =
        attempt == 0 ? ".tmp" : "." + std::to_string(attempt) + ".tmp";
    file->temp_name = file->name.substr(0, NAME_MAX - suffix.size()) + suffix;
    status = m_fileSystem->CreateExclusive(*file->folder, file->temp_name,
                                           like, &file->temp);
    if (status.code() != Status::Code::kExists) break;
  }
  if (!status.ok()) file->temp_name.clear();
  return status;
}

void CReplaceEngine::SyncText(PendingFile* file) {
  if (file->temp || file->unwritten) TextSynced(file, MakeTextDurable(file));
}

Status CReplaceEngine::MakeTextDurable(PendingFile* file) {
  if (file->unwritten) {
    Status status = CreateTemp(file, file->read_version);
    if (!status.ok()) return status;  // the text is kept for another try
    const std::string text = std::move(*file->unwritten);
    file->unwritten.reset();
    status = file->temp->Append(text.data(), text.size());
    if (status.ok()) status = file->temp->Flush();
    if (!status.ok()) return status;
  }
  return MakeDurable(file->temp.get());
}

void CReplaceEngine::TextSynced(PendingFile* file, const Status& status) {
  if (!status.ok()) FailText(file, status);
}

void CReplaceEngine::FinishText(PendingFile* file) {
  if (!file->temp) return;
  file->temp.reset();
  // Whatever another program wrote to the file since it was read would
  // be lost with it.
  FileInfo now;
  Status status = m_fileSystem->Stat(*file->folder, file->name, &now);
  if (status.ok() && !SameVersion(now, file->read_version))
    status = Status::Error(Status::Code::kIOError,
                           "the file changed while it was being rewritten");
  if (status.ok())
    status = m_fileSystem->ReplaceWith(*file->folder, file->temp_name,
                                       file->name);
  if (!status.ok()) return FailText(file, status);
  file->temp_name.clear();
}

void CReplaceEngine::FailText(PendingFile* file, const Status& status) {
  DiscardTemp(file);
  file->changes.clear();
  AddFailure(file, "Failed to change Text (" + status.reason() + ")");
}

void CReplaceEngine::DiscardTemp(PendingFile* file) {
  file->temp.reset();
  if (!file->temp_name.empty())
    m_fileSystem->Remove(*file->folder, file->temp_name);
  file->temp_name.clear();
}

void CReplaceEngine::PlanNewName(PendingFile* file) {
  std::string new_name = ReplaceText(file->name);
  if (new_name == file->name) return;
  file->rename_planned = true;
  file->new_name = std::move(new_name);
  file->refusal = RefusalOf(file->new_name);
}

void CReplaceEngine::FinishName(PendingFile* file) {
  if (!file->rename_planned) return;
  Status status;
  if (!file->refusal.empty()) {
    status = Status::Error(Status::Code::kIOError, file->refusal);
  } else if (m_bDryRun) {
    if (m_fileSystem->Exists(*file->folder, file->new_name))
      status = Status::FromErrno(EEXIST);
  } else {
    status = m_fileSystem->RenameNoReplace(*file->folder, file->name,
                                           file->new_name);
  }
  if (status.ok()) {
    AddEntry(file, "Changed File Name to: " + file->new_name);
  } else {
    AddFailure(file, "Failed to change File Name to: " + file->new_name +
                         " (" + status.reason() + ")");
  }
}

void CReplaceEngine::Finish(PendingFile* file) {
  FinishText(file);
  FinishName(file);
  if (!file->changed) {
    // Most files: the path is needed no more, and moves into the log.
    m_changeLog.Record(std::move(file->path), std::move(file->changes));
    return;
  }
  m_changeLog.Record(file->path, std::move(file->changes));
  AddToFilesList(file->path);
}

void CReplaceEngine::AddEntry(PendingFile* file, std::string entry) {
  entry.resize(m_codePage.CutLength(entry, kMaxEntryLength));
  file->changes.push_back(std::move(entry));
  file->changed = true;
}

void CReplaceEngine::AddFailure(PendingFile* file, std::string entry) {
  AddEntry(file, std::move(entry));
  ++m_problems.failure_entries;
}

void CReplaceEngine::Unreadable(const std::string& path,
                                const Status& status) {
  ++m_problems.unreadable_files;
  ReportProblem("cannot read " + path + ": " + status.reason());
}

std::string CReplaceEngine::ReplaceText(std::string text) const {
  // Most texts (file names) hold no occurrence at all, aligned or not.
  if (Matcher::NeverMatches(m_strFind) ||
      text.find(m_strFind) == std::string::npos)
    return text;
  Matcher matcher(m_strFind, m_codePage);
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
  result.reserve(text.size() - count * find_length +
                 count * m_strReplace.size());
  std::size_t copied = 0;
  boundary = 0;
  for (std::size_t at = matcher.Find(text, 0, &boundary);
       at != Matcher::npos;
       at = matcher.Find(text, at + find_length, &boundary)) {
    result.append(text, copied, at - copied);
    result += m_strReplace;
    copied = at + find_length;
    boundary = at;
  }
  result.append(text, copied, std::string::npos);
  return result;
}

}  // namespace vs
