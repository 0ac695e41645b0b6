#include "ui/main_dlg.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QMetaObject>
#include <QStringList>
#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>

#include "engine/change_entry.h"
#include "engine/line_pattern.h"
#include "engine/state_folder.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/local_text.h"
#include "ui/message_box.h"
#include "ui/system_menu.h"

namespace vs::ui {
namespace {

// A run that fails everywhere reports every file; the message shows the
// first few of them.
constexpr std::size_t kMaxReportsShown = 20;

// Files listed in one turn of the event loop: the window answers between
// turns even when a run tells of tens of thousands of files at once.
constexpr std::size_t kFilesListedPerTurn = 500;

// How often the status line shows a running run's counts.
constexpr int kProgressIntervalMs = 250;

// The controls that set up a run, disabled while one goes.
constexpr int kSetupControls[] = {
    IDC_BROWSE,  IDC_BASE_DIR,          IDC_SUBFOLDERS,    IDC_FIND,
    IDC_REPLACE, IDC_CHANGE_FILE_NAMES, IDC_CHANGE_TEXT,   IDC_PREVIEW,
    IDC_UNDO,    IDC_IGNORE_CASE,       IDC_PRESERVE_CASE, IDC_WHOLE_WORD,
    IDC_REGEX};

bool StartsWith(const std::string& text, std::string_view start) {
  return text.compare(0, start.size(), start) == 0;
}

// Whether a change of the file failed.
bool HasFailure(const ChangeList& changes) {
  for (const std::string& entry : changes)
    if (StartsWith(entry, kTextFailureStart) ||
        StartsWith(entry, kNameFailureStart) ||
        StartsWith(entry, kRestoreFailureStart) ||
        StartsWith(entry, kRestoreNameFailureStart))
      return true;
  return false;
}

QString Count(std::uint64_t n, const char* one, const char* many) {
  return QStringLiteral("%1 %2").arg(n).arg(
      QString::fromUtf8(n == 1 ? one : many));
}

}  // namespace

CMainDlg::CMainDlg(QWidget* parent, FileSystem* file_system)
    : CDialog(IDD_MAIN_DIALOG, parent),
      m_hIcon(LoadIconResource(IDR_MAINFRAME)),
      m_runEvents(this, [this] { RunHandler([this] { OnRunEvents(); }); }),
      m_engine(&m_runEvents, file_system),
      m_fileSystem(file_system) {
  MapClicked(IDC_BROWSE, &CMainDlg::OnBrowse);
  MapClicked(IDC_START, &CMainDlg::OnStart);
  MapClicked(IDC_PREVIEW, &CMainDlg::OnPreview);
  MapClicked(IDC_UNDO, &CMainDlg::OnUndo);
  MapClicked(IDC_IGNORE_CASE, &CMainDlg::OnIgnoreCase);
  MapSelChange(IDC_FILES, &CMainDlg::OnSelchangeFiles);
  m_progressTimer.setInterval(kProgressIntervalMs);
  connect(&m_progressTimer, &QTimer::timeout, this, &CMainDlg::ShowProgress);
}

CMainDlg::~CMainDlg() {
  if (m_undoLookup.joinable()) m_undoLookup.join();
  if (!m_running) return;
  m_stopPressed = true;
  RequestStopOfRun();
  m_worker.join();
}

void CMainDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_CHANGES, m_listChanges);
  DDX_Control(pDX, IDC_FILES, m_listFiles);
  DDX_Text(pDX, IDC_BASE_DIR, m_strBaseDir);
  DDX_Check(pDX, IDC_SUBFOLDERS, m_bSubFolders);
  DDX_Text(pDX, IDC_FIND, m_strFind);
  DDX_Text(pDX, IDC_REPLACE, m_strReplace);
  DDX_Check(pDX, IDC_CHANGE_FILE_NAMES, m_bChangeFileNames);
  DDX_Check(pDX, IDC_CHANGE_TEXT, m_bChangeText);
  DDX_Check(pDX, IDC_IGNORE_CASE, m_bIgnoreCase);
  DDX_Check(pDX, IDC_PRESERVE_CASE, m_bPreserveCase);
  DDX_Check(pDX, IDC_WHOLE_WORD, m_bWholeWord);
  DDX_Check(pDX, IDC_REGEX, m_bRegex);
}

