#include "engine/replace_engine.h"

#include <cstdint>
#include <ctime>
#include <new>
#include <system_error>

#include "engine/commit_batch.h"
#include "engine/file_steps.h"
#include "engine/line_pattern.h"
#include "engine/past_runs.h"
#include "engine/sync_pool.h"

namespace vs {
namespace {

// Threads that write out new texts and make them durable: each fsync
// waits for the disk, and waits of several files overlap.
constexpr std::size_t kSyncThreads = 8;

// Clears a stop request when a run ends, however it ends.
class StopRequestClearer {
 public:
  explicit StopRequestClearer(std::atomic<bool>* request)
      : request_(request) {}
  ~StopRequestClearer() { request_->store(false); }
  StopRequestClearer(const StopRequestClearer&) = delete;
  StopRequestClearer& operator=(const StopRequestClearer&) = delete;

 private:
  std::atomic<bool>* const request_;
};

}  // namespace

ReplaceEngine::ReplaceEngine(RunObserver* observer, FileSystem* file_system)
    : observer_(observer), file_system_(file_system) {}

ReplaceEngine::~ReplaceEngine() = default;

void ReplaceEngine::ProcessFolder(const std::string& folder) {
  StopRequestClearer clear_stop(&stop_requested_);
  problems_ = ProblemCounts();
  progress_ = RunProgress();
  journal_summary_ = JournalSummary();
  if (folder.empty() || stop_requested()) return;
  const std::string bad_settings = MatchingError(settings_);
  if (!bad_settings.empty()) {
    problems_.bad_settings = true;
    observer_->OnProblem(Problem{Problem::Kind::kBadSettings, "", bad_settings});
    return;
  }
  std::unique_ptr<RunJournal> journal;
  try {
    Run(folder, &journal);
  } catch (const std::bad_alloc&) {
    // Thrown wherever memory ran out, on the walk or on a thread that
    // worked for it. Leaving Run has finished the files in place and
    // dropped the ones waiting, as a stop does; what it held is freed.
    RanOutOfMemory();
  }
  journal_ = nullptr;
  if (journal) EndJournal(journal.get());
}

void ReplaceEngine::Run(const std::string& folder,
                        std::unique_ptr<RunJournal>* journal) {
  // The base folder may be a link to a folder; no link below it is
  // followed.
  std::unique_ptr<Folder> base;
  Status opened = file_system_->OpenFolder(folder, /*follow_link=*/true, &base);
  if (!opened.ok()) return ListingFailed(folder, opened);
  if (!BeginJournal(folder, journal)) return;
  journal_ = journal->get();

  FileSteps steps(settings_, file_system_, observer_, &problems_,
                  UseBudget(), journal_);
  // Listing alone is too little work to hand to other threads: waking
  // them would cost more than it saves.
  const bool scan_text = steps.scan_settings().scan_text;
  ScanAhead scan_ahead(steps.scan_settings(),
                       scan_text ? settings_.scan_threads : 0);
  SyncPool sync_pool(kSyncThreads);
  BatchJournal batch_journal;
  if (journal_) {
    batch_journal.journal = journal_;
    batch_journal.file_system = file_system_;
    batch_journal.failed = [this](const Status& status) {
      JournalFailed(journal_->path(), status);
    };
  }
  CommitBatch batch(&steps, &sync_pool, &scan_ahead,
                    [this](PendingFile* file) { Record(file); },
                    std::move(batch_journal));
  const Walk walk{&steps, &scan_ahead, &batch};
  ScanAhead::ListedFolder& listed = scan_ahead.Start(std::move(base));
  steps.SetBase(listed.folder);
  WalkFolder(walk, listed);
  batch.Commit();
}

bool ReplaceEngine::BeginJournal(const std::string& folder,
                                 std::unique_ptr<RunJournal>* journal) {
  if (settings_.dry_run || settings_.state_folder.empty()) return true;
  *journal = std::make_unique<RunJournal>(file_system_);
  Status begun = (*journal)->Begin(settings_.state_folder, settings_, folder);
  if (begun.ok()) {
    // The runs kept are the newest few of the last weeks. Deleting an old
    // run's old versions is file-system work the walk need not wait for:
    // it goes on beside the run, for as long as the run takes, and what
    // is left of it goes with a later run's. A prune that fails costs
    // only space; the next run tries again.
    stop_pruning_ = false;
    auto prune = [this, runs = (*journal)->runs_path(),
                  now = static_cast<std::int64_t>(std::time(nullptr))] {
      return PruneRuns(file_system_, runs, now, &stop_pruning_);
    };
    try {
      pruning_ = std::async(std::launch::async, prune);
    } catch (const std::system_error&) {
      prune();  // no thread to be had: done here, before the walk
    }
    return true;
  }
  JournalFailed((*journal)->runs_path(), begun);
  journal->reset();
  return false;
}

void ReplaceEngine::EndJournal(RunJournal* journal) {
  stop_pruning_ = true;
  if (pruning_.valid()) pruning_.wait();
  // Stopped for whatever reason: asked to, out of memory, or the journal
  // itself failing.
  const bool stopped = Stopping() || problems_.out_of_memory;
  const bool failed_before = problems_.journal;
  Status ended = journal->End(stopped);
  journal_summary_ = journal->summary();
  if (!ended.ok() && !failed_before) {
    JournalFailed(journal->path(),
                  Status::Error(ended.code(), "cannot write how the run "
                                              "ended: " + ended.reason()));
  }
}

void ReplaceEngine::JournalFailed(const std::string& folder,
                                  const Status& status) {
  problems_.journal = true;
  observer_->OnProblem(Problem{Problem::Kind::kJournal, folder,
                               status.reason()});
}

SpillStore* ReplaceEngine::UseBudget() {
  const std::size_t budget = settings_.change_memory_budget;
  if (budget == 0 && !spill_store_) return nullptr;
  if (!spill_store_) {
    spill_store_ = std::make_unique<SpillStore>(file_system_, budget);
  } else {
    // Lists of earlier runs stay where they are; none is held any more
    // without a budget.
    spill_store_->set_budget(budget == 0 ? SIZE_MAX : budget);
  }
  change_log_.set_spill_store(budget == 0 ? nullptr : spill_store_.get());
  return budget == 0 ? nullptr : spill_store_.get();
}

void ReplaceEngine::RanOutOfMemory() {
  problems_.out_of_memory = true;
  try {
    observer_->OnProblem(Problem{Problem::Kind::kOutOfMemory, "", ""});
  } catch (const std::bad_alloc&) {
    // Still short: the count tells the front end all the same.
  }
}

bool ReplaceEngine::WalkFolder(const Walk& walk,
                               ScanAhead::ListedFolder& listed) {
  for (std::size_t i = 0; i < listed.entries.size(); ++i) {
    // Files begun are finished; nothing more is begun.
    if (Stopping()) return false;
    const FolderEntry& entry = listed.entries[i];
    if (entry.kind == FileKind::kFolder) {
      if (settings_.sub_folders && !WalkSubfolder(walk, listed, i))
        return false;
      continue;
    }
    walk.batch->Add(walk.steps->Begin(listed.folder, entry,
                                      walk.scan_ahead->TakeScan(listed, i)));
  }
  if (!listed.listed.ok()) ListingFailed(listed.folder->path(), listed.listed);
  return true;
}

bool ReplaceEngine::WalkSubfolder(const Walk& walk,
                                  ScanAhead::ListedFolder& parent,
                                  std::size_t index) {
  ScanAhead::ListedFolder& sub = walk.scan_ahead->Enter(parent, index);
  if (sub.other_file_system) {
    // Left alone, as asked.
  } else if (!sub.opened.ok()) {
    ListingFailed(parent.folder->path() + "/" + parent.entries[index].name,
                  sub.opened);
  } else {
    const bool walked = WalkFolder(walk, sub);
    walk.batch->Leave(sub.folder);
    // Stopped part-way, the walk leaves looks at the folder's files that
    // helpers may still be taking: the listing stays until they are done.
    if (!walked) return false;
  }
  walk.scan_ahead->Leave(parent, index);
  return true;
}

void ReplaceEngine::ListingFailed(const std::string& path,
                                  const Status& status) {
  ++problems_.unlisted_folders;
  observer_->OnProblem(
      Problem{Problem::Kind::kUnlistedFolder, path, status.reason()});
}

void ReplaceEngine::Record(PendingFile* file) {
  ++progress_.files_looked_at;
  progress_.bytes_read += file->bytes_read;
  // The record's entries go with it: the change is done, and undo may
  // tell the user what it was.
  if (journal_ && file->journal_number != 0)
    journal_->AddEntries(file->journal_number, file->changes);
  if (file->changed) {
    ++progress_.files_changed;
    if (settings_.keep_line_texts)
      observer_->OnLineTexts(file->path, std::move(file->line_texts));
    const ChangeList& changes =
        change_log_.Record(file->path, std::move(file->changes));
    observer_->OnFileChanged(file->path, changes);
  } else {
    // Most files: the path is needed no more, and moves into the log.
    change_log_.Record(std::move(file->path), std::move(file->changes));
  }
  file->MoveOn(FileStage::kRecorded);
  observer_->OnProgress(progress_);
}

bool ReplaceEngine::ChangeFileText(const std::string& path,
                                   ChangeList& changes) {
  const std::size_t slash = path.rfind('/');
  const std::string folder_path = slash == std::string::npos ? "."
                                  : slash == 0 ? "/"
                                               : path.substr(0, slash);
  FileSteps steps(settings_, file_system_, observer_, &problems_);
  std::unique_ptr<Folder> folder;
  Status opened = file_system_->OpenFolder(folder_path, true, &folder);
  if (!opened.ok()) {
    ++problems_.unreadable_files;
    observer_->OnProblem(
        Problem{Problem::Kind::kUnreadableFile, path, opened.reason()});
    return false;
  }
  PendingFile file =
      steps.ChangeText(std::move(folder), path.substr(slash + 1), path);
  changes.insert(changes.end(), file.changes.begin(), file.changes.end());
  return file.changed;
}

std::string ReplaceEngine::ReplaceText(std::string text) const {
  if (settings_.modes.any()) {
    return ReplaceAll(std::move(text),
                      PlanMatching(settings_.find, settings_.replace,
                                   settings_.modes, settings_.code_page),
                      settings_.code_page);
  }
  return ReplaceAll(std::move(text), settings_.find, settings_.replace,
                    settings_.code_page);
}

}  // namespace vs
