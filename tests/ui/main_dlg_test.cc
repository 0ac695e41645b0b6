// The main dialog as it first shows, its tab order, the data exchange in
// both directions, Browse, and the ways the dialog ends.
#include "ui/main_dlg.h"

#include <QMenu>
#include <QScreen>
#include <QTest>
#include <climits>
#include <memory>

#include "res/resource.h"
#include "tests/temp_folder.h"
#include "tests/ui/dialog_probe.h"
#include "tests/ui/modal_answer.h"
#include "ui/data_exchange.h"
#include "ui/folder_picker.h"

using namespace vs::ui;
using namespace vs::ui::test;

namespace {

const QList<int> kTabStops = {IDOK,
                              IDCANCEL,
                              IDC_BROWSE,
                              IDC_BASE_DIR,
                              IDC_SUBFOLDERS,
                              IDC_FILES,
                              IDC_CHANGES,
                              IDC_START,
                              IDC_FIND,
                              IDC_REPLACE,
                              IDC_CHANGE_FILE_NAMES,
                              IDC_CHANGE_TEXT,
                              // new controls come after the rest
                              IDC_PREVIEW,
                              IDC_IGNORE_CASE,
                              IDC_WHOLE_WORD,
                              IDC_REGEX};
// Undo is disabled while there is nothing to undo, and Preserve Case
// while Ignore Case is clear, so Tab passes them by.

// Runs one exchange on the dialog's own fields from outside.
class ExchangeProbe : public CMainDlg {
 public:
  using CMainDlg::CMainDlg;
  void Exchange(bool save) {
    CDataExchange exchange(this, save);
    DoDataExchange(&exchange);
  }
};

}  // namespace

class MainDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void firstDisplay();
  void tabOrderFollowsTemplate();
  void preserveCaseOnlyWithIgnoreCase();
  void checkExchange_data();
  void checkExchange();
  void browseKeepsWhatWasTyped_data();
  void browseKeepsWhatWasTyped();
  void browseCancelChangesNothing();
  void platformPickerIsTitledAndCancels();
  void endingTheDialog_data();
  void endingTheDialog();
  void enterInFindWhatEndsWithoutRun();

 private:
  void Show();
  void Type(int id, const QString& text);
  // Browse answers with `folder`, or cancels when it is empty; returns
  // the title the picker was given.
  QString Browse(const QString& folder);

  std::unique_ptr<ExchangeProbe> m_dlg;
  std::unique_ptr<vs::test::TempFolder> m_tree;  // new for each test
  // The state folder's home for each test: the undo journals of its
  // runs go there, never into the real home.
  std::unique_ptr<vs::test::TempFolder> m_stateHome;
};

void MainDlgTest::init() {
  m_stateHome = std::make_unique<vs::test::TempFolder>();
  qputenv("XDG_STATE_HOME", QByteArray::fromStdString(m_stateHome->path()));
  m_tree = std::make_unique<vs::test::TempFolder>();
  m_dlg = std::make_unique<ExchangeProbe>();
  Show();
}

void MainDlgTest::cleanup() {
  m_dlg.reset();
  m_tree.reset();
  qunsetenv("XDG_STATE_HOME");
  m_stateHome.reset();
}

void MainDlgTest::Show() {
  m_dlg->show();
  QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
}

void MainDlgTest::Type(int id, const QString& text) {
  QLineEdit* edit = Edit(*m_dlg, id);
  edit->selectAll();
  QTest::keyClicks(edit, text);
}

QString MainDlgTest::Browse(const QString& folder) {
  QString title;
  m_dlg->SetFolderPicker(
      [&](QWidget* owner,
          const QString& picker_title) -> std::optional<QString> {
        title = picker_title;
        if (owner != m_dlg.get()) title += " (not owned by the dialog)";
        if (folder.isEmpty()) return std::nullopt;
        return folder;
      });
  Click(Button(*m_dlg, IDC_BROWSE));
  return title;
}