bool CMainDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  if (QMenu* system_menu = GetSystemMenu()) {
    const QString about =
        QString::fromUtf8(res::LoadResourceString(IDS_ABOUTBOX));
    if (!about.isEmpty()) {
      system_menu->addSeparator();
      AppendSysCommand(system_menu, IDM_ABOUTBOX, about);
    }
  }
  // One icon with both images: the window manager takes the large one for
  // the task switcher and the small one for the caption.
  setWindowIcon(m_hIcon);
  ShowPreserveCaseUsable();
  ShowUndoable();
  return true;
}

void CMainDlg::OnSysCommand(unsigned id, qintptr param) {
  // The system keeps the four low bits of a command for itself.
  if ((id & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about(this);
    about.DoModal();
  } else {
    CDialog::OnSysCommand(id, param);
  }
}

void CMainDlg::OnBrowse() {
  // What was typed goes into the fields first, so that loading them
  // back below changes only Base Directory.
  UpdateData(true);
  const std::optional<QString> folder =
      m_folderPicker(this, QStringLiteral("Select the destination folder"));
  if (!folder) return;
  m_strBaseDir = ToLocalBytes(*folder);
  UpdateData(false);
}

void CMainDlg::OnIgnoreCase() { ShowPreserveCaseUsable(); }

void CMainDlg::OnOK() {
  FinishRunNow();
  CDialog::OnOK();
}

void CMainDlg::OnCancel() {
  FinishRunNow();
  CDialog::OnCancel();
}

void CMainDlg::OnStart() {
  if (m_running) {
    // The button reads Stop: the files begun are finished, each whole,
    // and the run ends as soon as they are.
    m_stopPressed = true;
    RequestStopOfRun();
    return;
  }
  StartRun(/*dry_run=*/false);
}

void CMainDlg::OnPreview() {
  if (!m_running) StartRun(/*dry_run=*/true);
}

void CMainDlg::StartRun(bool dry_run) {
  UpdateData(true);
  if (m_strBaseDir.empty()) {
    // The engine walks no folder without a name; say so rather than
    // finish a run that did nothing.
    ShowMessage(this, QStringLiteral("Enter the base directory to search."),
                QMessageBox::Information);
    return;
  }
  RunSettings settings = SettingsOfFields();
  settings.dry_run = dry_run;
  // Settings the engine cannot run (a regular expression that does not
  // compile, one a double-byte code page cannot take) would change
  // nothing: refused before anything is walked, as the command line does.
  const std::string bad_pattern = MatchingError(settings);
  if (!bad_pattern.empty()) {
    ShowMessage(this, ToQString(bad_pattern), QMessageBox::Warning);
    return;
  }
  // Never two runs in one tree at once. The dialog does not wait: it
  // would stop answering until the other run ends.
  RunLock::Options lock_options;
  lock_options.no_wait = true;
  const Status locked =
      RunLock::Take(m_strBaseDir, lock_options, &m_runLock);
  if (!locked.ok()) {
    ShowMessage(this, ToQString(locked.reason()), QMessageBox::Warning);
    return;
  }
  m_listFiles.ResetContent();
  m_problemReports.clear();
  m_runKind = dry_run ? RunKind::kPreview : RunKind::kRun;
  m_engine.set_settings(std::move(settings));
  // A Stop pressed just as the last run ended is still standing and
  // would stop this one at once; a run of no folder walks nothing and
  // clears it.
  if (m_engine.stop_requested()) m_engine.ProcessFolder(std::string());
  BeginRun([this, folder = m_strBaseDir] { ProcessFolder(folder); });
}

void CMainDlg::ShowUndoable() {
  if (QWidget* undo = GetDlgItem(IDC_UNDO)) undo->setEnabled(false);
  m_runToUndo.reset();
  if (m_running) return;
  // One lookup at a time; an earlier one reads at most one journal.
  if (m_undoLookup.joinable()) m_undoLookup.join();
  ++m_undoLookupsPending;
  m_undoLookup = std::thread([this, runs = RunsFolder()] {
    RunSummary run;
    bool latest_found = false, any_kept = false;
    const bool found = LatestRunToUndo(m_fileSystem, runs, &run,
                                       &latest_found, &any_kept)
                           .ok() &&
                       latest_found;
    // Posted events die with the dialog, which joins this thread first.
    QMetaObject::invokeMethod(
        this,
        [this, found, run = std::move(run)] {
          if (--m_undoLookupsPending > 0 || m_running || !found) return;
          m_runToUndo = run;
          if (QWidget* undo = GetDlgItem(IDC_UNDO)) undo->setEnabled(true);
        },
        Qt::QueuedConnection);
  });
}

void CMainDlg::OnUndo() {
  if (m_running || !m_runToUndo) return;
  const RunSummary run = *m_runToUndo;
  if (run.damaged()) {
    // Refused rather than passed over, so no older run is undone first.
    ShowMessage(this,
                QStringLiteral("The latest run cannot be undone: its journal "
                               "is damaged (%1).")
                    .arg(ToQString(run.damage)),
                QMessageBox::Warning);
    return;
  }
  const JournalHeader& header = run.header;
  QString when =
      QDateTime::fromSecsSinceEpoch(header.started).toString(Qt::ISODate);
  when.replace(QLatin1Char('T'), QLatin1Char(' '));
  const QString question =
      QStringLiteral("Undo the run of %1 in %2, %3 \u2192 %4, which changed "
                     "the text of %5 and renamed %6?")
          .arg(when, ToQString(header.base_dir), ToQString(header.find),
               ToQString(header.replace),
               Count(run.files_changed, "file", "files"),
               Count(run.files_renamed, "file", "files"));
  QMessageBox confirm(QMessageBox::Question,
                      QCoreApplication::applicationName(), question,
                      QMessageBox::Yes | QMessageBox::No, this);
  confirm.setDefaultButton(QMessageBox::No);
  if (confirm.exec() != QMessageBox::Yes) return;

  RunLock::Options lock_options;
  lock_options.no_wait = true;
  const Status locked =
      RunLock::Take(header.base_dir, lock_options, &m_runLock);
  if (!locked.ok()) {
    ShowMessage(this, ToQString(locked.reason()), QMessageBox::Warning);
    return;
  }
  m_listFiles.ResetContent();
  m_problemReports.clear();
  m_runKind = RunKind::kUndo;
  m_undo = std::make_unique<UndoRun>(&m_runEvents, m_fileSystem);
  m_undoStatus = Status();
  BeginRun([this, runs = RunsFolder(), id = run.id] {
    m_undoStatus = m_undo->Undo(runs, id, /*dry_run=*/false);
  });
}

void CMainDlg::RequestStopOfRun() {
  if (m_runKind == RunKind::kUndo && m_undo)
    m_undo->RequestStop();
  else
    m_engine.RequestStop();
}

void CMainDlg::BeginRun(std::function<void()> work) {
  m_runEvents.Reset();
  m_arrived.clear();
  m_arrivedDone = 0;
  m_walkEnded = false;
  m_filesChanged = 0;
  m_filesFailed = 0;
  m_stopPressed = false;
  ShowRunning(true);
  m_runClock.start();
  ShowProgress();
  m_progressTimer.start();
  m_worker = std::thread([this, work = std::move(work)] {
    work();
    m_runEvents.RunEnded();
  });
}

void CMainDlg::OnRunEvents() {
  if (!m_running) return;  // a call posted before the run was finished
  TakeRunEvents();
  ListArrivedFiles(kFilesListedPerTurn);
  if (m_arrivedDone < m_arrived.size()) {
    // The rest in the next turn, after whatever else waits.
    QMetaObject::invokeMethod(
        this, [this] { RunHandler([this] { OnRunEvents(); }); },
        Qt::QueuedConnection);
  } else if (m_walkEnded) {
    EndRun(/*tell=*/true);
  }
}

void CMainDlg::TakeRunEvents() {
  RunEvents::Batch batch = m_runEvents.Take();
  for (const Problem& problem : batch.problems) OnProblem(problem);
  if (m_arrivedDone == m_arrived.size()) {
    m_arrived.clear();
    m_arrivedDone = 0;
  }
  for (RunEvents::ChangedFile& file : batch.files)
    m_arrived.push_back(std::move(file));
  if (batch.run_ended) m_walkEnded = true;
}

void CMainDlg::ListArrivedFiles(std::size_t limit) {
  const std::size_t end = std::min(m_arrived.size(), m_arrivedDone + limit);
  std::vector<std::string> paths;
  paths.reserve(end - m_arrivedDone);
  for (; m_arrivedDone < end; ++m_arrivedDone) {
    RunEvents::ChangedFile& file = m_arrived[m_arrivedDone];
    ++(HasFailure(file.changes) ? m_filesFailed : m_filesChanged);
    m_changeLog.Record(file.path, std::move(file.changes));
    paths.push_back(std::move(file.path));
  }
  m_listFiles.AddStrings(paths);
}

void CMainDlg::FinishRunNow() {
  if (!m_running) return;
  m_stopPressed = true;
  RequestStopOfRun();
  m_worker.join();
  // The worker told its last before it ended: list everything, so that
  // the lists match the disk when the dialog closes.
  TakeRunEvents();
  ListArrivedFiles(m_arrived.size());
  EndRun(/*tell=*/false);
}

void CMainDlg::EndRun(bool tell) {
  // The worker's last act was to say the walk ended.
  if (m_worker.joinable()) m_worker.join();
  m_runLock.reset();
  m_arrived.clear();
  m_arrivedDone = 0;
  m_progressTimer.stop();
  ShowRunning(false);
  ShowRunEnding();
  if (m_runKind == RunKind::kUndo) {
    if (tell && !m_undoStatus.ok())
      ShowMessage(this, ToQString(m_undoStatus.reason()),
                  QMessageBox::Warning);
    else if (tell && !m_undo->mark_failure().empty())
      ShowMessage(this, ToQString(m_undo->mark_failure()),
                  QMessageBox::Warning);
  } else if (tell && m_engine.problems().any()) {
    TellOfProblems();
  }
  ShowUndoable();
}

void CMainDlg::ShowRunning(bool running) {
  m_running = running;
  if (auto* start = qobject_cast<QAbstractButton*>(GetDlgItem(IDC_START)))
    start->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
  for (int id : kSetupControls)
    if (QWidget* control = GetDlgItem(id)) control->setEnabled(!running);
  ShowPreserveCaseUsable();
}

void CMainDlg::ShowPreserveCaseUsable() {
  auto* ignore_case =
      qobject_cast<QAbstractButton*>(GetDlgItem(IDC_IGNORE_CASE));
  if (QWidget* preserve_case = GetDlgItem(IDC_PRESERVE_CASE))
    preserve_case->setEnabled(!m_running && ignore_case &&
                              ignore_case->isChecked());
}

void CMainDlg::ShowProgress() {
  if (m_runKind == RunKind::kUndo) {
    SetStatus(Count(m_filesChanged + m_filesFailed, "file", "files") +
              QStringLiteral(" undone so far"));
    return;
  }
  const RunProgress progress = m_runEvents.progress();
  SetStatus(QStringLiteral("%1 looked at, %2 changed")
                .arg(Count(progress.files_looked_at, "file", "files"))
                .arg(progress.files_changed));
}

void CMainDlg::ShowRunEnding() {
  if (m_runKind == RunKind::kUndo) {
    if (!m_undoStatus.ok()) {
      SetStatus(QStringLiteral("Nothing was undone."));
      return;
    }
    QString text = Count(m_filesChanged, "file", "files") +
                   QStringLiteral(" restored");
    if (m_filesFailed > 0)
      text += QStringLiteral(", %1 could not be").arg(m_filesFailed);
    SetStatus((m_stopPressed ? QStringLiteral("Stopped: ")
                             : QStringLiteral("Undone: ")) +
              text);
    return;
  }
  const ProblemCounts& problems = m_engine.problems();
  if (m_runKind == RunKind::kPreview) {
    QString text = Count(m_filesChanged, "file", "files") +
                   QStringLiteral(" would change");
    if (m_filesFailed > 0)
      text += QStringLiteral(", %1 would fail").arg(m_filesFailed);
    text += QStringLiteral(". Nothing was written.");
    SetStatus((m_stopPressed ? QStringLiteral("Stopped: ")
                             : QStringLiteral("Preview: ")) +
              text);
    return;
  }
  QString text = Count(m_filesChanged, "file", "files") +
                 QStringLiteral(" changed");
  if (m_filesFailed > 0)
    text += QStringLiteral(", %1 failed,").arg(m_filesFailed);
  if (m_stopPressed || problems.out_of_memory || problems.journal) {
    text = QStringLiteral("Stopped: ") + text;
    if (text.endsWith(QLatin1Char(','))) text.chop(1);
  } else {
    const double seconds = double(m_runClock.elapsed()) / 1000.0;
    text += QStringLiteral(" in %1 s").arg(seconds, 0, 'f', 1);
  }
  SetStatus(text);
}

void CMainDlg::SetStatus(const QString& text) {
  if (auto* status = qobject_cast<QLabel*>(GetDlgItem(IDC_STATUS)))
    status->setText(text);
}

RunSettings CMainDlg::SettingsOfFields() const {
  RunSettings settings;
  settings.base_dir = m_strBaseDir;
  settings.find = m_strFind;
  settings.replace = m_strReplace;
  settings.sub_folders = m_bSubFolders != 0;
  settings.change_names = m_bChangeFileNames != 0;
  settings.change_text = m_bChangeText != 0;
  settings.modes.ignore_case = m_bIgnoreCase != 0;
  // Greyed out without Ignore Case, Preserve Case keeps its check mark
  // for when Ignore Case comes back, but does nothing.
  settings.modes.preserve_case = m_bIgnoreCase != 0 && m_bPreserveCase != 0;
  settings.modes.whole_word = m_bWholeWord != 0;
  settings.modes.regex = m_bRegex != 0;
  // Every run keeps its undo journal in the user's state folder.
  settings.state_folder = StateFolder();
  return settings;
}

void CMainDlg::OnSelchangeFiles() {
  const int selected = m_listFiles.GetCurSel();
  const std::string path =
      (selected != CListBox::LB_ERR && m_listFiles.GetCount() > 0)
          ? m_listFiles.GetText(selected)
          : std::string();
  m_listChanges.ResetContent();
  for (const std::string& entry : m_changeLog.LookUp(path))
    m_listChanges.AddString(entry);
}

void CMainDlg::OnProblem(const Problem& problem) {
  if (m_problemReports.size() < kMaxReportsShown)
    m_problemReports.push_back(problem.Describe());
}

void CMainDlg::TellOfProblems() {
  const ProblemCounts& problems = m_engine.problems();
  QStringList lines;
  if (problems.out_of_memory)
    lines << QStringLiteral(
        "Out of memory: the run stopped. The files listed were changed; "
        "no other file was.");
  if (problems.unlisted_folders > 0)
    lines << Count(problems.unlisted_folders, "folder", "folders") +
                 QStringLiteral(" could not be read.");
  if (problems.unreadable_files > 0)
    lines << Count(problems.unreadable_files, "file", "files") +
                 QStringLiteral(" could not be read.");
  if (problems.moved_folders > 0)
    lines << Count(problems.moved_folders, "folder was", "folders were") +
                 QStringLiteral(" moved out of the base folder during the "
                                "run and left alone.");
  if (problems.journal)
    lines << QStringLiteral(
        "The undo journal could not be written: the run stopped before "
        "any change it could not record.");
  if (problems.old_texts_lost > 0)
    lines << Count(problems.old_texts_lost, "file", "files") +
                 QStringLiteral(" changed cannot be undone: the old text "
                                "could not be kept.");
  if (problems.failure_entries > 0)
    lines << Count(problems.failure_entries, "change", "changes") +
                 QStringLiteral(
                     " failed; the Changes list of each file "
                     "in the Files list says which.");
  QStringList details;
  for (const std::string& report : m_problemReports)
    details << ToQString(report);
  ShowMessage(this, lines.join(QLatin1Char('\n')), QMessageBox::Warning,
              details.join(QLatin1Char('\n')));
}

}  // namespace vs::ui
