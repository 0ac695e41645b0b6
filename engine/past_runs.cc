#include "engine/past_runs.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <memory>

#include "engine/change_entry.h"
#include "engine/state_folder.h"

namespace vs {
namespace {

constexpr char kOldFolder[] = "old";

// Of many steps that go on after a failure: the first failure.
struct FirstFailure {
  Status status;
  void Keep(const Status& step) {
    if (!step.ok() && status.ok()) status = step;
  }
};

bool IsForgotten(const std::string& name) {
  return name.compare(0, sizeof kForgottenPrefix - 1, kForgottenPrefix) == 0;
}

Status Stopped() { return Status::Error(Status::Code::kIOError, "stopped"); }

Status NoSuchRun(const std::string& id) {
  return Status::Error(Status::Code::kNotFound, "no run " + id);
}

// Opens the folder of the run `id`, or says there is none.
Status OpenRun(FileSystem* fs, const std::string& runs_folder,
               const std::string& id, std::unique_ptr<Folder>* runs,
               std::unique_ptr<Folder>* run) {
  if (!IsPlainName(id) || IsForgotten(id)) return NoSuchRun(id);
  Status status = fs->OpenFolder(runs_folder, /*follow_link=*/true, runs);
  if (status.code() == Status::Code::kNotFound) return NoSuchRun(id);
  if (!status.ok()) return status;
  status = fs->OpenSubfolder(**runs, id, run);
  if (status.code() == Status::Code::kNotFound) return NoSuchRun(id);
  return status;
}

// Opens the journal folder and lists its runs' ids, oldest first. No
// journal folder: no folder, no ids, no error.
Status OpenRuns(FileSystem* fs, const std::string& runs_folder,
                std::unique_ptr<Folder>* folder,
                std::vector<std::string>* ids) {
  Status status = fs->OpenFolder(runs_folder, /*follow_link=*/true, folder);
  if (status.code() == Status::Code::kNotFound) return Status::Ok();
  if (!status.ok()) return status;
  std::vector<FolderEntry> entries;
  status = fs->ListFolder(**folder, &entries);
  if (!status.ok()) return status;
  for (const FolderEntry& entry : entries)
    if (entry.kind == FileKind::kFolder && !IsForgotten(entry.name))
      ids->push_back(entry.name);
  std::sort(ids->begin(), ids->end());
  return Status::Ok();
}

// Counts, from the entries of the files done, what the run changed.
void CountChanges(const JournalChanges& changes, RunSummary* summary) {
  for (const auto& [number, entries] : changes.entries) {
    bool text = false, name = false;
    for (const std::string& entry : entries) {
      const ChangeEntry::Kind kind = ReadChangeEntry(entry).kind;
      text = text || kind == ChangeEntry::Kind::kLine;
      name = name || kind == ChangeEntry::Kind::kNewName;
    }
    summary->files_changed += text;
    summary->files_renamed += name;
  }
}

// Bytes the files of old/ hold; none when there is no such folder.
std::uint64_t OldBytes(FileSystem* fs, const Folder& run) {
  std::unique_ptr<Folder> old;
  if (!fs->OpenSubfolder(run, kOldFolder, &old).ok()) return 0;
  std::vector<FolderEntry> entries;
  fs->ListFolder(*old, &entries);
  std::uint64_t bytes = 0;
  for (const FolderEntry& entry : entries) {
    FileInfo info;
    if (entry.kind == FileKind::kRegular &&
        fs->Stat(*old, entry.name, &info).ok())
      bytes += info.size;
  }
  return bytes;
}

// A run killed before its journal began (its list of changes is made
// last, once its settings are on the disk) changed nothing and keeps
// nothing: there is no such run to list, show or undo. Only its age
// matters, to PruneRuns. A forget cut short is not taken for one: it
// leaves old versions behind, or the list of changes.
bool NeverBegan(FileSystem* fs, const Folder& run) {
  if (fs->Exists(run, "changes")) return false;
  std::unique_ptr<Folder> old;
  if (!fs->OpenSubfolder(run, kOldFolder, &old).ok()) return true;
  std::vector<FolderEntry> entries;
  return fs->ListFolder(*old, &entries).ok() && entries.empty();
}

// Reads the journal of an open run; its damage, if any, is the result.
Status ReadRun(FileSystem* fs, const Folder& run, PastRun* past) {
  RunSummary& summary = past->summary;
  std::string text;
  Status status = ReadWholeFile(fs, run, "run", &text);
  if (!status.ok())
    return status.code() == Status::Code::kNotFound
               ? Status::Error(Status::Code::kIOError,
                               "damaged journal: no run record")
               : status;
  status = DecodeHeader(text, &summary.header);
  if (!status.ok()) return status;
  status = ReadWholeFile(fs, run, "changes", &text);
  if (status.code() == Status::Code::kNotFound) {
    text.clear();  // killed before its first file
  } else if (!status.ok()) {
    return status;
  }
  status = DecodeChanges(text, &past->changes);
  if (!status.ok()) return status;
  status = ReadWholeFile(fs, run, "end", &text);
  if (status.ok()) {
    JournalEnd end;
    status = DecodeEnd(text, &end);
    if (!status.ok()) return status;
    summary.ending = end.stopped ? RunEnding::kStopped : RunEnding::kFinished;
    summary.ended = end.ended;
  } else if (status.code() != Status::Code::kNotFound) {
    return status;
  }
  summary.undone = fs->Exists(run, "undone");
  CountChanges(past->changes, &summary);
  return Status::Ok();
}

// Removes every file of `folder` and, one level down, of its subfolders
// and those subfolders themselves; a journal holds nothing deeper.
Status EmptyFolder(FileSystem* fs, const Folder& folder, bool first_level,
                   const std::atomic<bool>* stop) {
  std::vector<FolderEntry> entries;
  Status status = fs->ListFolder(folder, &entries);
  if (!status.ok()) return status;
  // The run's record first: what is left of a run cut short is damaged.
  std::stable_partition(entries.begin(), entries.end(),
                        [](const FolderEntry& e) { return e.name == "run"; });
  for (const FolderEntry& entry : entries) {
    if (stop && stop->load(std::memory_order_relaxed)) return Stopped();
    if (entry.kind == FileKind::kFolder && first_level) {
      std::unique_ptr<Folder> sub;
      status = fs->OpenSubfolder(folder, entry.name, &sub);
      if (status.ok()) status = EmptyFolder(fs, *sub, false, stop);
      if (status.ok()) status = fs->RemoveFolder(folder, entry.name);
    } else {
      status = fs->Remove(folder, entry.name);
    }
    if (!status.ok()) return status;
  }
  return Status::Ok();
}

// Deletes the folder `name` of `runs` with all it holds, unless `stop`
// is set first.
Status DeleteRunFolder(FileSystem* fs, const Folder& runs,
                       const std::string& name, const std::atomic<bool>* stop) {
  std::unique_ptr<Folder> run;
  Status status = fs->OpenSubfolder(runs, name, &run);
  if (status.ok()) status = EmptyFolder(fs, *run, /*first_level=*/true, stop);
  run.reset();
  if (status.ok()) status = fs->RemoveFolder(runs, name);
  return status;
}

// The folders of runs forgotten but not yet deleted, oldest first.
Status ForgottenNames(FileSystem* fs, const Folder& runs,
                      std::vector<std::string>* names) {
  std::vector<FolderEntry> entries;
  Status status = fs->ListFolder(runs, &entries);
  for (const FolderEntry& entry : entries)
    if (entry.kind == FileKind::kFolder && IsForgotten(entry.name))
      names->push_back(entry.name);
  std::sort(names->begin(), names->end());
  return status;
}

// Forgets the run `id` of `runs`: out of the list at once, by taking a
// name no run has, then deleted, unless `stop` is set first.
Status Forget(FileSystem* fs, const Folder& runs, const std::string& id,
              const std::atomic<bool>* stop) {
  const std::string forgotten = kForgottenPrefix + id;
  Status status = fs->RenameNoReplace(runs, id, forgotten);
  // A forgotten run of that id left over (a clock set back): this one
  // goes where it is.
  if (status.code() == Status::Code::kExists)
    return DeleteRunFolder(fs, runs, id, stop);
  if (!status.ok()) return status;
  return DeleteRunFolder(fs, runs, forgotten, stop);
}

// The summary of the run `id` of `runs` for the list; false when the run
// never began and is left out.
bool SummarizeRun(FileSystem* fs, const Folder& runs, const std::string& id,
                  RunSummary* summary) {
  PastRun past;
  past.summary.id = id;
  std::unique_ptr<Folder> run;
  Status status = fs->OpenSubfolder(runs, id, &run);
  if (status.ok() && NeverBegan(fs, *run)) return false;
  if (status.ok()) status = ReadRun(fs, *run, &past);
  if (!status.ok()) {
    past.summary = RunSummary();
    past.summary.id = id;
    past.summary.damage = status.reason();
  }
  if (run) past.summary.old_bytes = OldBytes(fs, *run);
  *summary = std::move(past.summary);
  return true;
}

}  // namespace

std::string RunsFolder() { return StateFolder() + "/runs"; }

Status ReadWholeFile(FileSystem* fs, const Folder& folder,
                     const std::string& name, std::string* text) {
  text->clear();
  std::unique_ptr<ReadableFile> file;
  FileInfo info;
  Status status = fs->OpenForRead(folder, name, &file, &info);
  if (!status.ok()) return status;
  char buffer[64 * 1024];
  for (;;) {
    std::size_t got = 0;
    status = file->Read(buffer, sizeof buffer, &got);
    if (!status.ok()) return status;
    if (got == 0) return Status::Ok();
    text->append(buffer, got);
  }
}

bool StartOfId(const std::string& id, std::int64_t* start) {
  if (id.size() < 15 || id[8] != '-') return false;
  int digits[14];
  for (int i = 0, at = 0; i < 15; ++i) {
    if (i == 8) continue;
    if (id[i] < '0' || id[i] > '9') return false;
    digits[at++] = id[i] - '0';
  }
  auto number = [&](int from, int count) {
    int n = 0;
    for (int i = from; i < from + count; ++i) n = n * 10 + digits[i];
    return n;
  };
  std::tm tm = {};
  tm.tm_year = number(0, 4) - 1900;
  tm.tm_mon = number(4, 2) - 1;
  tm.tm_mday = number(6, 2);
  tm.tm_hour = number(8, 2);
  tm.tm_min = number(10, 2);
  tm.tm_sec = number(12, 2);
  const std::time_t time = timegm(&tm);
  if (time == static_cast<std::time_t>(-1)) return false;
  *start = time;
  return true;
}

Status ListRuns(FileSystem* fs, const std::string& runs_folder,
                std::vector<RunSummary>* runs) {
  runs->clear();
  std::unique_ptr<Folder> folder;
  std::vector<std::string> ids;
  Status status = OpenRuns(fs, runs_folder, &folder, &ids);
  if (!status.ok() || !folder) return status;
  for (const std::string& id : ids) {
    RunSummary summary;
    if (SummarizeRun(fs, *folder, id, &summary))
      runs->push_back(std::move(summary));
  }
  return Status::Ok();
}

Status LatestRunToUndo(FileSystem* fs, const std::string& runs_folder,
                       RunSummary* run, bool* found, bool* any_kept) {
  *found = false;
  *any_kept = false;
  std::unique_ptr<Folder> folder;
  std::vector<std::string> ids;
  Status status = OpenRuns(fs, runs_folder, &folder, &ids);
  if (!status.ok() || !folder) return status;
  for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
    // Undone runs are passed over without reading their journals.
    std::unique_ptr<Folder> opened;
    if (fs->OpenSubfolder(*folder, *id, &opened).ok() &&
        fs->Exists(*opened, "undone")) {
      *any_kept = true;
      continue;
    }
    opened.reset();
    if (!SummarizeRun(fs, *folder, *id, run)) continue;
    *any_kept = true;
    if (run->undone) continue;  // undone as it was read
    *found = true;
    return Status::Ok();
  }
  return Status::Ok();
}

