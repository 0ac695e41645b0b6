// What a run tells its front end as it goes. Every call comes from the
// thread that runs the walk and must return soon: the walk waits for it.
// Files come in walk order, and problems too; but a file is told once its
// changes are all made, which may be after problems the walk met later.
// What is told, and in what order, is the same with any number of scan
// threads.
#pragma once

#include <cstdint>
#include <string>

#include "engine/change_log.h"

namespace vs {

// Something the run could not do that is no change of a file: those are
// failure entries in the file's own list.
struct Problem {
  enum class Kind {
    kUnlistedFolder,  // a folder could not be opened or listed to its end
    kUnreadableFile,  // a file's text could not be read
    // Memory ran out: the run stopped there, as a stop request stops it.
    // The files told were changed; no other file was. `path` is empty.
    kOutOfMemory,
    // A folder was moved out of the base folder while the run worked in
    // it: nothing in it was changed after that.
    kMovedFolder,
    // The settings cannot be run (a regular expression that does not
    // compile, say): nothing was walked. `path` is empty.
    kBadSettings,
    // The undo journal in the folder `path` could not be written. At the
    // run's start: nothing was walked. Later: the files of the batch
    // being written were not changed, and the run stopped there, as a
    // stop request stops it.
    kJournal,
    // The file `path` was changed, but its old version could not be kept
    // in the undo journal: the run cannot be undone for it.
    kOldTextLost,
  };
  Kind kind;
  std::string path;
  std::string reason;  // in the system's words

  // "cannot list PATH: REASON", "cannot read PATH: REASON", "left PATH
  // alone: moved out of the folder during the run", for out of memory
  // "out of memory: the run stopped", for settings that cannot run the
  // reason alone, "cannot keep the undo journal in FOLDER: REASON" and
  // "cannot keep the old version of PATH for undo: REASON".
  std::string Describe() const {
    if (kind == Kind::kOutOfMemory) return "out of memory: the run stopped";
    if (kind == Kind::kJournal)
      return "cannot keep the undo journal in " + path + ": " + reason;
    if (kind == Kind::kOldTextLost)
      return "cannot keep the old version of " + path + " for undo: " + reason;
    if (kind == Kind::kMovedFolder) return "left " + path + " alone: " + reason;
    if (kind == Kind::kBadSettings) return reason;
    return (kind == Kind::kUnlistedFolder ? "cannot list " : "cannot read ") +
           path + ": " + reason;
  }
};

// What went wrong in a run, counted.
struct ProblemCounts {
  int unlisted_folders = 0;  // a listing failed, at its start or later
  int unreadable_files = 0;  // a file's text could not be read
  int failure_entries = 0;   // "Failed to change ..." entries recorded
  int moved_folders = 0;     // moved out of the tree during the run
  bool out_of_memory = false;  // the run stopped for want of memory
  bool bad_settings = false;   // the run could not start
  // The undo journal could not be written: the run did not start, or
  // stopped where it failed.
  bool journal = false;
  int old_texts_lost = 0;  // changed files the journal lacks the old text of
  bool any() const {
    return out_of_memory || bad_settings || journal ||
           unlisted_folders + unreadable_files + failure_entries +
                   moved_folders + old_texts_lost >
               0;
  }
};

// Counts since the run started.
struct RunProgress {
  std::uint64_t files_looked_at = 0;  // files met by the walk
  std::uint64_t files_changed = 0;    // listed: changed, or a change failed
  std::uint64_t bytes_read = 0;       // of the files whose text was read
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;

  // A file that changed, or a change of which failed, under its path as
  // found, with its entries: once its changes are all made.
  virtual void OnFileChanged(const std::string& /*path*/,
                             const ChangeList& /*changes*/) {}
  // With RunSettings::keep_line_texts, just before OnFileChanged: the
  // file's changed lines and those around them (see LineTextKeeper),
  // handed over; empty when no line changed. They share the engine's
  // scratch file, so must not outlive the engine.
  virtual void OnLineTexts(const std::string& /*path*/,
                           ChangeList /*line_texts*/) {}
  // Where the walk meets it: a folder at the end of its walk, a file at
  // its turn.
  virtual void OnProblem(const Problem& /*problem*/) {}
  // After every file the walk is done with.
  virtual void OnProgress(const RunProgress& /*progress*/) {}
};

}  // namespace vs
