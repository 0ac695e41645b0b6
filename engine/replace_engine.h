// The replace engine: walks a folder, replaces the find text in file text
// and file names, and records what it changed in the change log.
//
// A front end derives from CReplaceEngine: it owns the run settings and
// the change log through it, gets ProcessFolder, ChangeFileText and
// ReplaceText as its own operations, and supplies the one thing the
// engine needs of it, AddToFilesList.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/change_log.h"
#include "engine/code_page.h"
#include "engine/file_system.h"
#include "engine/scan_ahead.h"

namespace vs {

class CommitBatch;

class CReplaceEngine {
 public:
  // `file_system` is not owned and must outlive the engine.
  explicit CReplaceEngine(FileSystem* file_system = RealFileSystem());
  virtual ~CReplaceEngine();

  CReplaceEngine(const CReplaceEngine&) = delete;
  CReplaceEngine& operator=(const CReplaceEngine&) = delete;

  // Walks `folder`: every file in it (and in its subfolders when
  // m_bSubFolders is on) goes through the text step and the name step,
  // is recorded in m_changeLog, and is added to the Files list when it
  // changed or a change of it failed. An empty folder text is refused:
  // nothing is walked.
  void ProcessFolder(const std::string& folder);

  // Replaces the find text in the lines of the file `path`. Appends a
  // "Line %i: %s" entry to `changes` for every changed line and returns
  // true when a line changed. When the file could not be rewritten the
  // line entries are replaced by one "Failed to change Text (%s)" entry,
  // the file is left as it was, and the result is still true.
  bool ChangeFileText(const std::string& path, ChangeList& changes);

  // `text` with every occurrence of m_strFind, found left to right
  // without overlap, replaced by m_strReplace.
  std::string ReplaceText(std::string text) const;

  // What went wrong in the runs so far; front ends reset it per run.
  struct Problems {
    int unlisted_folders = 0;  // a listing failed, at its start or later
    int unreadable_files = 0;  // a file's text could not be read
    int failure_entries = 0;   // "Failed to change ..." entries recorded
    bool any() const {
      return unlisted_folders + unreadable_files + failure_entries > 0;
    }
  };

  // The run settings. Flags are nonzero for on.
  std::string m_strBaseDir;
  int m_bSubFolders = 1;
  std::string m_strFind;
  std::string m_strReplace;
  int m_bChangeFileNames = 1;
  int m_bChangeText = 1;
  // Not a setting of the dialog: work out and record every change, but
  // write nothing.
  int m_bDryRun = 0;
  CodePage m_codePage = CodePage::FromLocale();
  // Threads that list folders and read and search files ahead of the
  // walk, which takes on that work too rather than wait for them; what a
  // run does is the same with any number of them, and with none the walk
  // does it all itself.
  unsigned m_scanThreads;

  ChangeLog m_changeLog;
  Problems m_problems;

 protected:
  // Adds a changed file's path as found to the Files list.
  virtual void AddToFilesList(const std::string& path) = 0;
  // Tells the user of a folder or file that could not be read, with the
  // system's reason. Does nothing unless a front end has a place for it.
  virtual void ReportProblem(const std::string& message);

 private:
  friend class CommitBatch;
  struct PendingFile;

  void WalkFolder(ScanAhead::ListedFolder& listed, ScanAhead* scan_ahead,
                  CommitBatch* batch);
  void WalkSubfolder(ScanAhead::ListedFolder& parent, std::size_t index,
                     ScanAhead* scan_ahead, CommitBatch* batch);
  void ListingFailed(const std::string& path, const Status& status);
  PendingFile ProcessFile(const Folder& folder, const FolderEntry& entry,
                          std::optional<ScanResult> first_look);

  // The text step, in three stages: PrepareText takes a first look at
  // the file (unless `first_look` was taken already) and, when a line
  // changes, writes the new text to a temporary file beside it, or keeps
  // the one the first look worked out in memory; SyncText writes that
  // out, if need be, and makes the file durable; FinishText puts it in
  // the file's place unless the file changed meanwhile. A failure at any
  // stage leaves the file as it was.
  void PrepareText(PendingFile* file, std::optional<ScanResult> first_look);
  void SyncText(PendingFile* file);
  // What SyncText does once the file was flushed (and closed).
  void TextSynced(PendingFile* file, const Status& status);
  // SyncText's own work, which touches only the file's temporary file
  // and may run on another thread: writes a new text still in memory to
  // a new temporary file, then flushes and closes that.
  Status MakeTextDurable(PendingFile* file);
  void FinishText(PendingFile* file);
  // The first look at a file the scan ahead did not look at.
  ScanResult FirstLook(const PendingFile& file);
  // Takes the new text the first look worked out, to be written out when
  // it is made durable.
  void UseNewText(PendingFile* file, const FileInfo& version,
                  NewText new_text);
  Status CreateTemp(PendingFile* file, const FileInfo& like);
  void FailText(PendingFile* file, const Status& status);
  void DiscardTemp(PendingFile* file);

  // The name step: planned with the text step, carried out after it.
  void PlanNewName(PendingFile* file);
  void FinishName(PendingFile* file);

  // Finishes both steps, records the file and lists it if it changed.
  void Finish(PendingFile* file);
  void AddEntry(PendingFile* file, std::string entry);
  void AddFailure(PendingFile* file, std::string entry);
  void Unreadable(const std::string& path, const Status& status);
  bool NothingToReplace() const;

  FileSystem* m_fileSystem;
  std::vector<char> m_readBuffer;  // one per engine, reused for every file
};

}  // namespace vs
