// Files in walk order, across folders, waiting to be finished together:
// every new text of the batch is made durable first (the waits of many
// files overlap on the sync pool), then each file is finished in turn, so
// every effect happens in the order of the walk.
//
// With an undo journal, every change to be tried gets its record there,
// written as its new text is made durable (or as the file is added, for
// a new name alone), and the batch's records go to the disk in one sync
// before the first file of the batch is changed. A file with a new name
// alone waits in the batch too, so a run that renames pays one sync a
// batch. Should the journal fail, no file of the batch is changed.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>

#include "engine/file_steps.h"
#include "engine/journal_records.h"
#include "engine/run_journal.h"
#include "engine/pending_file.h"
#include "engine/scan_ahead.h"
#include "engine/sync_pool.h"

namespace vs {

// The undo journal a batch writes its records into.
struct BatchJournal {
  RunJournal* journal = nullptr;  // null: none
  FileSystem* file_system = nullptr;
  // Told once, on the walk, when the journal could not be written.
  std::function<void(const Status&)> failed;
};

class CommitBatch {
 public:
  // Called with each file once it is finished (kNamed), in walk order.
  using Record = std::function<void(PendingFile*)>;

  // Every argument must outlive the batch.
  CommitBatch(FileSteps* steps, SyncPool* sync_pool, ScanAhead* scan_ahead,
              Record record, BatchJournal journal = {});
  // Only reached with files waiting when the walk is left by an exception
  // (out of memory): their temporary files go, and their originals stay.
  ~CommitBatch();
  CommitBatch(const CommitBatch&) = delete;
  CommitBatch& operator=(const CommitBatch&) = delete;

  // Takes a file the walk has begun; a file with nothing to do, or
  // nothing waiting before it, is finished at once.
  void Add(PendingFile file);
  // The walk is done with `folder`: files of it that still wait keep it
  // open, and the batch is committed when too many folders are kept.
  void Leave(const std::shared_ptr<const Folder>& folder);
  // Finishes every file waiting.
  void Commit();

 private:
  bool Waits(const Folder* folder) const;
  // The pool's job for a file with a new text: makes it durable, then
  // writes its record (with a copy of its old text where that is kept
  // so).
  Status MakeDurable(PendingFile* file);
  // The record of `file`'s change but for its text's part.
  JournalRecord RecordOf(const PendingFile& file) const;
  // Writes the record of a file whose name alone changes; a file that is
  // gone gets no record, and its new name is refused.
  void RecordNewName(PendingFile* file);
  // Takes the durable job's result: a file whose text failed keeps the
  // record of its new name, if any.
  void TextDone(PendingFile* file, Status status);
  // Syncs the batch's records; on a failure, gives up every change of
  // the batch.
  void SyncRecords();

  FileSteps* const steps_;
  SyncPool* const sync_pool_;
  ScanAhead* const scan_ahead_;
  const Record record_;
  // A deque: a file stays where it is while the pool works on it.
  std::deque<PendingFile> files_;
  // files_ with a new text, and with a new name alone where a journal
  // is kept
  std::size_t rewrites_ = 0;
  std::size_t kept_folders_ = 0;  // left by the walk, open for files_
  const BatchJournal journal_;
  bool failure_told_ = false;
};

}  // namespace vs
