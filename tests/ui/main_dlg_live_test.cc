// A run on a large generated tree while the window goes on answering:
// the event loop's pace during the run, Stop in the middle, and closing
// the dialog in the middle. After a stop every file is all old or all
// new, and the Files list holds exactly the files that are new.
#include <QElapsedTimer>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>

#include "res/resource.h"
#include "tests/temp_folder.h"
#include "tests/ui/dialog_probe.h"
#include "ui/main_dlg.h"

using namespace vs::ui;
using namespace vs::ui::test;

namespace {

// Small files, a few hundred a folder: tens of thousands to time the
// event loop by, fewer to stop (a run is stopped long before its end).
constexpr int kLargeTree = 20000;
constexpr int kSmallTree = 4000;
constexpr int kFilesPerFolder = 300;

std::string Folder(int n) { return "d" + std::to_string(n / kFilesPerFolder); }
std::string Name(const char* word, int n) {
  return Folder(n) + "/" + word + "-" + std::to_string(n) + ".txt";
}
std::string Text(const char* word, int n) {
  return "line " + std::to_string(n) + " " + word + "\n";
}

}  // namespace

class MainDlgLiveTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void windowAnswersDuringLargeRun();
  void stopMidRunLeavesEveryFileOldOrNew();
  void closingDuringRunStopsIt_data();
  void closingDuringRunStopsIt();

 private:
  // Writes a tree of `files` files "d*/old-N.txt".
  void MakeTree(int files);
  void StartRun();
  // Waits until the run has listed a first file, so that it is surely
  // under way and far from its end.
  void WaitForFirstFile();
  // Every file is old under its old name or new under its new name,
  // never both nor neither, and nothing else is in the tree. Returns the
  // paths as found of the new ones, sorted.
  QStringList NewFilesOnDisk();
  // The Files list is exactly the new files; returns how many.
  int CheckTreeMatchesList();
  QLabel* Status() {
    return qobject_cast<QLabel*>(m_dlg->GetDlgItem(IDC_STATUS));
  }

  std::unique_ptr<vs::test::TempFolder> m_stateHome;
  std::unique_ptr<vs::test::TempFolder> m_tree;
  std::unique_ptr<CMainDlg> m_dlg;
  int m_files = 0;  // in the tree as written
};

void MainDlgLiveTest::init() {
  m_stateHome = std::make_unique<vs::test::TempFolder>();
  qputenv("XDG_STATE_HOME", QByteArray::fromStdString(m_stateHome->path()));
  m_tree = std::make_unique<vs::test::TempFolder>();
  m_dlg = std::make_unique<CMainDlg>();
  m_dlg->show();
  QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
}

void MainDlgLiveTest::cleanup() {
  m_dlg.reset();
  m_tree.reset();
  qunsetenv("XDG_STATE_HOME");
  m_stateHome.reset();
}

void MainDlgLiveTest::MakeTree(int files) {
  m_files = files;
  for (int n = 0; n < files; ++n) m_tree->Write(Name("old", n), Text("old", n));
}

void MainDlgLiveTest::StartRun() {
  Edit(*m_dlg, IDC_BASE_DIR)->setText(QString::fromStdString(m_tree->path()));
  Edit(*m_dlg, IDC_FIND)->setText("old");
  Edit(*m_dlg, IDC_REPLACE)->setText("new");
  Click(Button(*m_dlg, IDC_START));
}

void MainDlgLiveTest::WaitForFirstFile() {
  QTRY_VERIFY_WITH_TIMEOUT(List(*m_dlg, IDC_FILES)->count() > 0 ||
                               !m_dlg->IsRunning(),
                           60000);
  QVERIFY2(m_dlg->IsRunning(), "the run ended before it could be stopped");
}

QStringList MainDlgLiveTest::NewFilesOnDisk() {
  QStringList expected;
  for (int n = 0; n < m_files; ++n) {
    const bool old_there = m_tree->Exists(Name("old", n));
    const bool new_there = m_tree->Exists(Name("new", n));
    if (old_there == new_there) {
      QTest::qFail(qPrintable(QString("file %1: old %2, new %3")
                                  .arg(n)
                                  .arg(old_there)
                                  .arg(new_there)),
                   __FILE__, __LINE__);
      return {};
    }
    const char* word = new_there ? "new" : "old";
    if (m_tree->Read(Name(word, n)) != Text(word, n)) {
      QTest::qFail(qPrintable(QString("file %1 is half done").arg(n)),
                   __FILE__, __LINE__);
      return {};
    }
    if (new_there)
      expected << QString::fromStdString(m_tree->Path(Name("old", n)));
  }
  std::sort(expected.begin(), expected.end());
  // Nothing left over: no temporary file beside any of them.
  const std::size_t entries = m_tree->Snapshot().size();
  const std::size_t folders = (m_files + kFilesPerFolder - 1) / kFilesPerFolder;
  if (entries != folders + m_files) {
    QTest::qFail(qPrintable(QString("%1 entries in the tree").arg(entries)),
                 __FILE__, __LINE__);
    return {};
  }
  return expected;
}

