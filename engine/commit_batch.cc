#include "engine/commit_batch.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

namespace vs {
namespace {

// Rewritten files wait in a batch, so that flushing them to the disk
// costs one wait for the batch instead of one for each file.
constexpr std::size_t kMaxBatchedRewrites = 64;
// A batch keeps the folders of its files open, up to this many.
constexpr std::size_t kMaxBatchedFolders = 32;

}  // namespace

CommitBatch::CommitBatch(FileSteps* steps, SyncPool* sync_pool,
                         ScanAhead* scan_ahead, Record record)
    : steps_(steps),
      sync_pool_(sync_pool),
      scan_ahead_(scan_ahead),
      record_(std::move(record)) {}

CommitBatch::~CommitBatch() {
  for (PendingFile& file : files_) {
    if (file.durable.valid()) file.durable.wait();
    // A destructor must not throw: a removal that runs out of memory
    // itself leaves that one temporary file, and the others still go.
    try {
      steps_->Discard(&file);
    } catch (const std::bad_alloc&) {
    }
  }
}

void CommitBatch::Add(PendingFile file) {
  const bool text = file.has_text();
  if (file.idle() || (!text && files_.empty())) {
    steps_->ForgetWhereFoldersAre();
    steps_->Finish(&file);
    record_(&file);
    return;
  }
  PendingFile& added = files_.emplace_back(std::move(file));
  if (text) {
    // Written out and on its way to the disk while the walk goes on.
    added.durable = sync_pool_->Start(
        [steps = steps_, &added] { return steps->MakeDurable(&added); });
    ++rewrites_;
  }
  if (rewrites_ >= kMaxBatchedRewrites) Commit();
}

bool CommitBatch::Waits(const Folder* folder) const {
  return std::any_of(files_.begin(), files_.end(),
                     [&](const PendingFile& file) {
                       return file.folder.get() == folder;
                     });
}

void CommitBatch::Leave(const std::shared_ptr<const Folder>& folder) {
  // A folder with nothing waiting closes at once: descriptors stay free
  // for new files, and such folders never force a commit.
  if (!Waits(folder.get())) return;
  if (++kept_folders_ >= kMaxBatchedFolders) Commit();
}

void CommitBatch::Commit() {
  // Every new text of the batch is durable before any file is replaced.
  for (PendingFile& file : files_) {
    if (!file.durable.valid()) continue;
    // While the disk works, the walk looks ahead.
    while (file.durable.wait_for(std::chrono::seconds(0)) !=
               std::future_status::ready &&
           scan_ahead_->LookAhead()) {
    }
    Status status = file.durable.get();
    // Created off the walk, the temporary file may have found every
    // descriptor taken for a moment (by folders listed ahead, say): it
    // gets one more try here.
    if (status.code() == Status::Code::kNoDescriptors &&
        file.stage == FileStage::kWorkedOut)
      status = steps_->MakeDurable(&file);
    steps_->TextSynced(&file, status);
  }
  steps_->ForgetWhereFoldersAre();
  for (PendingFile& file : files_) {
    steps_->Finish(&file);
    record_(&file);
  }
  files_.clear();
  rewrites_ = 0;
  kept_folders_ = 0;
}

}  // namespace vs
