// The program's start-up: the names taken from the executable, the main
// dialog run modally as the application's main window, and the end of
// start-up however the dialog is closed.
#include "ui/main_app.h"

#include <QDir>
#include <QTest>
#include <memory>
#include <vector>

#include "res/resource.h"
#include "tests/temp_folder.h"
#include "tests/ui/dialog_probe.h"
#include "tests/ui/modal_answer.h"
#include "ui/main_dlg.h"

using namespace vs::ui;
using namespace vs::ui::test;

namespace {

// What the main dialog showed while it ran.
struct MainSeen {
  bool is_main_dialog = false;
  bool modal = false;
  bool main_window = false;
  QWidget* owner = nullptr;
  QString title;
  QList<QSize> icon_sizes;
  int focused = 0;
};

MainSeen Look(QWidget* modal, const CWinApp& app) {
  MainSeen seen;
  auto* dialog = qobject_cast<CMainDlg*>(modal);
  seen.is_main_dialog = dialog != nullptr;
  seen.modal = modal->isModal() && modal->isVisible();
  seen.main_window = dialog && app.m_pMainWnd == dialog;
  seen.owner = modal->parentWidget();
  seen.title = modal->windowTitle();
  seen.icon_sizes = modal->windowIcon().availableSizes();
  if (dialog) seen.focused = FocusedId(*dialog, {IDOK, IDCANCEL, IDC_FIND});
  return seen;
}

// Sets an environment variable for as long as it lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const QString& value)
      : m_name(name),
        m_wasSet(qEnvironmentVariableIsSet(name)),
        m_old(qgetenv(name)) {
    qputenv(name, value.toLocal8Bit());
  }
  ~ScopedEnv() {
    if (m_wasSet)
      qputenv(m_name, m_old);
    else
      qunsetenv(m_name);
  }

 private:
  const char* m_name;
  bool m_wasSet;
  QByteArray m_old;
};

int MainDialogsAlive() {
  int alive = 0;
  for (QWidget* widget : QApplication::allWidgets())
    if (qobject_cast<CMainDlg*>(widget)) ++alive;
  return alive;
}

}  // namespace

class MainAppTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void namesFollowTheExecutable_data();
  void namesFollowTheExecutable();
  void startUpShowsTheMainDialog();
  void anyWayOfClosingEndsStartUp_data();
  void anyWayOfClosingEndsStartUp();
  void startUpStoresNothing();

 private:
  std::unique_ptr<CMainApp> m_app;
};

void MainAppTest::init() { m_app = std::make_unique<CMainApp>(); }

void MainAppTest::cleanup() { m_app.reset(); }

void MainAppTest::namesFollowTheExecutable_data() {
  QTest::addColumn<QString>("exe");
  QTest::addColumn<QString>("appName");
  QTest::addColumn<QString>("helpFile");
  QTest::newRow("installed") << "/usr/bin/vellumshaper"
                             << "vellumshaper"
                             << "/usr/bin/vellumshaper.HLP";
  QTest::newRow("extension replaced") << "/opt/vs/vellumshaper.exe"
                                      << "vellumshaper"
                                      << "/opt/vs/vellumshaper.HLP";
  QTest::newRow("last extension only") << "/opt/vs/vellum.shaper.bin"
                                       << "vellum.shaper"
                                       << "/opt/vs/vellum.shaper.HLP";
  QTest::newRow("dot in a folder's name") << "/home/me/v1.0/vellumshaper"
                                          << "vellumshaper"
                                          << "/home/me/v1.0/vellumshaper.HLP";
}

void MainAppTest::namesFollowTheExecutable() {
  QFETCH(QString, exe);
  QFETCH(QString, appName);
  QFETCH(QString, helpFile);
  QCOMPARE(AppNameFor(exe), appName);
  QCOMPARE(HelpFilePathFor(exe), helpFile);
}

void MainAppTest::startUpShowsTheMainDialog() {
  MainSeen seen;
  ModalAnswer answer([&](QWidget* modal) {
    QVERIFY(QTest::qWaitForWindowActive(modal));
    seen = Look(modal, *m_app);
  });
  AfxWinMain();

  QVERIFY(answer.answered());
  QVERIFY(seen.is_main_dialog);
  QVERIFY(seen.modal);
  QVERIFY(seen.main_window);
  QCOMPARE(seen.owner, nullptr);
  QCOMPARE(seen.title, QString("Vellumshaper"));
  QVERIFY(seen.icon_sizes.contains(QSize(16, 16)));
  QVERIFY(seen.icon_sizes.contains(QSize(32, 32)));
  QCOMPARE(seen.focused, IDOK);

  QCOMPARE(QCoreApplication::applicationName(), QString("main_app_test"));
  QCOMPARE(m_app->m_strHelpFilePath,
           QCoreApplication::applicationFilePath() + ".HLP");
}

void MainAppTest::anyWayOfClosingEndsStartUp_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("OK") << "OK";
  QTest::newRow("Cancel") << "Cancel";
  QTest::newRow("Escape") << "Escape";
  QTest::newRow("Enter in Find What") << "Enter";
  QTest::newRow("close button") << "close button";
  QTest::newRow("system menu Close") << "Close";
}

void MainAppTest::anyWayOfClosingEndsStartUp() {
  QFETCH(QString, how);
  bool closed = false;
  ModalAnswer answer([&](QWidget* modal) {
    auto* dialog = qobject_cast<CMainDlg*>(modal);
    QVERIFY(dialog);
    if (how == "OK") Click(Button(*dialog, IDOK));
    if (how == "Cancel") Click(Button(*dialog, IDCANCEL));
    if (how == "Escape") QTest::keyClick(dialog, Qt::Key_Escape);
    if (how == "Enter") {
      QLineEdit* find = Edit(*dialog, IDC_FIND);
      find->setFocus();
      QTest::keyClicks(find, "old");
      QTest::keyClick(find, Qt::Key_Return);
    }
    if (how == "close button") dialog->close();
    if (how == "Close") dialog->GetSystemMenu()->actions().first()->trigger();
    closed = !dialog->isVisible();
  });

  QCOMPARE(m_app->InitInstance(), false);
  QVERIFY(answer.answered());
  QVERIFY(closed);
  // The dialog, and the change log with it, is gone; no window is left.
  QCOMPARE(m_app->m_pMainWnd, nullptr);
  QCOMPARE(MainDialogsAlive(), 0);
  QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

// A run of the program reads and writes no settings: the places where
// settings and program data live stay empty.
void MainAppTest::startUpStoresNothing() {
  vs::test::TempFolder home;
  std::vector<std::unique_ptr<ScopedEnv>> env;
  for (const char* variable :
       {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) {
    const QString folder = QString::fromStdString(home.Path(variable));
    QVERIFY(QDir().mkpath(folder));
    env.push_back(std::make_unique<ScopedEnv>(variable, folder));
  }

  ModalAnswer answer([](QWidget* modal) {
    auto* dialog = qobject_cast<CMainDlg*>(modal);
    QVERIFY(dialog);
    Edit(*dialog, IDC_FIND)->setText("old");
    CheckBox(*dialog, IDC_SUBFOLDERS)->setChecked(false);
    Click(Button(*dialog, IDOK));
  });
  AfxWinMain();

  QVERIFY(answer.answered());
  for (const auto& [path, content] : home.Snapshot())
    QVERIFY2(content == "<dir>", qPrintable(QString::fromStdString(path)));
}

QTEST_MAIN(MainAppTest)
#include "main_app_test.moc"
