// The main dialog: the run settings, Start, the Files list of the files a
// run changed and the Changes list of the selected file's changes.
//
// The dialog holds a replace engine: Start hands it the settings the
// data exchange filled and runs it on a worker thread, so the window
// answers all through a run. The engine tells of every changed file; the
// news comes over to the dialog's thread in batches and goes into the
// dialog's change log and its Files list as the run goes. While a run
// goes Start reads "Stop" and asks the engine to stop, and the controls
// that set up a run are disabled; OK, Cancel and the close button first
// stop the run and wait for it.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/replace_engine.h"
#include "engine/past_runs.h"
#include "engine/run_lock.h"
#include "engine/undo_run.h"
#include "ui/dialog.h"
#include "ui/folder_picker.h"
#include "ui/list_box.h"
#include "ui/run_events.h"

namespace vs::ui {

class CMainDlg : public CDialog {
  Q_OBJECT

 public:
  // `file_system` is not owned and must outlive the dialog.
  explicit CMainDlg(QWidget* parent = nullptr,
                    FileSystem* file_system = RealFileSystem());
  // Stops a run still going and waits for it.
  ~CMainDlg() override;

  // From the click of Start until the run's last file is listed.
  bool IsRunning() const { return m_running; }
  // Whether the run Undo would undo is still being looked for.
  bool IsFindingRunToUndo() const { return m_undoLookupsPending > 0; }

  // Replaces the folder picker that Browse shows.
  void SetFolderPicker(FolderPicker picker) {
    m_folderPicker = std::move(picker);
  }

  CListBox m_listChanges;  // IDC_CHANGES
  CListBox m_listFiles;    // IDC_FILES

  // The run settings, as the data exchange fills them. Flags are nonzero
  // for on.
  std::string m_strBaseDir;
  int m_bSubFolders = 1;
  std::string m_strFind;
  std::string m_strReplace;
  int m_bChangeFileNames = 1;
  int m_bChangeText = 1;
  // How Find What is matched; all clear matches it byte for byte.
  int m_bIgnoreCase = 0;
  int m_bPreserveCase = 0;  // taken only with m_bIgnoreCase
  int m_bWholeWord = 0;
  int m_bRegex = 0;

  // The changes of every file the runs so far listed, by path as found.
  ChangeLog m_changeLog;

 protected:
  QIcon m_hIcon;  // IDR_MAINFRAME, large and small

  void DoDataExchange(CDataExchange* pDX) override;
  bool OnInitDialog() override;
  void OnSysCommand(unsigned id, qintptr param) override;
  // Both stop a run first and wait for it to end.
  void OnOK() override;
  void OnCancel() override;
  // The icon shown while the minimised window is dragged. The window
  // manager draws minimised and dragged windows from the window icon
  // itself, so nothing on this platform asks for it.
  QIcon OnQueryDragIcon() const { return m_hIcon; }
  void OnBrowse();
  void OnStart();
  // A dry run of the settings shown: the lists show what Start would do.
  void OnPreview();
  // Undoes the latest run not undone yet, once the user confirms it.
  void OnUndo();
  void OnIgnoreCase();
  void OnSelchangeFiles();

  // The engine's operations, run with the settings of the latest Start.
  // ProcessFolder runs on the worker thread; the other two are not for
  // use while a run goes.
  void ProcessFolder(const std::string& folder) {
    m_engine.ProcessFolder(folder);
  }
  bool ChangeFileText(const std::string& path, ChangeList& changes) {
    return m_engine.ChangeFileText(path, changes);
  }
  std::string ReplaceText(std::string text) const {
    return m_engine.ReplaceText(std::move(text));
  }

 private:
  RunSettings SettingsOfFields() const;
  // Start and Preview: the settings shown, run for real or not.
  void StartRun(bool dry_run);
  // Starts `work` on the worker thread; it ends by saying so to
  // m_runEvents.
  void BeginRun(std::function<void()> work);
  // Asks whatever runs on the worker to stop.
  void RequestStopOfRun();
  // Looks for the run Undo would undo, off the GUI thread: a large run's
  // journal takes a while to read. Undo is disabled until it is found,
  // and stays so while a run goes or when there is none.
  void ShowUndoable();
  // A batch of the run's news waits: takes it, and lists what arrived.
  void OnRunEvents();
  void TakeRunEvents();
  // Records and lists up to `limit` of the files that arrived.
  void ListArrivedFiles(std::size_t limit);
  void OnProblem(const Problem& problem);
  // Asks the run to stop, waits for it, lists all it told and ends it.
  void FinishRunNow();
  // The worker is done and every file listed: the dialog takes a new run
  // again; with `tell`, problems are told in a message.
  void EndRun(bool tell);
  // Start or Stop, and the setup controls enabled or not.
  void ShowRunning(bool running);
  // Preserve Case enabled when Ignore Case is checked and nothing runs.
  void ShowPreserveCaseUsable();
  // The status line: the run's counts as it goes, then how it ended.
  void ShowProgress();
  void ShowRunEnding();
  void SetStatus(const QString& text);
  void TellOfProblems();

  // Hears the engine on the worker thread; declared before the engine
  // that holds it.
  RunEvents m_runEvents;
  ReplaceEngine m_engine;
  std::thread m_worker;  // runs ProcessFolder, then ends
  // Keeps other runs out of the tree while this one goes.
  std::unique_ptr<RunLock> m_runLock;
  bool m_running = false;
  bool m_walkEnded = false;  // the worker said the walk is over
  // Files told and not yet listed, from m_arrivedDone on.
  std::vector<RunEvents::ChangedFile> m_arrived;
  std::size_t m_arrivedDone = 0;
  // Of the files listed in this run: changed, and a change of which
  // failed.
  std::uint64_t m_filesChanged = 0;
  std::uint64_t m_filesFailed = 0;
  bool m_stopPressed = false;
  // What the worker runs: a run, a Preview or an Undo.
  enum class RunKind { kRun, kPreview, kUndo } m_runKind = RunKind::kRun;
  FileSystem* const m_fileSystem;
  // The undo on the worker, while one goes; and how it ended.
  std::unique_ptr<UndoRun> m_undo;
  Status m_undoStatus;
  // The latest lookup of the run to undo, and the lookups whose answer
  // has not arrived yet; only the latest one's answer counts.
  std::thread m_undoLookup;
  int m_undoLookupsPending = 0;
  std::optional<RunSummary> m_runToUndo;  // as the latest lookup found it
  QElapsedTimer m_runClock;
  QTimer m_progressTimer;  // shows the counts while a run goes

  FolderPicker m_folderPicker = PickFolderWithPlatformDialog;
  std::vector<std::string> m_problemReports;  // of the latest run
};

}  // namespace vs::ui
