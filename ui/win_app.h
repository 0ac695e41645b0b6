// The application object: the program's one instance of a class derived
// from CWinApp. It names the application and its help file, runs the
// program's InitInstance, and answers commands that no window handles,
// such as ID_HELP.
#pragma once

#include <QPointer>
#include <QString>

#include "ui/dialog.h"
#include "ui/help_viewer.h"

namespace vs::ui {

// The command that asks for help on what has the focus.
inline constexpr unsigned ID_HELP = 0xE146;

class CWinApp {
 public:
  // The object constructed last is the current application.
  CWinApp();
  virtual ~CWinApp();

  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The program's own start-up. True enters the application's message
  // loop; false ends the program.
  virtual bool InitInstance() = 0;

  // Handles the command `id`; false when nothing here handles it.
  virtual bool OnCmdMsg(unsigned id);

  // Asks the dialog that holds the focus for its help topic and shows it.
  void OnHelp();
  // Asks the help viewer for `data` of the help file as `command` says;
  // tells the user when no viewer could be started.
  void WinHelp(unsigned data, unsigned command = HELP_CONTEXT);

  // Replaces the viewer that WinHelp asks.
  void SetHelpViewer(HelpViewer viewer) { m_helpViewer = std::move(viewer); }

  // The application's main window; null once that dialog is destroyed.
  QPointer<CDialog> m_pMainWnd;
  // The executable's path with the extension ".HLP".
  QString m_strHelpFilePath;

 private:
  HelpViewer m_helpViewer = OpenHelpInDesktopViewer;
};

// The current application object, or null.
CWinApp* AfxGetApp();

// The program's start, once QApplication exists: names the application
// and its help file after the executable, then runs the current
// application's InitInstance. Returns the process's exit code.
int AfxWinMain();

// Named after the executable `exe_path`: the application (the file name
// without its extension) and the help file (the path with the extension
// ".HLP").
QString AppNameFor(const QString& exe_path);
QString HelpFilePathFor(const QString& exe_path);

}  // namespace vs::ui
