#include "ui/main_dlg.h"

#include <QStringList>
#include <memory>

#include "engine/run_lock.h"
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

QString Count(int n, const char* one, const char* many) {
  return QStringLiteral("%1 %2").arg(n).arg(
      QString::fromUtf8(n == 1 ? one : many));
}

}  // namespace

CMainDlg::CMainDlg(QWidget* parent, FileSystem* file_system)
    : CDialog(IDD_MAIN_DIALOG, parent),
      m_hIcon(LoadIconResource(IDR_MAINFRAME)),
      m_engine(this, file_system) {
  MapClicked(IDC_BROWSE, &CMainDlg::OnBrowse);
  MapClicked(IDC_START, &CMainDlg::OnStart);
  MapSelChange(IDC_FILES, &CMainDlg::OnSelchangeFiles);
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
  const std::optional<QString> folder =
      m_folderPicker(this, QStringLiteral("Select the destination folder"));
  if (!folder) return;
  m_strBaseDir = ToLocalBytes(*folder);
  UpdateData(false);
}

void CMainDlg::OnStart() {
  UpdateData(true);
  if (m_strBaseDir.empty()) {
    // The engine walks no folder without a name; say so rather than
    // finish a run that did nothing.
    ShowMessage(this, QStringLiteral("Enter the base directory to search."),
                QMessageBox::Information);
    return;
  }
  // Never two runs in one tree at once. The dialog does not wait: it
  // would stop answering until the other run ends.
  std::unique_ptr<RunLock> lock;
  RunLock::Options lock_options;
  lock_options.no_wait = true;
  const Status locked = RunLock::Take(m_strBaseDir, lock_options, &lock);
  if (!locked.ok()) {
    ShowMessage(this, ToQString(locked.reason()), QMessageBox::Warning);
    return;
  }
  m_listFiles.ResetContent();
  m_problemReports.clear();
  m_engine.set_settings(SettingsOfFields());
  ProcessFolder(m_strBaseDir);
  if (m_engine.problems().any()) TellOfProblems();
}

RunSettings CMainDlg::SettingsOfFields() const {
  RunSettings settings;
  settings.base_dir = m_strBaseDir;
  settings.find = m_strFind;
  settings.replace = m_strReplace;
  settings.sub_folders = m_bSubFolders != 0;
  settings.change_names = m_bChangeFileNames != 0;
  settings.change_text = m_bChangeText != 0;
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

void CMainDlg::OnFileChanged(const std::string& path,
                             const ChangeList& changes) {
  m_changeLog.Record(path, changes);
  m_listFiles.AddString(path);
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