void MainDlgTest::firstDisplay() {
  for (int id : {IDC_BASE_DIR, IDC_FIND, IDC_REPLACE})
    QCOMPARE(Edit(*m_dlg, id)->text(), QString());
  for (int id : {IDC_SUBFOLDERS, IDC_CHANGE_FILE_NAMES, IDC_CHANGE_TEXT})
    QCOMPARE(CheckBox(*m_dlg, id)->checkState(), Qt::Checked);
  for (int id :
       {IDC_IGNORE_CASE, IDC_PRESERVE_CASE, IDC_WHOLE_WORD, IDC_REGEX})
    QCOMPARE(CheckBox(*m_dlg, id)->checkState(), Qt::Unchecked);
  QVERIFY(!m_dlg->GetDlgItem(IDC_PRESERVE_CASE)->isEnabled());
  QCOMPARE(List(*m_dlg, IDC_FILES)->count(), 0);
  QCOMPARE(List(*m_dlg, IDC_CHANGES)->count(), 0);
  QTRY_VERIFY(!m_dlg->IsFindingRunToUndo());
  QVERIFY(!m_dlg->GetDlgItem(IDC_UNDO)->isEnabled());  // no run kept yet
  QCOMPARE(QApplication::focusWidget(), m_dlg->GetDlgItem(IDOK));
  QCOMPARE(m_dlg->windowTitle(), QString("Vellumshaper"));
  // Centred on the work area, give or take the rounding of halves.
  const QPoint offset = m_dlg->frameGeometry().center() -
                        m_dlg->screen()->availableGeometry().center();
  QVERIFY2(offset.manhattanLength() <= 2,
           qPrintable(QString("%1,%2").arg(offset.x()).arg(offset.y())));

  // The system menu ends with a separator and the About item.
  const QList<QAction*> items = m_dlg->GetSystemMenu()->actions();
  QCOMPARE(items.size(), 3);
  QCOMPARE(items[0]->text(), QString("Close"));
  QVERIFY(items[1]->isSeparator());
  QCOMPARE(items[2]->text(), QString("&About Vellumshaper..."));
  QCOMPARE(items[2]->data().toUInt(), IDM_ABOUTBOX);

  // The window carries the icon at both sizes.
  const QList<QSize> sizes = m_dlg->windowIcon().availableSizes();
  QVERIFY(sizes.contains(QSize(32, 32)));
  QVERIFY(sizes.contains(QSize(16, 16)));
}

void MainDlgTest::tabOrderFollowsTemplate() {
  QList<int> forward;
  for (int i = 0; i < kTabStops.size(); ++i) {
    forward << FocusedId(*m_dlg, kTabStops);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  QCOMPARE(forward, kTabStops);
  QCOMPARE(FocusedId(*m_dlg, kTabStops), IDOK);  // round to the start

  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  QCOMPARE(FocusedId(*m_dlg, kTabStops), IDC_REGEX);
}

// Checked by mouse or by Space, Ignore Case brings Preserve Case in,
// between itself and Whole Word; cleared, Preserve Case is greyed out
// again and keeps its check mark.
void MainDlgTest::preserveCaseOnlyWithIgnoreCase() {
  QCheckBox* preserve_case = CheckBox(*m_dlg, IDC_PRESERVE_CASE);
  Click(CheckBox(*m_dlg, IDC_IGNORE_CASE));
  QVERIFY(preserve_case->isEnabled());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), preserve_case);
  QTest::keyClick(preserve_case, Qt::Key_Space);
  QVERIFY(preserve_case->isChecked());

  QCheckBox* ignore_case = CheckBox(*m_dlg, IDC_IGNORE_CASE);
  ignore_case->setFocus();
  QTest::keyClick(ignore_case, Qt::Key_Space);
  QVERIFY(!ignore_case->isChecked());
  QVERIFY(!preserve_case->isEnabled());
  QVERIFY(preserve_case->isChecked());
}

void MainDlgTest::checkExchange_data() {
  QTest::addColumn<int>("field");
  QTest::addColumn<int>("loadedField");
  QTest::addColumn<Qt::CheckState>("shown");
  QTest::addColumn<int>("saved");
  QTest::newRow("clear") << 0 << 0 << Qt::Unchecked << 0;
  QTest::newRow("checked") << 1 << 1 << Qt::Checked << 1;
  QTest::newRow("indeterminate") << 2 << 2 << Qt::PartiallyChecked << 2;
  QTest::newRow("3 clamps to clear") << 3 << 0 << Qt::Unchecked << 0;
  QTest::newRow("-1 clamps to clear") << -1 << 0 << Qt::Unchecked << 0;
  QTest::newRow("INT_MIN clamps to clear")
      << INT_MIN << 0 << Qt::Unchecked << 0;
}

void MainDlgTest::checkExchange() {
  QFETCH(int, field);
  QFETCH(int, loadedField);
  QFETCH(Qt::CheckState, shown);
  QFETCH(int, saved);
  m_dlg->m_bSubFolders = field;
  m_dlg->Exchange(/*save=*/false);
  QCOMPARE(m_dlg->m_bSubFolders, loadedField);
  QCOMPARE(CheckBox(*m_dlg, IDC_SUBFOLDERS)->checkState(), shown);

  m_dlg->m_bSubFolders = 99;
  m_dlg->Exchange(/*save=*/true);
  QCOMPARE(m_dlg->m_bSubFolders, saved);
}

void MainDlgTest::browseKeepsWhatWasTyped_data() {
  QTest::addColumn<bool>("startFirst");
  QTest::newRow("never started") << false;
  QTest::newRow("after a Start") << true;
}

