// Times one run of the main dialog, as a user's Start makes it: from the
// click until the run's last file is listed. Also tells the longest wait
// of the GUI thread's event loop during the run, the dialog's promise of
// a window that always answers.
//
//   vellumshaper_dialog_run BASE_DIR FIND REPLACE
//
// Prints "seconds files longest-wait-ms". The dialog keeps its undo
// journal as a user's run does (XDG_STATE_HOME chooses where).
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "res/resource.h"
#include "ui/main_dlg.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s BASE_DIR FIND REPLACE\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  vs::ui::CMainDlg dialog;
  dialog.show();
  const int fields[] = {IDC_BASE_DIR, IDC_FIND, IDC_REPLACE};
  for (int i = 0; i < 3; ++i)
    qobject_cast<QLineEdit*>(dialog.GetDlgItem(fields[i]))
        ->setText(QString::fromLocal8Bit(argv[i + 1]));

  // A timer that should fire every 10 ms: the gaps between its shots
  // are how long the event loop was kept from answering.
  QElapsedTimer since_tick;
  qint64 longest_wait = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    longest_wait = std::max(longest_wait, since_tick.restart());
  });

  QElapsedTimer clock;
  QTimer::singleShot(0, [&] {
    clock.start();
    since_tick.start();
    tick.start(10);
    qobject_cast<QAbstractButton*>(dialog.GetDlgItem(IDC_START))->click();
  });
  QTimer done;
  QObject::connect(&done, &QTimer::timeout, [&] {
    if (clock.isValid() && !dialog.IsRunning()) app.quit();
  });
  done.start(5);
  app.exec();
  const double seconds = clock.nsecsElapsed() / 1e9;
  std::printf("%.3f %d %lld\n", seconds, dialog.m_listFiles.GetCount(),
              static_cast<long long>(longest_wait));
  return 0;
}