Status LoadRun(FileSystem* fs, const std::string& runs_folder,
               const std::string& id, PastRun* past) {
  *past = PastRun();
  std::unique_ptr<Folder> runs, run;
  Status status = OpenRun(fs, runs_folder, id, &runs, &run);
  if (!status.ok()) return status;
  if (NeverBegan(fs, *run)) return NoSuchRun(id);
  past->summary.id = id;
  status = ReadRun(fs, *run, past);
  if (!status.ok()) return status;
  past->summary.old_bytes = OldBytes(fs, *run);
  return Status::Ok();
}

Status ForgetRun(FileSystem* fs, const std::string& runs_folder,
                 const std::string& id) {
  std::unique_ptr<Folder> runs, run;
  Status status = OpenRun(fs, runs_folder, id, &runs, &run);
  run.reset();
  if (status.ok()) status = Forget(fs, *runs, id, nullptr);
  return status;
}

Status ForgetAllRuns(FileSystem* fs, const std::string& runs_folder) {
  std::unique_ptr<Folder> folder;
  std::vector<std::string> ids;
  Status status = OpenRuns(fs, runs_folder, &folder, &ids);
  if (!status.ok() || !folder) return status;
  FirstFailure first_failure;
  // Every folder, listed or not (a run killed as it began), and what
  // earlier prunes left.
  for (const std::string& id : ids)
    first_failure.Keep(Forget(fs, *folder, id, nullptr));
  std::vector<std::string> names;
  first_failure.Keep(ForgottenNames(fs, *folder, &names));
  for (const std::string& name : names)
    first_failure.Keep(DeleteRunFolder(fs, *folder, name, nullptr));
  return first_failure.status;
}

