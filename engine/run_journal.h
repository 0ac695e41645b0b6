// The undo journal of one run, as the run writes it (the format is
// engine/journal_records.h's).
//
// Begin makes the run's folder and puts what was asked on the disk.
// Every change the run is to make gets a record number, in the order
// the changes are made (Reserve, on the walk); its record may be written
// from any thread once known (Add), and goes into `changes` in number
// order, after every lower number is added or skipped. Sync puts every
// record written on the disk: a batch's records are there before any
// file of the batch is changed. A file's old text goes into old/N,
// moved there whole (KeepOldText) or copied (CopyOldText) where the
// journal is on another file system than the file. End writes `end`.
//
// A write into the journal that fails makes the journal failed: the
// first failure is kept, later writes are not tried, and Sync gives it.
//
// Threads: Add, Skip, CopyOldText, AddEntries and the accessors may be
// called from any thread; Begin, Reserve, Sync and End from the run's.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/change_list.h"
#include "engine/file_system.h"
#include "engine/journal_records.h"
#include "engine/mutex.h"
#include "engine/run_settings.h"
#include "engine/status.h"
#include "engine/thread_annotations.h"

namespace vs {

// What a front end may tell of a run's journal once the run is over.
struct JournalSummary {
  std::string id;                   // empty: the run kept no journal
  std::string folder;               // the run's journal folder
  std::uint64_t files = 0;          // records written
  std::uint64_t bytes_copied = 0;   // of old texts copied into it
};

// A folder of the journal's own, by its name and identity: the walk
// never enters a subfolder that is one of them.
struct OwnFolder {
  std::string name;
  dev_t device = 0;
  ino_t inode = 0;
};

// What a change the journal failed for fails with: "cannot write the
// undo journal: REASON".
Status WriteFailure(const Status& status);

class RunJournal {
 public:
  // `file_system` must outlive the journal.
  explicit RunJournal(FileSystem* file_system);
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Makes the folder `state_folder`/runs with the folders on the way (for
  // the user alone; an existing part of it may be reached through
  // symbolic links), makes the run's folder in it, writes and syncs
  // `run` (what `settings` ask of the walk of `base_dir`) and opens
  // `changes`. On a failure what it made goes again, and the reason
  // says what failed.
  Status Begin(const std::string& state_folder, const RunSettings& settings,
               const std::string& base_dir);

  const std::string& id() const { return id_; }
  // The journal folder (`state_folder`/runs) and the run's folder in it.
  const std::string& runs_path() const { return runs_path_; }
  std::string path() const { return runs_path_ + "/" + id_; }
  // The device the journal is on: a file on another is copied.
  dev_t device() const { return device_; }
  // The state folder, the journal folder and the run's folder.
  const std::vector<OwnFolder>& own_folders() const { return own_folders_; }
  // The base folder as the walk opened it: the folders of records are
  // given below it.
  const std::string& base_dir() const { return base_dir_; }

  // The next record number, from 1; on the walk, in the order the
  // changes will be made.
  std::uint64_t Reserve() { return ++reserved_; }
  // Record `record.number`'s line, written once every lower number is
  // added or skipped.
  void Add(const JournalRecord& record) EXCLUDES(mutex_);
  // Number `number` records nothing: its change will not be tried. 0 and
  // numbers already added or skipped are left as they are.
  void Skip(std::uint64_t number) EXCLUDES(mutex_);

  // Copies the bytes and the mode of the file `name` of `folder` into
  // old/`number`, flushed to the disk, if the file is still the version
  // `read` describes; else "changed during the run". A failure to write
  // the copy makes the journal failed, and is given as WriteFailure's.
  Status CopyOldText(const Folder& folder, const std::string& name,
                     const FileInfo& read, std::uint64_t number)
      EXCLUDES(mutex_);
  // Moves the file `name` of `folder` to old/`number`: the very file,
  // nothing copied. The folder must be on the journal's file system.
  Status KeepOldText(const Folder& folder, const std::string& name,
                     std::uint64_t number);
  // Moves old/`number` back to `name` of `folder`, where nothing of that
  // name exists.
  Status PutBackOldText(const Folder& folder, const std::string& name,
                        std::uint64_t number);

  // The change entries of record `number`, once its file is done; on the
  // disk with the next Sync.
  void AddEntries(std::uint64_t number, const ChangeList& entries)
      EXCLUDES(mutex_);

  // Puts everything written on the disk. Every number reserved must be
  // added or skipped by now.
  Status Sync() EXCLUDES(mutex_);
  // The failure that stopped the journal, if any.
  Status failure() const EXCLUDES(mutex_);
  bool failed() const { return !failure().ok(); }

  // Writes and syncs `end`: the run finished, or was stopped. Of a run
  // killed, no `end` is written. A run that reserved no record removes
  // its folder instead: it changed nothing.
  Status End(bool stopped) EXCLUDES(mutex_);

  JournalSummary summary() const EXCLUDES(mutex_);

 private:
  // Opens the folder `path`, made (with the folders on the way) if it
  // does not exist.
  Status OpenMaking(const std::string& path, std::unique_ptr<Folder>* folder);
  Status MakeRunFolder();
  Status WriteHeader(const RunSettings& settings, const std::string& base_dir);
  Status Identify(const Folder& folder, const std::string& name);
  // Removes what a Begin that failed made.
  void Abandon();
  // Appends the lines ready in number order.
  void WriteReady() REQUIRES(mutex_);
  void Write(const std::string& line) REQUIRES(mutex_);
  void Fail(const Status& status) REQUIRES(mutex_);
  // Makes the journal failed for `status`, and gives WriteFailure's.
  Status JournalWriteFailed(const Status& status) EXCLUDES(mutex_);
  // Copies `from` whole into `to` and makes it durable; `write_failed`
  // tells whether what failed was the writing.
  static Status CopyInto(ReadableFile* from, WritableFile* to,
                         std::uint64_t* copied, bool* write_failed);
  // A file for the user alone, to be written.
  FileInfo OwnFile() const;

  FileSystem* const file_system_;
  std::string runs_path_;
  std::string id_;
  std::string base_dir_;
  std::unique_ptr<Folder> runs_;
  std::unique_ptr<Folder> run_;
  std::unique_ptr<Folder> old_;
  dev_t device_ = 0;
  std::vector<OwnFolder> own_folders_;
  std::uint64_t reserved_ = 0;  // the walk's alone

  // Guards the `changes` file and what goes into it.
  mutable Mutex mutex_;
  std::unique_ptr<WritableFile> changes_ GUARDED_BY(mutex_);
  // Lines of numbers above `written_`, waiting for a lower one; an empty
  // line for a number skipped.
  std::map<std::uint64_t, std::string> ready_ GUARDED_BY(mutex_);
  std::uint64_t written_ GUARDED_BY(mutex_) = 0;  // numbers done
  std::uint64_t records_ GUARDED_BY(mutex_) = 0;
  std::uint64_t bytes_copied_ GUARDED_BY(mutex_) = 0;
  Status failure_ GUARDED_BY(mutex_);
};

}  // namespace vs
