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
                         ScanAhead* scan_ahead, Record record,
                         BatchJournal journal)
    : steps_(steps),
      sync_pool_(sync_pool),
      scan_ahead_(scan_ahead),
      record_(std::move(record)),
      journal_(std::move(journal)) {}

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
  // Only a name that will be tried is a change to record.
  const bool renamed =
      journal_.journal && file.new_name && file.refusal.empty();
  if (file.idle() || (!text && !renamed && files_.empty())) {
    steps_->ForgetWhereFoldersAre();
    steps_->Finish(&file);
    record_(&file);
    return;
  }
  PendingFile& added = files_.emplace_back(std::move(file));
  if (journal_.journal && (text || renamed))
    added.journal_number = journal_.journal->Reserve();
  if (text) {
    // Written out and on its way to the disk while the walk goes on.
    added.durable = sync_pool_->Start(
        [this, &added] { return MakeDurable(&added); });
    ++rewrites_;
  } else if (renamed) {
    RecordNewName(&added);
    ++rewrites_;
  }
  if (rewrites_ >= kMaxBatchedRewrites) Commit();
}

Status CommitBatch::MakeDurable(PendingFile* file) {
  Status status = steps_->MakeDurable(file);
  if (!status.ok() || file->journal_number == 0) return status;
  RunJournal* journal = journal_.journal;
  JournalRecord record = RecordOf(*file);
  record.before = file->read_version;
  if (file->read_version.device == journal->device()) {
    record.old_text = OldText::kMoved;  // at the swap
  } else {
    status = journal->CopyOldText(*file->folder, file->name,
                                  file->read_version, file->journal_number);
    if (!status.ok()) return status;
    record.old_text = OldText::kCopied;
    file->old_text_copied = true;
  }
  // What the name will hold: the new text's file, as it is now.
  status = journal_.file_system->Stat(*file->folder, file->temp_name,
                                      &record.after);
  if (!status.ok()) return status;
  journal->Add(record);
  return Status::Ok();
}

JournalRecord CommitBatch::RecordOf(const PendingFile& file) const {
  JournalRecord record;
  record.number = file.journal_number;
  // The folder below the base, as the walk reached it.
  const std::string& base = journal_.journal->base_dir();
  const std::string& path = file.folder->path();
  if (path.size() > base.size()) {
    const std::size_t start = path.find_first_not_of('/', base.size());
    if (start != std::string::npos) record.folder = path.substr(start);
  }
  record.name = file.name;
  if (file.new_name && file.refusal.empty()) record.new_name = *file.new_name;
  return record;
}

void CommitBatch::RecordNewName(PendingFile* file) {
  JournalRecord record = RecordOf(*file);
  Status status =
      journal_.file_system->Stat(*file->folder, file->name, &record.before);
  if (!status.ok()) {
    journal_.journal->Skip(file->journal_number);
    file->journal_number = 0;
    file->refusal = status.reason();
    return;
  }
  record.after = record.before;  // the same file, renamed
  journal_.journal->Add(record);
}

void CommitBatch::TextDone(PendingFile* file, Status status) {
  steps_->TextSynced(file, status);
  if (status.ok() || file->journal_number == 0) return;
  if (file->new_name && file->refusal.empty()) {
    RecordNewName(file);
  } else {
    journal_.journal->Skip(file->journal_number);
    file->journal_number = 0;
  }
}

void CommitBatch::SyncRecords() {
  if (!journal_.journal || files_.empty()) return;
  const Status synced = journal_.journal->Sync();
  if (synced.ok()) return;
  const Status why = WriteFailure(synced);
  for (PendingFile& file : files_) steps_->GiveUp(&file, why);
  if (!failure_told_) {
    failure_told_ = true;
    if (journal_.failed) journal_.failed(synced);
  }
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
      status = MakeDurable(&file);
    TextDone(&file, status);
  }
  // Every record of the batch is on the disk before any file changes.
  SyncRecords();
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
