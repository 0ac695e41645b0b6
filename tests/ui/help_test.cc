// F1 in either dialog: the request that reaches the help viewer, the
// message when no viewer can be started, and the help pages that the
// requests stand for.
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>
#include <memory>
#include <vector>

#include "res/resource.h"
#include "tests/temp_folder.h"
#include "tests/ui/dialog_probe.h"
#include "tests/ui/modal_answer.h"
#include "ui/about_dlg.h"
#include "ui/help_viewer.h"
#include "ui/main_app.h"
#include "ui/main_dlg.h"

using namespace vs::ui;
using namespace vs::ui::test;

namespace {

struct HelpRequest {
  QString help_file;
  unsigned command;
  unsigned data;
};

// Stands in for the desktop's launcher of files.
class FileLauncher : public QObject {
  Q_OBJECT

 public:
  FileLauncher() { QDesktopServices::setUrlHandler("file", this, "Open"); }
  ~FileLauncher() override { QDesktopServices::unsetUrlHandler("file"); }

  QList<QUrl> opened;

 public slots:
  void Open(const QUrl& url) { opened << url; }
};

QString ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readAll());
}

// The help file of the program as built; the build puts the help pages
// where the program looks for them.
QString BuiltHelpFile() {
  return QStringLiteral(VS_PROGRAM_DIR "/vellumshaper.HLP");
}

}  // namespace

class HelpTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void f1AsksForTheFocusedDialogsTopic_data();
  void f1AsksForTheFocusedDialogsTopic();
  void viewerThatCannotStartIsTold_data();
  void viewerThatCannotStartIsTold();
  void helpPageFollowsTheHelpFile_data();
  void helpPageFollowsTheHelpFile();
  void everyTopicLeadsToItsSection_data();
  void everyTopicLeadsToItsSection();
  void desktopViewerOpensOnlyInstalledPages_data();
  void desktopViewerOpensOnlyInstalledPages();

 private:
  // Starts the program; `in_dialog` runs in the main dialog, or in the
  // About box opened from it when `in_about_box`. Then everything closes.
  void Run(bool in_about_box, const std::function<void(CDialog*)>& in_dialog);

  std::unique_ptr<CMainApp> m_app;
  std::vector<HelpRequest> m_requests;
  bool m_viewerStarts = true;
};

void HelpTest::init() {
  m_requests.clear();
  m_viewerStarts = true;
  m_app = std::make_unique<CMainApp>();
  m_app->SetHelpViewer(
      [this](const QString& help_file, unsigned command, unsigned data) {
        m_requests.push_back({help_file, command, data});
        return m_viewerStarts;
      });
}

void HelpTest::cleanup() { m_app.reset(); }

void HelpTest::Run(bool in_about_box,
                   const std::function<void(CDialog*)>& in_dialog) {
  bool reached = false;
  ModalAnswer main_answer([&](QWidget* modal) {
    auto* main = qobject_cast<CMainDlg*>(modal);
    QVERIFY(main);
    QVERIFY(QTest::qWaitForWindowActive(main));
    if (!in_about_box) {
      reached = true;
      in_dialog(main);
      return;
    }
    ModalAnswer about_answer([&](QWidget* box) {
      auto* about = qobject_cast<CAboutDlg*>(box);
      QVERIFY(about);
      QVERIFY(QTest::qWaitForWindowActive(about));
      reached = true;
      in_dialog(about);
    });
    main->GetSystemMenu()->actions().last()->trigger();
    QVERIFY(about_answer.answered());
  });
  AfxWinMain();
  QVERIFY(main_answer.answered());
  QVERIFY(reached);
}

void HelpTest::f1AsksForTheFocusedDialogsTopic_data() {
  QTest::addColumn<bool>("inAboutBox");
  QTest::addColumn<int>("focus");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<uint>("topic");  // 0: no request

  const int none = Qt::NoModifier;
  QTest::newRow("main, OK") << false << IDOK << none << 0x20066u;
  QTest::newRow("main, Find What") << false << IDC_FIND << none << 0x20066u;
  QTest::newRow("main, Files") << false << IDC_FILES << none << 0x20066u;
  QTest::newRow("main, check box")
      << false << IDC_SUBFOLDERS << none << 0x20066u;
  QTest::newRow("main, Shift+F1")
      << false << IDC_FIND << int(Qt::ShiftModifier) << 0u;
  QTest::newRow("main, Ctrl+F1")
      << false << IDC_FIND << int(Qt::ControlModifier) << 0u;
  QTest::newRow("main, Alt+F1")
      << false << IDC_FIND << int(Qt::AltModifier) << 0u;
  QTest::newRow("About box, OK") << true << IDOK << none << 0x20064u;
  QTest::newRow("About box, Ctrl+F1")
      << true << IDOK << int(Qt::ControlModifier) << 0u;
}

