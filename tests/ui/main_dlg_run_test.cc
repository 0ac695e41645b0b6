// Start and the Files selection on real temporary trees: the sorted Files
// list, a selected file's entries, what a second run keeps, and what the
// dialog tells the user when a run cannot go as asked.
#include <QLabel>
#include <QAbstractButton>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include <new>
#include <thread>

#include "engine/past_runs.h"
#include "engine/run_lock.h"
#include "res/resource.h"
#include "tests/fault_file_system.h"
#include "tests/temp_folder.h"
#include "tests/ui/dialog_probe.h"
#include "tests/ui/modal_answer.h"
#include "ui/main_dlg.h"

using namespace vs::ui;
using namespace vs::ui::test;
using vs::test::FaultFileSystem;

namespace {

// What a message box showed.
struct Message {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

Message Read(QWidget* modal) {
  auto* box = qobject_cast<QMessageBox*>(modal);
  if (!box) return {modal->windowTitle(), "(not a message box)", {}};
  return {box->windowTitle(), box->text(), box->icon()};
}

}  // namespace

class MainDlgRunTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void startListsChangedFilesSorted();
  void selectionShowsEntriesSorted();
  void secondStartKeepsChangesUntilSelection();
  void nameInvalidInDisplayEncodingFindsItsEntries();
  void emptyBaseDirectoryRunsNothing();
  void runProblemsAreTold();
  void anotherRunInTheTreeIsTold();
  void outOfMemoryInHandlerIsToldAndDialogGoesOn();
  void previewWritesNothingAndListsWhatStartDoes();
  void undoAfterConfirmationRestoresTheTree();
  void statusLineTellsHowRunEnded_data();
  void statusLineTellsHowRunEnded();
  void matchModesReachTheRun_data();
  void matchModesReachTheRun();
  void patternThatCannotRunIsRefused_data();
  void patternThatCannotRunIsRefused();
  void matchModesAreDisabledWhileRunGoes();

 private:
  void Open(vs::FileSystem* file_system = vs::RealFileSystem());
  void Start(const std::string& base, const QString& find,
             const QString& replace);
  QString P(const std::string& relative) {
    return QString::fromStdString(m_tree->Path(relative));
  }

  std::unique_ptr<vs::test::TempFolder> m_tree;  // new for each test
  // The state folder's home for each test: the undo journals of its
  // runs go there, never into the real home.
  std::unique_ptr<vs::test::TempFolder> m_stateHome;
  std::unique_ptr<CMainDlg> m_dlg;
};

void MainDlgRunTest::init() {
  m_stateHome = std::make_unique<vs::test::TempFolder>();
  qputenv("XDG_STATE_HOME", QByteArray::fromStdString(m_stateHome->path()));
  m_tree = std::make_unique<vs::test::TempFolder>();
  m_tree->Write("sub/z.txt", "old\n");
  m_tree->Write("sub.txt", "old\n");
  m_tree->Write("A.txt", "nothing to change\n");
  m_tree->Write("old-notes.txt", "a\nold\nold old\nb\nc\nd\ne\nf\ng\nold\n");
}

void MainDlgRunTest::cleanup() {
  m_dlg.reset();
  m_tree.reset();
  qunsetenv("XDG_STATE_HOME");
  m_stateHome.reset();
}

void MainDlgRunTest::Open(vs::FileSystem* file_system) {
  m_dlg = std::make_unique<CMainDlg>(nullptr, file_system);
  m_dlg->show();
  QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
}

void MainDlgRunTest::Start(const std::string& base, const QString& find,
                           const QString& replace) {
  Edit(*m_dlg, IDC_BASE_DIR)->setText(QString::fromLocal8Bit(base.c_str()));
  Edit(*m_dlg, IDC_FIND)->setText(find);
  Edit(*m_dlg, IDC_REPLACE)->setText(replace);
  Click(Button(*m_dlg, IDC_START));
  VS_WAIT_FOR_RUN(*m_dlg);
}

