#include "ui/win_app.h"

#include <QApplication>
#include <QFileInfo>

#include "ui/message_box.h"

namespace vs::ui {
namespace {

CWinApp* g_currentApp = nullptr;

}  // namespace

CWinApp::CWinApp() { g_currentApp = this; }

CWinApp::~CWinApp() {
  if (g_currentApp == this) g_currentApp = nullptr;
}

bool CWinApp::OnCmdMsg(unsigned) { return false; }

void CWinApp::OnHelp() {
  // The nearest dialog up from the focused widget; the parent of an
  // owned dialog, such as the About box, is its owner.
  for (QWidget* widget = QApplication::focusWidget(); widget;
       widget = widget->parentWidget()) {
    if (auto* dialog = qobject_cast<CDialog*>(widget))
      return WinHelp(dialog->HelpTopic());
  }
  if (m_pMainWnd) WinHelp(m_pMainWnd->HelpTopic());
}

void CWinApp::WinHelp(unsigned data, unsigned command) {
  if (m_helpViewer(m_strHelpFilePath, command, data)) return;
  QWidget* owner = QApplication::activeModalWidget();
  ShowMessage(owner ? owner : m_pMainWnd.data(),
              QStringLiteral("Failed to launch help."), QMessageBox::Warning);
}

CWinApp* AfxGetApp() { return g_currentApp; }

int AfxWinMain() {
  CWinApp* app = AfxGetApp();
  if (!app) return 1;
  // POSIX has no system error boxes to turn off: a failed file call only
  // returns its error.
  const QString exe = QCoreApplication::applicationFilePath();
  QCoreApplication::setApplicationName(AppNameFor(exe));
  app->m_strHelpFilePath = HelpFilePathFor(exe);

  if (app->InitInstance()) return QApplication::exec();
  // Nothing is stored on the way out; the exit code means nothing.
  return 0;
}

QString AppNameFor(const QString& exe_path) {
  return QFileInfo(exe_path).completeBaseName();
}

QString HelpFilePathFor(const QString& exe_path) {
  const QFileInfo exe(exe_path);
  return exe.path() + QLatin1Char('/') + exe.completeBaseName() +
         QStringLiteral(".HLP");
}

}  // namespace vs::ui
