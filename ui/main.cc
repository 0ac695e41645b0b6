// vellumshaper: batch find-and-replace over a folder tree, in one dialog.
// It takes no command-line arguments of its own.
#include <QApplication>

#include "engine/prepare_process.h"
#include "ui/main_app.h"

// The one application object, made before main runs.
vs::ui::CMainApp theApp;

int main(int argc, char** argv) {
  // Before any thread starts, Qt's own included.
  vs::PrepareProcessForRuns();
  // QApplication also takes the user's locale, whose character set the
  // engine works in.
  QApplication qt(argc, argv);
  QApplication::setApplicationVersion(QStringLiteral(VS_VERSION));
  // Under Wayland the desktop entry gives the task bar its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("vellumshaper"));
  return vs::ui::AfxWinMain();
}