// The list sorts the paths itself: the walk meets sub/z.txt before
// sub.txt, the list shows them the other way round.
void MainDlgRunTest::startListsChangedFilesSorted() {
  Open();
  Start(m_tree->path(), "old", "new");
  QCOMPARE(Texts(List(*m_dlg, IDC_FILES)),
           (QStringList{P("old-notes.txt"), P("sub.txt"), P("sub/z.txt")}));
  QVERIFY(m_tree->Exists("new-notes.txt"));
  QCOMPARE(m_tree->Read("sub/z.txt").substr(0, 3), std::string("new"));
}

void MainDlgRunTest::selectionShowsEntriesSorted() {
  Open();
  Start(m_tree->path(), "old", "new");
  ClickItem(List(*m_dlg, IDC_FILES), P("old-notes.txt"));
  // The name entry above the line entries, and line 10 above line 2.
  QCOMPARE(Texts(List(*m_dlg, IDC_CHANGES)),
           (QStringList{"Changed File Name to: new-notes.txt", "Line 10: new",
                        "Line 2: new", "Line 3: new new"}));

  ClickItem(List(*m_dlg, IDC_FILES), P("sub.txt"));
  QCOMPARE(Texts(List(*m_dlg, IDC_CHANGES)), QStringList{"Line 1: new"});
}

void MainDlgRunTest::secondStartKeepsChangesUntilSelection() {
  Open();
  Start(m_tree->path(), "old", "new");
  ClickItem(List(*m_dlg, IDC_FILES), P("sub.txt"));
  const QStringList shown = Texts(List(*m_dlg, IDC_CHANGES));

  m_tree->Write("later.txt", "new\n");
  Start(m_tree->path(), "new", "newer");

  QCOMPARE(Texts(List(*m_dlg, IDC_FILES)),
           (QStringList{P("later.txt"), P("new-notes.txt"), P("sub.txt"),
                        P("sub/z.txt")}));
  QCOMPARE(Texts(List(*m_dlg, IDC_CHANGES)), shown);

  ClickItem(List(*m_dlg, IDC_FILES), P("later.txt"));
  QCOMPARE(Texts(List(*m_dlg, IDC_CHANGES)), QStringList{"Line 1: newer"});
}

// "caf\xE9" is not UTF-8: the list shows a stand-in character, yet the
// item still finds the entries recorded under the name's bytes.
void MainDlgRunTest::nameInvalidInDisplayEncodingFindsItsEntries() {
  vs::test::TempFolder tree;
  tree.Write("caf\xE9.txt", "old\n");
  Open();
  CheckBox(*m_dlg, IDC_CHANGE_FILE_NAMES)->setChecked(false);
  Start(tree.path(), "old", "new");

  QListWidget* files = List(*m_dlg, IDC_FILES);
  QCOMPARE(files->count(), 1);
  QVERIFY(files->item(0)->text().contains(QChar::ReplacementCharacter));
  ClickItem(files, files->item(0)->text());
  QCOMPARE(Texts(List(*m_dlg, IDC_CHANGES)), QStringList{"Line 1: new"});
}

void MainDlgRunTest::emptyBaseDirectoryRunsNothing() {
  FaultFileSystem file_system;
  Open(&file_system);
  Start(m_tree->path(), "old", "new");
  const QStringList listed = Texts(List(*m_dlg, IDC_FILES));
  const std::size_t calls = file_system.calls().size();

  Message message;
  ModalAnswer answer([&](QWidget* box) { message = Read(box); });
  Start("", "nothing", "new");

  QVERIFY(answer.answered());
  QCOMPARE(message.icon, QMessageBox::Information);
  QVERIFY2(message.text.contains("base directory"), qPrintable(message.text));
  QCOMPARE(file_system.calls().size(), calls);  // no file touched
  QCOMPARE(Texts(List(*m_dlg, IDC_FILES)), listed);
  QVERIFY(m_dlg->isVisible());
}

