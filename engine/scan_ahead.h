// The first look at the tree, taken ahead of the walk.
//
// Helper threads open and list the folders the walk will enter and read
// and search the files it will come to, in the walk's own order and a
// bounded way ahead of it; the walk takes each result at its turn. While
// it would wait, the walk takes on jobs ahead itself, as waking a
// sleeping thread costs more than a file's look; with no helpers, it
// looks at each file at its turn. Looking only reads, and every result
// is used at the walk's turn, so a run with helper threads does what a
// run without them does. (Only what another program changes in the tree
// meanwhile may be seen a moment earlier.)
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/change_log.h"
#include "engine/code_page.h"
#include "engine/file_system.h"
#include "engine/ignore_rules.h"
#include "engine/line_pattern.h"
#include "engine/matcher.h"
#include "engine/mutex.h"
#include "engine/path_filter.h"
#include "engine/run_journal.h"
#include "engine/spill_store.h"
#include "engine/thread_annotations.h"

namespace vs {

// A changed file's new text and its line entries, worked out in memory.
struct NewText {
  std::string bytes;
  ChangeList lines;
  ChangeList line_texts;  // when the run keeps them (see LineTextKeeper)
};

struct ScanResult {
  Status status;         // opening or reading the file failed
  bool regular = true;   // false: no regular file any more, text not ours
  bool changes = false;  // a line would change, and the file is not binary
  FileInfo version;      // the file as it was when it was scanned
  // With `changes`, when the scan was asked to: the new text of `version`.
  std::unique_ptr<NewText> new_text;
};

// What a look needs to know of the run.
struct ScanSettings {
  FileSystem* file_system;
  const Matcher* matcher;
  std::string_view replace;
  const CodePage* code_page;
  bool scan_text;    // regular files get a first look at their text
  bool sub_folders;  // subfolders are walked, so listed ahead
  // Both null: every path is taken, and no relative path is ever built.
  const PathFilter* filter;
  IgnoreRules* ignore_rules;
  bool skip_version_control;  // see RunSettings::include_vcs
  bool one_file_system;       // see RunSettings::one_file_system
  SpillStore* spill_store;  // for change lists; null for none
  bool keep_line_texts;  // see RunSettings::keep_line_texts
  // With a match mode on, what is matched instead of `matcher`: the
  // texts then go through a PatternRewriter. Null: the literal way.
  const LinePattern* pattern = nullptr;
  // Folders never entered, known by name and identity: the undo
  // journal's own, should they lie in the tree. Null: none.
  const std::vector<OwnFolder>* own_folders = nullptr;
};

// Scans the file `name` in `folder`; `buffer` is scratch space. With
// `work_out_text`, a changed file no larger than kMaxNewTextSource also
// gets its new text in the result.
ScanResult ScanFile(const ScanSettings& settings, const Folder& folder,
                    const std::string& name, std::vector<char>* buffer,
                    bool work_out_text = false);
constexpr std::uint64_t kMaxNewTextSource = 1 << 20;

// Tells whether the open file `file` has a line that would change; with
// `new_text`, puts the new text there when one does.
Status ScanOpenFile(const ScanSettings& settings, ReadableFile* file,
                    std::vector<char>* buffer, bool* changes,
                    std::unique_ptr<NewText>* new_text = nullptr);

class ScanAhead {
  struct Job;

 public:
  // A folder of the walk, opened and listed. Everything but `jobs` and
  // `settled` is set before the listing is handed out and only read
  // after; those two are guarded by the ScanAhead's mutex_.
  struct ListedFolder {
    // Null when opening it failed. Shared with the files of it that wait
    // to be finished.
    std::shared_ptr<const Folder> folder;
    Status opened;
    // Sorted by name, as bytes; what the run leaves alone is left out.
    std::vector<FolderEntry> entries;
    Status listed;                     // the listing stopped early
    // What is looked at ahead, one job for each entry.
    std::vector<Job> jobs;
    std::size_t settled = 0;  // jobs before this hold no work left
    // Set with a filter or ignore rules only: the path from the base
    // folder ("" for the base), and whether an include glob takes every
    // file below.
    std::string relative;
    bool included = false;
    // With one_file_system only: the base folder's device, and whether
    // this subfolder is on another one, so left alone.
    dev_t device = 0;
    bool other_file_system = false;
  };

  // Starts `threads` helper threads.
  ScanAhead(const ScanSettings& settings, unsigned threads);
  // Waits for the helpers' jobs in hand; what the walk left is dropped.
  ~ScanAhead();
  ScanAhead(const ScanAhead&) = delete;
  ScanAhead& operator=(const ScanAhead&) = delete;