void HelpTest::f1AsksForTheFocusedDialogsTopic() {
  QFETCH(bool, inAboutBox);
  QFETCH(int, focus);
  QFETCH(int, modifiers);
  QFETCH(uint, topic);
  bool still_open = false;
  Run(inAboutBox, [&](CDialog* dialog) {
    QWidget* control = dialog->GetDlgItem(focus);
    control->setFocus();
    QTest::keyClick(control, Qt::Key_F1, Qt::KeyboardModifiers(modifiers));
    still_open = dialog->isVisible();
  });

  QVERIFY(still_open);
  if (topic == 0) {
    QCOMPARE(m_requests.size(), std::size_t(0));
    return;
  }
  QCOMPARE(m_requests.size(), std::size_t(1));
  QCOMPARE(m_requests[0].help_file,
           QCoreApplication::applicationFilePath() + ".HLP");
  QCOMPARE(m_requests[0].command, HELP_CONTEXT);
  QCOMPARE(m_requests[0].data, topic);
}

void HelpTest::viewerThatCannotStartIsTold_data() {
  QTest::addColumn<bool>("inAboutBox");
  QTest::newRow("main dialog") << false;
  QTest::newRow("About box") << true;
}

void HelpTest::viewerThatCannotStartIsTold() {
  QFETCH(bool, inAboutBox);
  m_viewerStarts = false;
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool still_open = false;
  Run(inAboutBox, [&](CDialog* dialog) {
    ModalAnswer box_answer([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      QVERIFY(box);
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
    });
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
    QVERIFY(box_answer.answered());
    still_open = dialog->isVisible();
  });

  QCOMPARE(m_requests.size(), std::size_t(1));
  QCOMPARE(text, QString("Failed to launch help."));
  QCOMPARE(icon, QMessageBox::Warning);
  QCOMPARE(title, QString("help_test"));
  QVERIFY(still_open);
}

void HelpTest::helpPageFollowsTheHelpFile_data() {
  QTest::addColumn<QString>("helpFile");
  QTest::addColumn<uint>("command");
  QTest::addColumn<uint>("data");
  QTest::addColumn<QString>("page");
  QTest::newRow("main dialog's topic")
      << "/opt/vs/bin/vellumshaper.HLP" << HELP_CONTEXT << 0x20066u
      << "/opt/vs/share/doc/vellumshaper/vellumshaper-20066.html";
  QTest::newRow("About box's topic")
      << "/usr/bin/vellumshaper.HLP" << HELP_CONTEXT << 0x20064u
      << "/usr/share/doc/vellumshaper/vellumshaper-20064.html";
  QTest::newRow("not a topic: the whole document")
      << "/usr/bin/vellumshaper.HLP" << 3u << 0u
      << "/usr/share/doc/vellumshaper/vellumshaper.html";
  QTest::newRow("program renamed")
      << "/usr/bin/vs.HLP" << HELP_CONTEXT << 0x20066u
      << "/usr/share/doc/vellumshaper/vs-20066.html";
  QTest::newRow("dot in a folder's name")
      << "/home/me/v1.0/bin/vellumshaper.HLP" << HELP_CONTEXT << 0x20066u
      << "/home/me/v1.0/share/doc/vellumshaper/vellumshaper-20066.html";
}

void HelpTest::helpPageFollowsTheHelpFile() {
  QFETCH(QString, helpFile);
  QFETCH(uint, command);
  QFETCH(uint, data);
  QFETCH(QString, page);
  QCOMPARE(HelpPageFor(helpFile, command, data), page);
}

void HelpTest::everyTopicLeadsToItsSection_data() {
  QTest::addColumn<uint>("topic");
  QTest::newRow("main dialog") << 0x20066u;
  QTest::newRow("About box") << 0x20064u;
}

// The page for each topic that F1 asks for leads to a section of the
// document that exists.
void HelpTest::everyTopicLeadsToItsSection() {
  QFETCH(uint, topic);
  const QFileInfo page(HelpPageFor(BuiltHelpFile(), HELP_CONTEXT, topic));
  const QString forwarding = ReadAll(page.filePath());
  QVERIFY2(!forwarding.isEmpty(), qPrintable(page.filePath()));

  const QRegularExpressionMatch target =
      QRegularExpression(R"re(url=([^"#]+)#([^"]+)")re").match(forwarding);
  QVERIFY(target.hasMatch());
  QCOMPARE(target.captured(2), "topic-" + QString::number(topic, 16));
  const QString document = ReadAll(page.dir().filePath(target.captured(1)));
  QVERIFY(document.contains("<html"));
  QVERIFY(document.contains(QString(R"(id="%1")").arg(target.captured(2))));
}

void HelpTest::desktopViewerOpensOnlyInstalledPages_data() {
  QTest::addColumn<bool>("installed");
  QTest::newRow("installed") << true;
  QTest::newRow("missing") << false;
}

// With no help installed beside it, the program says that help could not
// be launched rather than start a launcher that fails unseen.
void HelpTest::desktopViewerOpensOnlyInstalledPages() {
  QFETCH(bool, installed);
  vs::test::TempFolder nowhere;
  const QString help_file =
      installed ? BuiltHelpFile()
                : QString::fromStdString(nowhere.Path("bin/vellumshaper.HLP"));
  FileLauncher launcher;

  const bool started =
      OpenHelpInDesktopViewer(help_file, HELP_CONTEXT, 0x20066);

  QCOMPARE(started, installed);
  if (!installed) {
    QCOMPARE(launcher.opened.size(), 0);
    return;
  }
  QCOMPARE(launcher.opened, QList<QUrl>{QUrl::fromLocalFile(HelpPageFor(
                                help_file, HELP_CONTEXT, 0x20066))});
}

QTEST_MAIN(HelpTest)
#include "help_test.moc"
