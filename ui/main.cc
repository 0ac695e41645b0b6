// vellumshaper: batch find-and-replace over a folder tree, in one dialog.
#include <QApplication>

#include "ui/main_dlg.h"

int main(int argc, char** argv) {
  // QApplication also takes the user's locale, whose character set the
  // engine works in.
  QApplication app(argc, argv);
  vs::ui::CMainDlg dialog;
  dialog.DoModal();
  return 0;
}