  // The calls below are the walk's, made from one thread.

  // Lists the walk's open base folder and starts looking ahead in it.
  ListedFolder& Start(std::unique_ptr<Folder> base) EXCLUDES(mutex_);
  // The first look at the regular file folder.entries[index], when file
  // texts get one. What a helper's look threw (out of memory) is thrown
  // here.
  std::optional<ScanResult> TakeScan(ListedFolder& folder, std::size_t index)
      EXCLUDES(mutex_);
  // The subfolder folder.entries[index], opened and listed; it stays
  // listed until Leave.
  ListedFolder& Enter(ListedFolder& folder, std::size_t index)
      EXCLUDES(mutex_);
  // Lets the walk, which would wait otherwise, take on some of the looks
  // ahead of it; false when there are none to take.
  bool LookAhead() EXCLUDES(mutex_);
  // Drops the subfolder the walk is done with. The walk must have taken
  // every look in it (a helper may be at work on one it has not); a
  // subfolder not left is dropped with the ScanAhead, after the helpers.
  void Leave(ListedFolder& folder, std::size_t index) EXCLUDES(mutex_);

 private:
  void Work() EXCLUDES(mutex_);
  // Takes the first jobs in walk order that no one has taken and runs
  // them, the lock released meanwhile; false when there are none.
  bool RunSomeWork(std::vector<char>* buffer) REQUIRES(mutex_);
  // Takes the queued job folder.jobs[index], with up to a few queued
  // scans after it, and runs them, the lock released meanwhile.
  void RunJobs(ListedFolder& folder, std::size_t index,
               std::vector<char>* buffer) REQUIRES(mutex_);
  // The first job in walk order that no one has taken, if any.
  bool FindWork(ListedFolder* folder, ListedFolder** owner,
                std::size_t* index) REQUIRES(mutex_);
  // What a job computes; run outside the lock by the thread that took
  // the job, touching nothing shared.
  ScanResult Scan(const ListedFolder& folder, std::size_t index,
                  std::vector<char>* buffer, bool work_out_text) const;
  std::unique_ptr<ListedFolder> ListSubfolder(const ListedFolder& folder,
                                              std::size_t index) const;
  void List(ListedFolder* folder) const;
  // Whether the walk leaves `entry` of `folder` alone: never entered,
  // read, rewritten or renamed.
  bool LeftAlone(const ListedFolder& folder, const FolderEntry& entry) const;
  // Whether the subfolder `name` of `folder` is one of own_folders.
  bool IsOwnFolder(const ListedFolder& folder, const std::string& name) const;
  // Whether the globs leave out `path`, an entry of `folder`.
  bool FilterLeavesOut(const ListedFolder& folder, const std::string& path,
                       bool is_folder) const;
  static std::size_t NewTextSize(const Job& job);
  // Returns once `job` is done. Meanwhile the walk takes on jobs ahead
  // itself; with none left to take, it sleeps until the helpers are some
  // way ahead again, so it is woken once for many jobs.
  void WaitFor(ListedFolder& folder, std::size_t index) REQUIRES(mutex_);
  void JobDone(Job& job) REQUIRES(mutex_);

  const ScanSettings settings_;
  const std::size_t max_open_ahead_;
  std::vector<char> buffer_;  // for the looks the walk takes itself

  // Guards every Job, the `jobs` and `settled` of every ListedFolder, and
  // the fields below.
  Mutex mutex_;
  CondVar work_queued_;  // for helpers: a job may be there to take
  CondVar walk_wake_;    // for the walk: the job it waits for is done
  std::unique_ptr<ListedFolder> base_ GUARDED_BY(mutex_);
  const Job* walk_waits_for_ GUARDED_BY(mutex_) = nullptr;
  unsigned done_since_wait_ GUARDED_BY(mutex_) = 0;
  // Folders listed ahead and not yet left.
  std::size_t open_ahead_ GUARDED_BY(mutex_) = 0;
  // In new texts the walk has not taken.
  std::size_t new_text_bytes_ GUARDED_BY(mutex_) = 0;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::vector<std::thread> threads_;  // set before any runs
};

// A job moves from kQueued to kRunning (taken by one thread, which alone
// computes its result, outside the lock) to kDone (its result stored
// under the lock), and never back.
enum class JobState : std::uint8_t { kQueued, kRunning, kDone };

struct ScanAhead::Job {
  enum class Kind : std::uint8_t { kNone, kScan, kListing } kind;
  JobState state = JobState::kQueued;
  std::exception_ptr error;  // what the job threw
  ScanResult scan;           // kScan, once done
  std::unique_ptr<ListedFolder> listing;  // kListing, until left
};

}  // namespace vs