void MainDlgRunTest::runProblemsAreTold() {
  FaultFileSystem file_system;
  file_system.FailAlways(FaultFileSystem::Op::kListFolder, "/sub",
                         FaultFileSystem::IoError());
  Open(&file_system);

  Message message;
  ModalAnswer answer([&](QWidget* box) { message = Read(box); });
  Start(m_tree->path(), "old", "new");

  QVERIFY(answer.answered());
  QCOMPARE(message.icon, QMessageBox::Warning);
  QVERIFY2(message.text.contains("1 folder could not be read"),
           qPrintable(message.text));
  // The rest of the tree was done all the same.
  QCOMPARE(Texts(List(*m_dlg, IDC_FILES)),
           (QStringList{P("old-notes.txt"), P("sub.txt")}));
}

// The dialog never waits for another run in its tree, which would leave
// it frozen: it says so and runs nothing.
void MainDlgRunTest::anotherRunInTheTreeIsTold() {
  vs::test::TempFolder state;
  qputenv("XDG_STATE_HOME", QByteArray::fromStdString(state.path()));
  std::unique_ptr<vs::RunLock> other;
  QVERIFY(vs::RunLock::Take(m_tree->path(), {}, &other).ok());
  Open();

  Message message;
  ModalAnswer answer([&](QWidget* box) { message = Read(box); });
  Start(m_tree->Path("sub"), "old", "new");
  qunsetenv("XDG_STATE_HOME");

  QVERIFY(answer.answered());
  QCOMPARE(message.icon, QMessageBox::Warning);
  QCOMPARE(message.text,
           QString("another run is working in this tree (pid %1)")
               .arg(QCoreApplication::applicationPid()));
  QCOMPARE(List(*m_dlg, IDC_FILES)->count(), 0);
  QCOMPARE(m_tree->Read("sub/z.txt"), std::string("old\n"));
}

// Memory running out inside a handler (here while Browse asks for a
// folder) ends that handler with a message; the dialog then goes on.
void MainDlgRunTest::outOfMemoryInHandlerIsToldAndDialogGoesOn() {
  Open();
  m_dlg->SetFolderPicker(
      [](QWidget*, const QString&) -> std::optional<QString> {
        throw std::bad_alloc();
      });
  Message message;
  ModalAnswer answer([&](QWidget* box) { message = Read(box); });
  Click(Button(*m_dlg, IDC_BROWSE));

  QVERIFY(answer.answered());
  QCOMPARE(message.text, QString("Out of memory."));
  QCOMPARE(message.icon, QMessageBox::Warning);
  QCOMPARE(message.title, QCoreApplication::applicationName());
  QVERIFY(m_dlg->isVisible());

  m_dlg->SetFolderPicker(
      [](QWidget*, const QString&) -> std::optional<QString> {
        return QString("/picked");
      });
  Click(Button(*m_dlg, IDC_BROWSE));
  QCOMPARE(Edit(*m_dlg, IDC_BASE_DIR)->text(), QString("/picked"));
}

// Every entry of the tree, each file with its content and its
// modification time.
std::map<std::string, std::string> SnapshotWithTimes(
    const vs::test::TempFolder& tree) {
  std::map<std::string, std::string> snapshot = tree.Snapshot();
  for (auto& [relative, content] : snapshot) {
    if (content == "<dir>") continue;  // renames inside change its time
    struct stat info;
    if (lstat(tree.Path(relative).c_str(), &info) != 0) continue;
    content += " @" + std::to_string(info.st_mtim.tv_sec) + "." +
               std::to_string(info.st_mtim.tv_nsec);
  }
  return snapshot;
}

