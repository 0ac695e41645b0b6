// The text step and the name step of one file, stage by stage (see
// FileStage): what a run does to each file, apart from when it does it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/line_pattern.h"
#include "engine/matcher.h"
#include "engine/pending_file.h"
#include "engine/run_observer.h"
#include "engine/run_settings.h"
#include "engine/scan_ahead.h"

namespace vs {

class FileSteps {
 public:
  // Every argument must outlive the steps. Problems are counted in
  // `counts` and told to `observer`.
  // Change lists share `spill_store` when it is not null.
  FileSteps(const RunSettings& settings, FileSystem* file_system,
            RunObserver* observer, ProblemCounts* counts,
            SpillStore* spill_store = nullptr);
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
  void Finish(PendingFile* file);
  // Drops whatever the file has written: its original stays as it was.
  void Discard(PendingFile* file);

 private:
  void PrepareText(PendingFile* file, std::optional<ScanResult> first_look);
  // Rewrites the file as it streams into a temporary file.
  void StreamText(PendingFile* file, const ScanResult& first_look);
  void UseNewText(PendingFile* file, const FileInfo& version,
                  NewText new_text);
  // Creates the temporary file, carrying all the file carries but its
  // bytes; on a failure none is left.
  Status CreateTemp(PendingFile* file, const FileInfo& like);
  void PutInPlace(PendingFile* file);
  // Every way the text step can fail ends here: the temporary file goes,
  // the file stays as it was, and one failure entry is its list.
  void FailText(PendingFile* file, const Status& status);
  void PlanNewName(PendingFile* file);
  void Rename(PendingFile* file);
  void AddEntry(PendingFile* file, std::string entry);
  void AddFailure(PendingFile* file, std::string entry);
  void Unreadable(const std::string& path, const Status& status);

  const RunSettings& settings_;
  FileSystem* const file_system_;
  RunObserver* const observer_;
  ProblemCounts* const counts_;
  // How the find text is matched; made before the matcher, which holds
  // on to its find text.
  const MatchPlan plan_;
  const Matcher matcher_;
  const ScanSettings scan_settings_;
  std::vector<char> read_buffer_;  // reused for every file the walk reads
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
