// Undoes one run the journal kept: every file it changed goes back to
// what the run found, where the tree still holds what the run left.
//
// The journal is data, not trusted: it is decoded and checked whole
// first (every folder reached from the base folder name by name, never
// through a link; every old version in old/ the very file or a copy of
// the size the run recorded), and anything wrong refuses the undo before
// a file changes. Then each file, last changed first, is looked at and
// only the steps still left are made, so an undo cut short anywhere (a
// crash, a failed call, a stop request) finishes when run again:
//   - its name after the run holds the run's version (device, inode,
//     size and modification time as recorded): the old version comes
//     back under a temporary name and takes the name's place in one
//     exchange, or for a renamed file moves to the old name, never over
//     anything that holds it ("name taken"). A file only renamed is
//     renamed back. The run's version is removed.
//   - its old name holds the old version already: nothing to do, and the
//     file is not told (the run never got to it, or an undo did it).
//   - anything else: "changed since the run", left alone.
// A moved old version is the very file the run found, so it comes back
// with its inode, mode, owner, attributes and times. A copied one (old/
// on another file system than the tree) comes back as a new file with
// the old bytes and mode and what the run's version carries besides;
// the journal notes it (old/N.restored) so a second undo knows it.
// Once every file was looked at, the run is marked undone.
//
// Each file restored or left alone is told through OnFileChanged under
// its path after the run, with entries in the run's style (below).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/file_system.h"
#include "engine/run_observer.h"
#include "engine/status.h"

namespace vs {

// The reasons of an undo's failure entries (engine/change_entry.h has
// their wording).
inline constexpr char kChangedSinceRun[] = "changed since the run";
inline constexpr char kNameTaken[] = "name taken";

class UndoRun {
 public:
  // Both must outlive the undo.
  UndoRun(RunObserver* observer, FileSystem* file_system)
      : observer_(observer), file_system_(file_system) {}

  // Undoes the run `id` of `runs_folder`; with `dry_run` tells what it
  // would restore and changes nothing. A failure is a refusal made
  // before anything changed: no such run ("no run ID"), "run ID was
  // undone already", a damaged journal, a base folder that cannot be
  // opened. Files that could not be restored are failure entries,
  // counted in failures().
  Status Undo(const std::string& runs_folder, const std::string& id,
              bool dry_run);

  // From any thread: the file being restored is finished, no other is
  // begun, and the run is not marked undone.
  void RequestStop() { stop_requested_.store(true); }
  bool stop_requested() const { return stop_requested_.load(); }

  // Files told with a failure entry.
  std::uint64_t failures() const { return failures_; }
  // Files told as restored (or that would be, in a dry run).
  std::uint64_t restored() const { return restored_; }
  // Why the run could not be marked undone once every file was looked
  // at; empty when it was (or was not to be).
  const std::string& mark_failure() const { return mark_failure_; }

 private:
  class Work;

  RunObserver* const observer_;
  FileSystem* const file_system_;
  std::atomic<bool> stop_requested_{false};
  std::uint64_t failures_ = 0;
  std::uint64_t restored_ = 0;
  std::string mark_failure_;
};

}  // namespace vs