void MainDlgRunTest::previewWritesNothingAndListsWhatStartDoes() {
  Open();
  Edit(*m_dlg, IDC_BASE_DIR)->setText(QString::fromStdString(m_tree->path()));
  Edit(*m_dlg, IDC_FIND)->setText("old");
  Edit(*m_dlg, IDC_REPLACE)->setText("new");
  const auto before = SnapshotWithTimes(*m_tree);

  Click(Button(*m_dlg, IDC_PREVIEW));
  VS_WAIT_FOR_RUN(*m_dlg);

  QCOMPARE(SnapshotWithTimes(*m_tree), before);
  std::vector<vs::RunSummary> runs;  // no undo journal either
  QVERIFY(vs::ListRuns(vs::RealFileSystem(), vs::RunsFolder(), &runs).ok());
  QCOMPARE(runs.size(), 0u);
  QCOMPARE(qobject_cast<QLabel*>(m_dlg->GetDlgItem(IDC_STATUS))->text(),
           QString("Preview: 3 files would change. Nothing was written."));
  const QStringList previewed = Texts(List(*m_dlg, IDC_FILES));
  ClickItem(List(*m_dlg, IDC_FILES), P("old-notes.txt"));
  const QStringList previewedChanges = Texts(List(*m_dlg, IDC_CHANGES));

  Click(Button(*m_dlg, IDC_START));
  VS_WAIT_FOR_RUN(*m_dlg);
  QCOMPARE(Texts(List(*m_dlg, IDC_FILES)), previewed);
  ClickItem(List(*m_dlg, IDC_FILES), P("sub.txt"));
  ClickItem(List(*m_dlg, IDC_FILES), P("old-notes.txt"));
  QCOMPARE(Texts(List(*m_dlg, IDC_CHANGES)), previewedChanges);
  QVERIFY(m_tree->Exists("new-notes.txt"));
  QVERIFY(vs::ListRuns(vs::RealFileSystem(), vs::RunsFolder(), &runs).ok());
  QCOMPARE(runs.size(), 1u);
}

// Undo names the run it will undo, does nothing when the user says No,
// and restores the tree when they say Yes; then there is nothing left to
// undo.
void MainDlgRunTest::undoAfterConfirmationRestoresTheTree() {
  const auto before = SnapshotWithTimes(*m_tree);
  Open();
  QTRY_VERIFY(!m_dlg->IsFindingRunToUndo());
  QVERIFY(!Button(*m_dlg, IDC_UNDO)->isEnabled());
  Start(m_tree->path(), "old", "new");
  QTRY_VERIFY(Button(*m_dlg, IDC_UNDO)->isEnabled());
  const auto after_run = m_tree->Snapshot();

  QString question;
  {
    ModalAnswer no([&](QWidget* box) {
      question = qobject_cast<QMessageBox*>(box)->text();
      QTest::keyClick(box, Qt::Key_Escape);
    });
    Click(Button(*m_dlg, IDC_UNDO));
    QVERIFY(no.answered());
  }
  QVERIFY2(question.contains(QString::fromStdString(m_tree->path())) &&
               question.contains(QString::fromUtf8("old \u2192 new")) &&
               question.contains("the text of 3 files and renamed 1 file?"),
           qPrintable(question));
  QCOMPARE(m_tree->Snapshot(), after_run);

  ModalAnswer yes([](QWidget* box) {
    auto* message = qobject_cast<QMessageBox*>(box);
    message->button(QMessageBox::Yes)->click();
  });
  Click(Button(*m_dlg, IDC_UNDO));
  VS_WAIT_FOR_RUN(*m_dlg);
  QVERIFY(yes.answered());

  QCOMPARE(SnapshotWithTimes(*m_tree), before);
  QCOMPARE(qobject_cast<QLabel*>(m_dlg->GetDlgItem(IDC_STATUS))->text(),
           QString("Undone: 3 files restored"));
  QCOMPARE(List(*m_dlg, IDC_FILES)->count(), 3);
  QTRY_VERIFY(!m_dlg->IsFindingRunToUndo());
  QVERIFY(!Button(*m_dlg, IDC_UNDO)->isEnabled());
}

void MainDlgRunTest::statusLineTellsHowRunEnded_data() {
  QTest::addColumn<bool>("failRename");
  QTest::addColumn<QString>("ending");  // a regular expression
  QTest::newRow("all changed")
      << false << R"(^3 files changed in \d+\.\d s$)";
  QTest::newRow("a rename failed")
      << true << R"(^2 files changed, 1 failed, in \d+\.\d s$)";
}

