// The text step and the name step of one file, stage by stage (see
// FileStage): what a run does to each file, apart from when it does it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/file_system.h"
#include "engine/line_pattern.h"
#include "engine/matcher.h"
#include "engine/pending_file.h"
#include "engine/run_journal.h"
#include "engine/run_observer.h"
#include "engine/run_settings.h"
#include "engine/scan_ahead.h"

namespace vs {

class FileSteps {
 public:
  // Every argument must outlive the steps. Problems are counted in
  // `counts` and told to `observer`.
  // Change lists share `spill_store` when it is not null. With a
  // `journal`, the walk leaves its folders alone, and a file's old
  // version goes into it when the file is replaced (see SwapIn).
  FileSteps(const RunSettings& settings, FileSystem* file_system,
            RunObserver* observer, ProblemCounts* counts,
            SpillStore* spill_store = nullptr, RunJournal* journal = nullptr);
  FileSteps(const FileSteps&) = delete;
  FileSteps& operator=(const FileSteps&) = delete;

  // What a scan of the tree needs to know of the run.
  const ScanSettings& scan_settings() const { return scan_settings_; }
  // Whether no text or name can change, whatever the files hold.
  bool NothingToReplace() const;

  // Takes `entry` of `folder` to kLookedAt or on: its text worked out (or
  // written to a temporary file when too large to keep in memory), its
  // new name planned. `first_look` is the scan taken ahead, if any.
  PendingFile Begin(std::shared_ptr<const Folder> folder,
                    const FolderEntry& entry,
                    std::optional<ScanResult> first_look);
  // The text step alone for the file `name` of `folder`, to kInPlace.
  PendingFile ChangeText(std::shared_ptr<const Folder> folder,
                         const std::string& name, std::string path);

  // Writes out a new text still in memory and makes the temporary file
  // durable: to kDurable. Touches nothing but `file`, so it may run on
  // another thread. On a failure the file keeps its stage (a text in
  // memory is kept for another try) and the caller passes the result to
  // TextSynced.
  Status MakeDurable(PendingFile* file);
  // Takes MakeDurable's result at the file's turn.
  void TextSynced(PendingFile* file, const Status& status);
  // Puts the new text in place and carries out the name step: to kNamed.
  // A file whose folder is no longer reached from the base folder by the
  // path it was found by is left alone, and the folder told once.
  void Finish(PendingFile* file);
  // The base folder of the walk, which no change may leave; none (as for
  // ChangeText) checks nothing.
  void SetBase(std::shared_ptr<const Folder> base) { base_ = std::move(base); }
  // Where a folder is, checked for one file, stands for the files of the
  // same folder that follow until this is called: once per batch.
  void ForgetWhereFoldersAre() { checked_folder_.reset(); }
  // Drops whatever the file has written: its original stays as it was.
  void Discard(PendingFile* file);
  // Gives up every change of the file not made yet, for `why`: its text
  // fails, and its new name is refused, with `why` as the reason.
  void GiveUp(PendingFile* file, const Status& why);

 private:
  void PrepareText(PendingFile* file, std::optional<ScanResult> first_look);
  // Rewrites the file as it streams into a temporary file.
  void StreamText(PendingFile* file, const ScanResult& first_look);
  void UseNewText(PendingFile* file, const FileInfo& version,
                  NewText new_text);
  // Creates the temporary file, carrying all the file carries but its
  // bytes; on a failure none is left.
  Status CreateTemp(PendingFile* file, const FileInfo& like);
  // Whether `folder` is still where the walk found it, below the base.
  bool StillInTree(const std::shared_ptr<const Folder>& folder);
  void LeaveAlone(PendingFile* file);
  void PutInPlace(PendingFile* file);
  // Puts the durable temporary file in the file's place if the name still
  // holds the version that was read, untouched; otherwise nothing changes
  // and the reason is "changed during the run" or what the system said.
  Status SwapIn(PendingFile* file);
  // Where the system cannot swap two names: the old version goes into
  // the journal first, then the new text takes the name.
  Status MoveIn(PendingFile* file);
  // The old version, under the temporary name after the swap, goes into
  // the journal where it has a record there, else is removed.
  void LetGoOfOldVersion(PendingFile* file);
  void OldVersionLost(PendingFile* file, const Status& status);
  // Every way the text step can fail ends here: the temporary file goes,
  // the file stays as it was, and one failure entry is its list.
  void FailText(PendingFile* file, const Status& status);
  void PlanNewName(PendingFile* file);
  void Rename(PendingFile* file);
  // Whether the name `name` in `folder` is taken, in the tree as the
  // real run would have it by now.
  bool NameTaken(const Folder& folder, const std::string& name);
  void AddEntry(PendingFile* file, std::string entry);
  void AddFailure(PendingFile* file, std::string entry);
  void Unreadable(const std::string& path, const Status& status);

  const RunSettings& settings_;
  FileSystem* const file_system_;
  RunObserver* const observer_;
  ProblemCounts* const counts_;
  RunJournal* const journal_;  // null: none
  // How the find text is matched; made before the matcher, which holds
  // on to its find text.
  const MatchPlan plan_;
  const Matcher matcher_;
  const ScanSettings scan_settings_;
  std::vector<char> read_buffer_;  // reused for every file the walk reads
  // A dry run renames nothing, but a real run's renames take names and
  // free others for the files after them: by path, whether a name is
  // taken now. Holds the renamed files' names only.
  std::unordered_map<std::string, bool> dry_run_names_;
  std::shared_ptr<const Folder> base_;
  // The last folder checked, and whether it was still in the tree.
  std::shared_ptr<const Folder> checked_folder_;
  bool checked_in_tree_ = true;
  // Folders found moved out: left alone for the rest of the run.
  std::vector<std::shared_ptr<const Folder>> moved_out_;
};

// `text` with every occurrence of `find`, found left to right without
// overlap on character boundaries of `code_page`, replaced by `replace`.
std::string ReplaceAll(std::string text, const std::string& find,
                       const std::string& replace, const CodePage& code_page);

// `text` with every match of the plan's replaced, left to right, on the
// plan's own way: the literal one, or its pattern's with `text` taken as
// one line. A plan that cannot run changes nothing.
std::string ReplaceAll(std::string text, const MatchPlan& plan,
                       const CodePage& code_page);

}  // namespace vs
