#include "ui/main_app.h"

#include "ui/main_dlg.h"

namespace vs::ui {

bool CMainApp::InitInstance() {
  // Qt's dialogs hold no embedded controls of other programs and draw
  // their controls in relief by themselves: there is nothing to turn on.
  CMainDlg dlg;
  m_pMainWnd = &dlg;
  // How the dialog ended makes no difference: the program ends.
  dlg.DoModal();
  return false;
}

bool CMainApp::OnCmdMsg(unsigned id) {
  if (id != ID_HELP) return CWinApp::OnCmdMsg(id);
  OnHelp();
  return true;
}

}  // namespace vs::ui