void MainDlgRunTest::statusLineTellsHowRunEnded() {
  QFETCH(bool, failRename);
  QFETCH(QString, ending);
  FaultFileSystem file_system;
  if (failRename)
    file_system.FailAlways(FaultFileSystem::Op::kRenameNoReplace,
                           "old-notes.txt", FaultFileSystem::IoError());
  Open(&file_system);
  auto* status = qobject_cast<QLabel*>(m_dlg->GetDlgItem(IDC_STATUS));
  QVERIFY(status);
  QCOMPARE(status->text(), QString());

  ModalAnswer answer([](QWidget*) {});  // the failure's message
  Start(m_tree->path(), "old", "new");

  QVERIFY2(QRegularExpression(ending).match(status->text()).hasMatch(),
           qPrintable(status->text()));
  QCOMPARE(answer.answered(), failRename);
}

void MainDlgRunTest::matchModesReachTheRun_data() {
  QTest::addColumn<QList<int>>("clicks");  // check boxes, in this order
  QTest::addColumn<QString>("find");
  QTest::addColumn<QString>("replace");
  QTest::addColumn<QByteArray>("changed");  // from "foo Foo FOO foobar\n"
  QTest::newRow("none: as typed, anywhere")
      << QList<int>{} << "foo" << "bar"
      << QByteArray("bar Foo FOO barbar\n");
  QTest::newRow("none: a metacharacter is text")
      << QList<int>{} << "o+" << "0" << QByteArray("foo Foo FOO foobar\n");
  QTest::newRow("Ignore Case")
      << QList<int>{IDC_IGNORE_CASE} << "foo" << "bar"
      << QByteArray("bar bar bar barbar\n");
  QTest::newRow("Ignore Case, Preserve Case")
      << QList<int>{IDC_IGNORE_CASE, IDC_PRESERVE_CASE} << "foo" << "bar"
      << QByteArray("bar Bar BAR barbar\n");
  // Left checked but greyed out, Preserve Case does not reach the run
  // (which would refuse it without Ignore Case).
  QTest::newRow("Preserve Case, Ignore Case cleared again")
      << QList<int>{IDC_IGNORE_CASE, IDC_PRESERVE_CASE, IDC_IGNORE_CASE}
      << "foo" << "bar" << QByteArray("bar Foo FOO barbar\n");
  QTest::newRow("Whole Word")
      << QList<int>{IDC_WHOLE_WORD} << "foo" << "bar"
      << QByteArray("bar Foo FOO foobar\n");
  QTest::newRow("Regular Expression, a group")
      << QList<int>{IDC_REGEX} << R"(foo(\w+))" << "$1-foo"
      << QByteArray("foo Foo FOO bar-foo\n");
  QTest::newRow("Regular Expression, Ignore Case, Whole Word")
      << QList<int>{IDC_REGEX, IDC_IGNORE_CASE, IDC_WHOLE_WORD} << "fo+"
      << "x" << QByteArray("x x x foobar\n");
}

// Each check box reaches the engine: the run changes the file as its
// mode says. Afterwards Preserve Case is usable only with Ignore Case.
void MainDlgRunTest::matchModesReachTheRun() {
  QFETCH(QList<int>, clicks);
  QFETCH(QString, find);
  QFETCH(QString, replace);
  QFETCH(QByteArray, changed);
  vs::test::TempFolder tree;
  tree.Write("t.txt", "foo Foo FOO foobar\n");
  Open();
  for (int id : clicks) Click(CheckBox(*m_dlg, id));

  Message message;
  ModalAnswer answer([&](QWidget* box) { message = Read(box); });
  Start(tree.path(), find, replace);

  QVERIFY2(!answer.answered(), qPrintable(message.text));
  QCOMPARE(QByteArray::fromStdString(tree.Read("t.txt")), changed);
  QCOMPARE(CheckBox(*m_dlg, IDC_PRESERVE_CASE)->isEnabled(),
           CheckBox(*m_dlg, IDC_IGNORE_CASE)->isChecked());
}

void MainDlgRunTest::patternThatCannotRunIsRefused_data() {
  QTest::addColumn<int>("button");
  QTest::addColumn<QString>("find");
  QTest::addColumn<QString>("replace");
  QTest::addColumn<QString>("told");
  QTest::newRow("Start, no pattern")
      << IDC_START << "old(" << "new" << "invalid regular expression 'old('";
  QTest::newRow("Preview, no pattern")
      << IDC_PREVIEW << "[old" << "new" << "invalid regular expression '[old'";
  QTest::newRow("Start, a group the pattern lacks")
      << IDC_START << "(old)" << "$2" << "the replacement names group 2";
}