Status PruneRuns(FileSystem* fs, const std::string& runs_folder,
                 std::int64_t now, const std::atomic<bool>* stop) {
  // Only the ids are read: a run's id names when it started, and a run
  // start must not pay for reading every journal kept.
  std::unique_ptr<Folder> folder;
  std::vector<std::string> ids;
  Status status = OpenRuns(fs, runs_folder, &folder, &ids);
  if (!status.ok() || !folder) return status;
  FirstFailure first_failure;
  // Out of the list first, all of them: that takes a rename each.
  std::size_t forgotten_now = 0;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    std::int64_t started = 0;
    const bool known_start = StartOfId(ids[i], &started);
    const bool beyond = ids.size() - i > kRunsKept;
    const bool too_old = known_start && started < now - kRunsKeptSeconds;
    if (!beyond && !too_old) continue;
    status = fs->RenameNoReplace(*folder, ids[i], kForgottenPrefix + ids[i]);
    first_failure.Keep(status);
    forgotten_now += status.ok();
  }
  // Then what they hold, oldest first, with what earlier prunes left. A
  // stop is heeded only once as many are deleted as were forgotten now,
  // so what is left over never grows, however short the runs.
  std::vector<std::string> names;
  first_failure.Keep(ForgottenNames(fs, *folder, &names));
  std::size_t deleted = 0;
  for (const std::string& name : names) {
    const std::atomic<bool>* heeded = deleted >= forgotten_now ? stop : nullptr;
    if (heeded && heeded->load(std::memory_order_relaxed)) break;
    status = DeleteRunFolder(fs, *folder, name, heeded);
    if (heeded && heeded->load(std::memory_order_relaxed)) break;
    first_failure.Keep(status);
    ++deleted;
  }
  return first_failure.status;
}

}  // namespace vs