int MainDlgLiveTest::CheckTreeMatchesList() {
  const QStringList expected = NewFilesOnDisk();
  const QStringList listed = Texts(List(*m_dlg, IDC_FILES));
  if (listed != expected) {
    QTest::qFail(qPrintable(QString("%1 files listed, %2 new on the disk")
                                .arg(listed.size())
                                .arg(expected.size())),
                 __FILE__, __LINE__);
    return -1;
  }
  return int(expected.size());
}

// A timer on the dialog's thread keeps its pace all through the run, and
// the run still lists every file, sorted.
void MainDlgLiveTest::windowAnswersDuringLargeRun() {
  MakeTree(kLargeTree);
  QElapsedTimer clock;
  qint64 last = 0;
  qint64 longest = 0;
  QTimer pulse;
  pulse.setInterval(10);
  QObject::connect(&pulse, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    longest = std::max(longest, now - last);
    last = now;
  });

  StartRun();
  QVERIFY(m_dlg->IsRunning());
  QCOMPARE(Button(*m_dlg, IDC_START)->text(), QString("Stop"));
  QVERIFY2(QRegularExpression(R"(^\d+ files? looked at, \d+ changed$)")
               .match(Status()->text())
               .hasMatch(),
           qPrintable(Status()->text()));
  for (int id : {IDC_BASE_DIR, IDC_FIND, IDC_REPLACE, IDC_SUBFOLDERS,
                 IDC_CHANGE_FILE_NAMES, IDC_CHANGE_TEXT, IDC_BROWSE,
                 IDC_PREVIEW, IDC_UNDO, IDC_IGNORE_CASE, IDC_PRESERVE_CASE,
                 IDC_WHOLE_WORD, IDC_REGEX})
    QVERIFY2(!m_dlg->GetDlgItem(id)->isEnabled(), qPrintable(QString::number(id)));
  clock.start();
  pulse.start();
  VS_WAIT_FOR_RUN(*m_dlg);
  pulse.stop();

  QVERIFY2(longest <= 100, qPrintable(QString("%1 ms without a turn of the "
                                              "event loop").arg(longest)));
  QVERIFY2(clock.elapsed() > 200, "too quick a run to tell anything");
  QCOMPARE(Button(*m_dlg, IDC_START)->text(), QString("Start"));
  QVERIFY(m_dlg->GetDlgItem(IDC_FIND)->isEnabled());
  QCOMPARE(CheckTreeMatchesList(), kLargeTree);
}

void MainDlgLiveTest::stopMidRunLeavesEveryFileOldOrNew() {
  MakeTree(kSmallTree);
  StartRun();
  WaitForFirstFile();
  Click(Button(*m_dlg, IDC_START));  // reads Stop
  VS_WAIT_FOR_RUN(*m_dlg);

  const int changed = CheckTreeMatchesList();
  QVERIFY2(changed > 0 && changed < m_files,
           qPrintable(QString("%1 changed").arg(changed)));
  QCOMPARE(Button(*m_dlg, IDC_START)->text(), QString("Start"));
  QCOMPARE(Status()->text(),
           QString("Stopped: %1 files changed").arg(changed));

  // The next run is not stopped by the Stop of the last one: it does
  // the rest.
  Click(Button(*m_dlg, IDC_START));
  VS_WAIT_FOR_RUN(*m_dlg);
  QCOMPARE(NewFilesOnDisk().size(), m_files);
  QCOMPARE(List(*m_dlg, IDC_FILES)->count(), m_files - changed);
}

void MainDlgLiveTest::closingDuringRunStopsIt_data() {
  QTest::addColumn<QString>("how");
  QTest::addColumn<int>("result");
  QTest::newRow("OK") << "OK" << IDOK;
  QTest::newRow("Cancel") << "Cancel" << IDCANCEL;
  QTest::newRow("Escape") << "Escape" << IDCANCEL;
  QTest::newRow("close button") << "close button" << IDCANCEL;
}

// The dialog closes only once the run has stopped, and what the lists
// show then is what the disk holds.
void MainDlgLiveTest::closingDuringRunStopsIt() {
  QFETCH(QString, how);
  QFETCH(int, result);
  MakeTree(kSmallTree);
  StartRun();
  WaitForFirstFile();
  if (how == "OK") Click(Button(*m_dlg, IDOK));
  if (how == "Cancel") Click(Button(*m_dlg, IDCANCEL));
  if (how == "Escape") QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
  if (how == "close button") m_dlg->close();

  QVERIFY(!m_dlg->isVisible());
  QVERIFY(!m_dlg->IsRunning());
  QCOMPARE(m_dlg->result(), result);
  const int changed = CheckTreeMatchesList();
  QVERIFY2(changed > 0 && changed < m_files,
           qPrintable(QString("%1 changed").arg(changed)));
}

QTEST_MAIN(MainDlgLiveTest)
#include "main_dlg_live_test.moc"