// The engine's verdict, in a message, before anything is looked at:
// the tree, the Files list and the undo journal stay as they were.
void MainDlgRunTest::patternThatCannotRunIsRefused() {
  QFETCH(int, button);
  QFETCH(QString, find);
  QFETCH(QString, replace);
  QFETCH(QString, told);
  FaultFileSystem file_system;
  Open(&file_system);
  Start(m_tree->path(), "old", "older");
  // Whatever the dialog reads to offer Undo is read before counting.
  QTRY_VERIFY(Button(*m_dlg, IDC_UNDO)->isEnabled());
  const QStringList listed = Texts(List(*m_dlg, IDC_FILES));
  const auto before = SnapshotWithTimes(*m_tree);
  const std::size_t calls = file_system.calls().size();

  Click(CheckBox(*m_dlg, IDC_REGEX));
  Edit(*m_dlg, IDC_FIND)->setText(find);
  Edit(*m_dlg, IDC_REPLACE)->setText(replace);
  Message message;
  ModalAnswer answer([&](QWidget* box) { message = Read(box); });
  Click(Button(*m_dlg, button));
  VS_WAIT_FOR_RUN(*m_dlg);

  QVERIFY(answer.answered());
  QCOMPARE(message.icon, QMessageBox::Warning);
  QVERIFY2(message.text.startsWith(told), qPrintable(message.text));
  QCOMPARE(file_system.calls().size(), calls);
  QCOMPARE(SnapshotWithTimes(*m_tree), before);
  QCOMPARE(Texts(List(*m_dlg, IDC_FILES)), listed);
  std::vector<vs::RunSummary> runs;  // the first run's journal alone
  QVERIFY(vs::ListRuns(vs::RealFileSystem(), vs::RunsFolder(), &runs).ok());
  QCOMPARE(runs.size(), 1u);
}

// Held in its first listing, the run goes on while the four check boxes
// are looked at: all disabled, Preserve Case too though Ignore Case is
// checked; after the run Preserve Case is usable again.
void MainDlgRunTest::matchModesAreDisabledWhileRunGoes() {
  std::atomic<bool> walk_waits{false};
  std::atomic<bool> walk_may_go{false};
  FaultFileSystem file_system;
  file_system.Before(FaultFileSystem::Op::kListFolder, m_tree->path(), [&] {
    walk_waits = true;
    for (int i = 0; i < 6000 && !walk_may_go; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  Open(&file_system);
  // However the test ends, the walk goes on and the dialog is gone
  // before what the hook uses.
  struct Release {
    std::atomic<bool>* go;
    std::unique_ptr<CMainDlg>* dlg;
    ~Release() {
      *go = true;
      dlg->reset();
    }
  } release{&walk_may_go, &m_dlg};
  Click(CheckBox(*m_dlg, IDC_IGNORE_CASE));
  Click(CheckBox(*m_dlg, IDC_PRESERVE_CASE));
  Edit(*m_dlg, IDC_BASE_DIR)->setText(QString::fromStdString(m_tree->path()));
  Edit(*m_dlg, IDC_FIND)->setText("OLD");
  Edit(*m_dlg, IDC_REPLACE)->setText("new");
  Click(Button(*m_dlg, IDC_START));

  QTRY_VERIFY(walk_waits);
  QVERIFY(m_dlg->IsRunning());
  for (int id :
       {IDC_IGNORE_CASE, IDC_PRESERVE_CASE, IDC_WHOLE_WORD, IDC_REGEX})
    QVERIFY2(!m_dlg->GetDlgItem(id)->isEnabled(),
             qPrintable(QString::number(id)));
  walk_may_go = true;
  VS_WAIT_FOR_RUN(*m_dlg);

  QVERIFY(m_dlg->GetDlgItem(IDC_PRESERVE_CASE)->isEnabled());
  QCOMPARE(m_tree->Read("sub.txt"), std::string("new\n"));
}

QTEST_MAIN(MainDlgRunTest)
#include "main_dlg_run_test.moc"