// Browse changes Base Directory alone: texts typed and boxes cleared since
// the last Start (or since the dialog opened) stay as they are.
void MainDlgTest::browseKeepsWhatWasTyped() {
  QFETCH(bool, startFirst);
  if (startFirst) {
    Type(IDC_BASE_DIR, QString::fromStdString(m_tree->path()));
    Type(IDC_FIND, "saved");
    Click(CheckBox(*m_dlg, IDC_CHANGE_TEXT));
    Click(Button(*m_dlg, IDC_START));
    VS_WAIT_FOR_RUN(*m_dlg);
    Click(CheckBox(*m_dlg, IDC_CHANGE_TEXT));  // checked again
  }
  Type(IDC_FIND, "typed");
  Type(IDC_REPLACE, "also typed");
  Click(CheckBox(*m_dlg, IDC_SUBFOLDERS));

  QCOMPARE(Browse("/picked/folder"), QString("Select the destination folder"));

  QCOMPARE(Edit(*m_dlg, IDC_BASE_DIR)->text(), QString("/picked/folder"));
  QCOMPARE(m_dlg->m_strBaseDir, std::string("/picked/folder"));
  QCOMPARE(Edit(*m_dlg, IDC_FIND)->text(), QString("typed"));
  QCOMPARE(Edit(*m_dlg, IDC_REPLACE)->text(), QString("also typed"));
  QCOMPARE(CheckBox(*m_dlg, IDC_SUBFOLDERS)->checkState(), Qt::Unchecked);
  QCOMPARE(CheckBox(*m_dlg, IDC_CHANGE_TEXT)->checkState(), Qt::Checked);
  QCOMPARE(CheckBox(*m_dlg, IDC_CHANGE_FILE_NAMES)->checkState(),
           Qt::Checked);
}

void MainDlgTest::browseCancelChangesNothing() {
  Type(IDC_BASE_DIR, "/typed");
  Type(IDC_FIND, "typed");
  Click(CheckBox(*m_dlg, IDC_SUBFOLDERS));

  Browse(QString());

  QCOMPARE(Edit(*m_dlg, IDC_BASE_DIR)->text(), QString("/typed"));
  QCOMPARE(Edit(*m_dlg, IDC_FIND)->text(), QString("typed"));
  QCOMPARE(CheckBox(*m_dlg, IDC_SUBFOLDERS)->checkState(), Qt::Unchecked);
}

// The real picker: it carries the title and a cancel gives no folder.
void MainDlgTest::platformPickerIsTitledAndCancels() {
  QString title;
  ModalAnswer answer([&](QWidget* picker) {
    title = picker->windowTitle();
    QTest::keyClick(picker, Qt::Key_Escape);
  });
  const std::optional<QString> folder = PickFolderWithPlatformDialog(
      m_dlg.get(), "Select the destination folder");
  QVERIFY(answer.answered());
  QCOMPARE(title, QString("Select the destination folder"));
  QVERIFY(!folder);
}

void MainDlgTest::endingTheDialog_data() {
  QTest::addColumn<QString>("how");
  QTest::addColumn<int>("result");
  QTest::addColumn<bool>("saves");
  QTest::newRow("OK") << "OK" << IDOK << true;
  QTest::newRow("Enter on OK") << "Enter on OK" << IDOK << true;
  QTest::newRow("Cancel") << "Cancel" << IDCANCEL << false;
  QTest::newRow("Enter on Cancel") << "Enter on Cancel" << IDCANCEL << false;
  QTest::newRow("Escape") << "Escape" << IDCANCEL << false;
  QTest::newRow("close button") << "close button" << IDCANCEL << false;
  QTest::newRow("system menu Close") << "Close" << IDCANCEL << false;
}

void MainDlgTest::endingTheDialog() {
  QFETCH(QString, how);
  QFETCH(int, result);
  QFETCH(bool, saves);
  Type(IDC_REPLACE, "typed");
  auto focus_and_enter = [&](int id) {
    m_dlg->GetDlgItem(id)->setFocus();
    QTest::keyClick(m_dlg->GetDlgItem(id), Qt::Key_Return);
  };
  if (how == "OK") Click(Button(*m_dlg, IDOK));
  if (how == "Enter on OK") focus_and_enter(IDOK);
  if (how == "Cancel") Click(Button(*m_dlg, IDCANCEL));
  if (how == "Enter on Cancel") focus_and_enter(IDCANCEL);
  if (how == "Escape") QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
  if (how == "close button") m_dlg->close();
  if (how == "Close") m_dlg->GetSystemMenu()->actions().first()->trigger();

  QVERIFY(!m_dlg->isVisible());
  QCOMPARE(m_dlg->result(), result);
  QCOMPARE(m_dlg->m_strReplace, std::string(saves ? "typed" : ""));
}

// Enter in an edit box presses OK: the settings are saved, the dialog
// ends, and nothing runs.
void MainDlgTest::enterInFindWhatEndsWithoutRun() {
  m_tree->Write("a.txt", "old\n");
  Type(IDC_BASE_DIR, QString::fromStdString(m_tree->path()));
  Type(IDC_REPLACE, "new");
  QLineEdit* find = Edit(*m_dlg, IDC_FIND);
  find->setFocus();
  QTest::keyClicks(find, "old");
  QTest::keyClick(find, Qt::Key_Return);

  QVERIFY(!m_dlg->isVisible());
  QCOMPARE(m_dlg->result(), IDOK);
  QCOMPARE(m_dlg->m_strFind, std::string("old"));
  QCOMPARE(m_tree->Read("a.txt"), std::string("old\n"));
  QCOMPARE(m_dlg->m_changeLog.size(), 0u);
}

QTEST_MAIN(MainDlgTest)
#include "main_dlg_test.moc"
