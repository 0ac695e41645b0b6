// A run's undo journal made by hand, for the tests of the undo: each
// Change() does to a file of a real tree what a run does (the new text
// takes the name, the old file moves into old/N; then the rename) and
// records it, in the journal's own encoding; Write() puts the journal on
// the disk. The journal is then the tests' to damage or edit.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/journal_records.h"

namespace vs::test {

// What Stat tells of `path` (on the real disk, no link followed).
FileInfo InfoOf(const std::string& path);

class HandJournal {
 public:
  // A run over the tree `base` whose journal goes to `runs_folder`/`id`.
  HandJournal(std::string base, std::string runs_folder, std::string id);

  // Changes the file `folder`/`name` (folder "" for the base) as a run
  // does: `new_text`, if any, replaces its text (the old file kept in
  // old/N, or copied there with `copied`); `new_name`, if not empty,
  // renames it. The entries recorded tell what was done. Returns the
  // record.
  JournalRecord Change(const std::string& folder, const std::string& name,
                       std::optional<std::string> new_text,
                       const std::string& new_name = "", bool copied = false);
  // A record of a change the run never got to make, or that failed (with
  // `entries`): the file stays as it is.
  JournalRecord Unmade(const std::string& folder, const std::string& name,
                       const std::string& new_text_planned,
                       std::vector<std::string> entries = {});
  // The text change of a run killed just after the new text took the
  // name: the old file is still under the run's temporary name, and no
  // entries were written.
  JournalRecord KilledAfterSwap(const std::string& folder,
                                const std::string& name,
                                const std::string& new_text);

  // Writes `run`, `changes` and, with `ended`, `end`.
  void Write(bool ended = true);

  JournalHeader header;
  std::string changes;  // the `changes` file, as Write() writes it
  const std::string& run_folder() const { return run_folder_; }
  std::string OldPath(std::uint64_t number) const;

 private:
  JournalRecord Next(const std::string& folder, const std::string& name);
  std::string PathOf(const std::string& folder, const std::string& name) const;

  std::string base_;
  std::string run_folder_;
  std::uint64_t number_ = 0;
};

// The whole content of the file `path`.
std::string ReadFile(const std::string& path);

// Writes `bytes` to `path` with the permission bits `mode`.
void WriteFile(const std::string& path, const std::string& bytes,
               mode_t mode = 0644);

}  // namespace vs::test
