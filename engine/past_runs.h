// The runs the undo journal keeps (see engine/journal_records.h for its
// layout): listed, read back, forgotten and pruned. Every call goes
// through a FileSystem and names runs by their id, the name of their
// folder; an id that is not a plain name is no run. A run whose journal
// does not decode is still listed, as damaged, so it can be seen and
// forgotten.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/journal_records.h"
#include "engine/status.h"

namespace vs {

// Where the runs are kept: StateFolder() + "/runs".
std::string RunsFolder();

// How a run ended, as its journal tells.
enum class RunEnding {
  kFinished,
  kStopped,  // a stop request, or memory ran out
  kKilled,   // no end record: the process died during the run
};

// What --list-runs shows of a run.
struct RunSummary {
  std::string id;
  // Why the journal does not decode; empty when it does. The fields
  // below but `id` and `old_bytes` are then unset.
  std::string damage;
  JournalHeader header;
  RunEnding ending = RunEnding::kKilled;
  std::int64_t ended = 0;  // seconds since the epoch, unless killed
  bool undone = false;
  // Files whose text the run changed, and files it renamed, as their
  // entries tell (a change that failed does not count).
  std::uint64_t files_changed = 0;
  std::uint64_t files_renamed = 0;
  // Bytes the old versions in old/ hold.
  std::uint64_t old_bytes = 0;

  bool damaged() const { return !damage.empty(); }
};

// A run read back whole.
struct PastRun {
  RunSummary summary;
  JournalChanges changes;
};

// Runs kept at most, and for how long, by PruneRuns.
inline constexpr std::size_t kRunsKept = 20;
inline constexpr std::int64_t kRunsKeptSeconds = 30 * 24 * 60 * 60;

// Every run in `runs_folder`, oldest first (ids sort as runs started).
// No runs folder: no runs. Entries that are not folders are left out.
Status ListRuns(FileSystem* file_system, const std::string& runs_folder,
                std::vector<RunSummary>* runs);

// The run an undo names by default: the latest not undone yet. A damaged
// one counts, to be refused rather than passed over. Only its journal is
// read. `*any_kept` tells whether the journal keeps any run at all.
Status LatestRunToUndo(FileSystem* file_system, const std::string& runs_folder,
                       RunSummary* run, bool* found, bool* any_kept);

// Reads the run `id`: kNotFound "no run ID" when there is none, the
// journal's damage as an error when it does not decode.
Status LoadRun(FileSystem* file_system, const std::string& runs_folder,
               const std::string& id, PastRun* run);

// The name a run's folder takes as it is forgotten: no run id starts so,
// so the run is out of the list at once, and what a deletion cut short
// leaves of it goes with the next prune.
inline constexpr char kForgottenPrefix[] = ".forgotten-";

// Deletes the run `id` and everything its journal holds; kNotFound "no
// run ID" when there is none.
Status ForgetRun(FileSystem* file_system, const std::string& runs_folder,
                 const std::string& id);

// Deletes every run the journal folder holds, those not listed (a run
// killed as it began) and what prunes left too. The first failure is
// returned; the other runs are still deleted.
Status ForgetAllRuns(FileSystem* file_system, const std::string& runs_folder);

// Deletes the runs beyond the newest kRunsKept and those started more
// than kRunsKeptSeconds before `now` (seconds since the epoch), undone or
// not. A run's age is read from its id, the journals are not read. The
// first failure is returned; the other runs are still pruned. Once
// `stop` is set, and as many runs are deleted as this prune took out of
// the list, no more is deleted: the next prune deletes what is left.
Status PruneRuns(FileSystem* file_system, const std::string& runs_folder,
                 std::int64_t now, const std::atomic<bool>* stop = nullptr);

// The whole content of the regular file `name` of `folder`.
Status ReadWholeFile(FileSystem* file_system, const Folder& folder,
                     const std::string& name, std::string* text);

// The start time an id "YYYYMMDD-HHMMSS-..." names, in seconds since the
// epoch (UTC); false when it names none.
bool StartOfId(const std::string& id, std::int64_t* start);

}  // namespace vs
