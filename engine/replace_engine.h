// The replace engine: walks a folder, replaces the find text in file text
// and file names, and records what it changed in its change log.
//
// A front end holds one. It hands the engine its settings as a value,
// hears of the run through a RunObserver, and may stop a run from any
// thread. The engine never prints.
//
//   ReplaceEngine engine(&observer, RealFileSystem());
//   engine.set_settings(settings);
//   engine.ProcessFolder(settings.base_dir);
#pragma once

#include <atomic>
#include <future>
#include <memory>
#include <string>

#include "engine/change_log.h"
#include "engine/file_system.h"
#include "engine/run_journal.h"
#include "engine/run_observer.h"
#include "engine/run_settings.h"
#include "engine/scan_ahead.h"
#include "engine/spill_store.h"

namespace vs {

class CommitBatch;
class FileSteps;
struct PendingFile;

class ReplaceEngine {
 public:
  // `observer` and `file_system` are not owned and must outlive the
  // engine.
  ReplaceEngine(RunObserver* observer, FileSystem* file_system);
  ~ReplaceEngine();
  ReplaceEngine(const ReplaceEngine&) = delete;
  ReplaceEngine& operator=(const ReplaceEngine&) = delete;

  // The settings of the runs that follow; not while a run goes.
  void set_settings(RunSettings settings) { settings_ = std::move(settings); }
  const RunSettings& settings() const { return settings_; }

  // One run over `folder`: every file in it (and in its subfolders when
  // sub_folders is on) that the settings' filter takes and their ignore
  // rules do not ignore, version control's own left out unless
  // include_vcs is on, goes through the text step and the name step, is
  // recorded in the change log, and is told to the observer when it
  // changed or a change of it failed. An empty folder
  // text is refused: nothing is walked, and so are settings that cannot
  // run (told as a kBadSettings problem). Returns when the walk is over or
  // stopped.
  // With settings' state_folder set, a run that is no dry run keeps an
  // undo journal (see engine/run_journal.h): one that cannot be begun is
  // told as a kJournal problem, and nothing is walked; one that cannot be
  // written later stops the run, the batch it failed for unchanged.
  // Running out of memory (std::bad_alloc, on any thread of the run)
  // stops the run as RequestStop does, with every file all old or all
  // new and no temporary file left; it is told as a kOutOfMemory
  // problem, and nothing is thrown.
  void ProcessFolder(const std::string& folder);

  // Replaces the find text in the lines of the file `path`. Appends a
  // "Line %i: %s" entry to `changes` for every changed line and returns
  // true when a line changed. When the file could not be rewritten the
  // line entries are replaced by one "Failed to change Text (%s)" entry,
  // the file is left as it was, and the result is still true.
  bool ChangeFileText(const std::string& path, ChangeList& changes);

  // `text` with every occurrence of the find text, found left to right
  // without overlap, replaced by the replace text; with a match mode on,
  // every match, `text` taken as one line.
  std::string ReplaceText(std::string text) const;

  // Asks the run in progress to stop, from any thread (a signal handler
  // too): the files it has begun are finished, each whole, and nothing
  // more is begun. Made while no run goes, it stops the next run before
  // it begins anything. Every run ends with the request cleared.
  void RequestStop() { stop_requested_.store(true); }
  bool stop_requested() const { return stop_requested_.load(); }

  // What the runs so far changed: every file they met, by its path as
  // found, changed or not; a later run's list of a file replaces an
  // earlier one's.
  const ChangeLog& change_log() const { return change_log_; }
  // What went wrong in the latest run.
  const ProblemCounts& problems() const { return problems_; }
  const RunProgress& progress() const { return progress_; }
  // The latest run's undo journal; an empty id when it kept none.
  const JournalSummary& journal_summary() const { return journal_summary_; }

 private:
  // What one run works with.
  struct Walk {
    FileSteps* steps;
    ScanAhead* scan_ahead;
    CommitBatch* batch;
  };

  // The run proper; throws std::bad_alloc when memory runs out. Makes
  // `journal` when the run keeps one.
  void Run(const std::string& folder, std::unique_ptr<RunJournal>* journal);
  // Begins the run's journal; false, told, when it cannot be.
  bool BeginJournal(const std::string& folder,
                    std::unique_ptr<RunJournal>* journal);
  void EndJournal(RunJournal* journal);
  void JournalFailed(const std::string& folder, const Status& status);
  // Whether the walk is to stop: asked to, or the journal failed.
  bool Stopping() const { return stop_requested() || problems_.journal; }
  void RanOutOfMemory();
  // The spill store of a run with a change memory budget, else null.
  SpillStore* UseBudget();
  // Each returns false when the walk was stopped before its end.
  bool WalkFolder(const Walk& walk, ScanAhead::ListedFolder& listed);
  bool WalkSubfolder(const Walk& walk, ScanAhead::ListedFolder& parent,
                     std::size_t index);
  void ListingFailed(const std::string& path, const Status& status);
  // Enters a finished file in the change log, and tells the observer.
  void Record(PendingFile* file);

  RunObserver* const observer_;
  FileSystem* const file_system_;
  RunSettings settings_;
  // Made by the first run with a budget; outlives the lists in the log.
  std::unique_ptr<SpillStore> spill_store_;
  ChangeLog change_log_;
  ProblemCounts problems_;
  RunProgress progress_;
  JournalSummary journal_summary_;
  RunJournal* journal_ = nullptr;  // the running run's, if any
  // The prune of old runs the journal's start set going, told to stop
  // at the journal's end.
  std::future<Status> pruning_;
  std::atomic<bool> stop_pruning_{false};
  // Lock-free, so that a signal handler may set it.
  std::atomic<bool> stop_requested_{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
};

}  // namespace vs
