// Files in walk order, across folders, waiting to be finished together:
// every new text of the batch is made durable first (the waits of many
// files overlap on the sync pool), then each file is finished in turn, so
// every effect happens in the order of the walk.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>

#include "engine/file_steps.h"
#include "engine/pending_file.h"
#include "engine/scan_ahead.h"
#include "engine/sync_pool.h"

namespace vs {

class CommitBatch {
 public:
  // Called with each file once it is finished (kNamed), in walk order.
  using Record = std::function<void(PendingFile*)>;

  // Every argument must outlive the batch.
  CommitBatch(FileSteps* steps, SyncPool* sync_pool, ScanAhead* scan_ahead,
              Record record);
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

  FileSteps* const steps_;
  SyncPool* const sync_pool_;
  ScanAhead* const scan_ahead_;
  const Record record_;
  // A deque: a file stays where it is while the pool works on it.
  std::deque<PendingFile> files_;
  std::size_t rewrites_ = 0;     // files_ with a new text
  std::size_t kept_folders_ = 0;  // left by the walk, open for files_
};

}  // namespace vs
