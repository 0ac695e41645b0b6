// The main dialog: the run settings, Start, the Files list of the files a
// run changed and the Changes list of the selected file's changes.
//
// The dialog is the replace engine: the engine's settings and change log
// are its fields, and the engine adds the changed files to its Files
// list.
#pragma once

#include <QIcon>
#include <string>
#include <vector>

#include "engine/replace_engine.h"
#include "ui/dialog.h"
#include "ui/folder_picker.h"
#include "ui/list_box.h"

namespace vs::ui {

class CMainDlg : public CDialog, public CReplaceEngine {
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

  void AddToFilesList(const std::string& path) override;
  void ReportProblem(const std::string& message) override;

 private:
  void TellOfProblems();

  FolderPicker m_folderPicker = PickFolderWithPlatformDialog;
  std::vector<std::string> m_problemReports;  // of the latest run
};

}  // namespace vs::ui
