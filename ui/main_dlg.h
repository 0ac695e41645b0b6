// The main dialog: the run settings, Start, the Files list of the files a
// run changed and the Changes list of the selected file's changes.
//
// The dialog holds a replace engine: Start hands it the settings the
// data exchange filled, and the engine tells the dialog of every changed
// file, which goes into the dialog's change log and its Files list.
#pragma once

#include <QIcon>
#include <string>
#include <vector>

#include "engine/replace_engine.h"
#include "ui/dialog.h"
#include "ui/folder_picker.h"
#include "ui/list_box.h"

namespace vs::ui {

class CMainDlg : public CDialog, private RunObserver {
  Q_OBJECT

 public:
  // `file_system` is not owned and must outlive the dialog.
  explicit CMainDlg(QWidget* parent = nullptr,
                    FileSystem* file_system = RealFileSystem());

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

  // The changes of every file the runs so far listed, by path as found.
  ChangeLog m_changeLog;

 protected:
  QIcon m_hIcon;  // IDR_MAINFRAME, large and small

  void DoDataExchange(CDataExchange* pDX) override;
  bool OnInitDialog() override;
  void OnSysCommand(unsigned id, qintptr param) override;
  // The icon shown while the minimised window is dragged. The window
  // manager draws minimised and dragged windows from the window icon
  // itself, so nothing on this platform asks for it.
  QIcon OnQueryDragIcon() const { return m_hIcon; }
  void OnBrowse();
  void OnStart();
  void OnSelchangeFiles();

  // The engine's operations, run with the settings of the latest Start.
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
  // What the engine tells of a run.
  void OnFileChanged(const std::string& path,
                     const ChangeList& changes) override;
  void OnProblem(const Problem& problem) override;

  RunSettings SettingsOfFields() const;
  void TellOfProblems();

  ReplaceEngine m_engine;

  FolderPicker m_folderPicker = PickFolderWithPlatformDialog;
  std::vector<std::string> m_problemReports;  // of the latest run
};

}  // namespace vs::ui
