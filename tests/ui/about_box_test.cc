// The system menu and the About box: how the menu is reached, which
// system commands open the box, and the box itself.
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <memory>

#include "res/resource.h"
#include "tests/ui/dialog_probe.h"
#include "tests/ui/modal_answer.h"
#include "ui/about_dlg.h"
#include "ui/main_dlg.h"

using namespace vs::ui;
using namespace vs::ui::test;

namespace {

class SysCommandProbe : public CMainDlg {
 public:
  using CMainDlg::OnSysCommand;
};

// What the About box showed while it was open.
struct AboutSeen {
  bool is_about_box = false;
  bool modal = false;
  QWidget* owner = nullptr;
  QString title;
  QStringList texts;
  QSize icon;
  QString focused_button;  // the text of the push button with the focus
  QPoint centre;
};

AboutSeen Look(QWidget* box) {
  AboutSeen seen;
  seen.is_about_box = qobject_cast<CAboutDlg*>(box) != nullptr;
  seen.modal = box->isModal() && QApplication::activeModalWidget() == box;
  seen.owner = box->parentWidget();
  seen.title = box->windowTitle();
  for (QLabel* label : box->findChildren<QLabel*>()) {
    if (!label->pixmap().isNull()) seen.icon = label->pixmap().size();
    if (!label->text().isEmpty()) seen.texts << label->text();
  }
  if (auto* button = qobject_cast<QPushButton*>(box->focusWidget()))
    seen.focused_button = button->text();
  seen.centre = box->geometry().center();
  return seen;
}

}  // namespace

class AboutBoxTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void aboutCommandIds_data();
  void aboutCommandIds();
  void aboutBoxFromTheMenu_data();
  void aboutBoxFromTheMenu();
  void systemMenuIsReachable_data();
  void systemMenuIsReachable();

 private:
  std::unique_ptr<SysCommandProbe> m_dlg;
};

void AboutBoxTest::init() {
  m_dlg = std::make_unique<SysCommandProbe>();
  m_dlg->show();
  QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
}

void AboutBoxTest::cleanup() {
  if (QMenu* menu = m_dlg->GetSystemMenu()) menu->close();
  m_dlg.reset();
}

void AboutBoxTest::aboutCommandIds_data() {
  QTest::addColumn<uint>("id");
  QTest::addColumn<bool>("opens");
  QTest::newRow("15") << 15u << false;
  QTest::newRow("16, the About item") << 16u << true;
  QTest::newRow("17") << 17u << true;
  QTest::newRow("31") << 31u << true;
  QTest::newRow("32") << 32u << false;
  QTest::newRow("high bits are not looked at") << 0x10013u << true;
}

void AboutBoxTest::aboutCommandIds() {
  QFETCH(uint, id);
  QFETCH(bool, opens);
  AboutSeen seen;
  ModalAnswer answer([&](QWidget* box) { seen = Look(box); });
  m_dlg->OnSysCommand(id, 0);
  QCOMPARE(answer.answered(), opens);
  if (answer.answered()) QVERIFY(seen.is_about_box);
  QVERIFY(m_dlg->isVisible());
}

void AboutBoxTest::aboutBoxFromTheMenu_data() {
  QTest::addColumn<QString>("closeBy");
  QTest::newRow("OK") << "OK";
  QTest::newRow("Enter") << "Enter";
  QTest::newRow("Escape") << "Escape";
  QTest::newRow("close button") << "close button";
}

void AboutBoxTest::aboutBoxFromTheMenu() {
  QFETCH(QString, closeBy);
  AboutSeen seen;
  bool closed = false;
  ModalAnswer answer([&](QWidget* box) {
    seen = Look(box);
    auto* about = static_cast<CAboutDlg*>(box);
    if (closeBy == "OK") Click(about->GetDlgItem(IDOK));
    // The box's own focus widget, not the application's: under load the
    // window may be shown before the windowing system has activated it.
    if (closeBy == "Enter") {
      QWidget* keys = about->focusWidget() ? about->focusWidget() : about;
      QTest::keyClick(keys, Qt::Key_Return);
    }
    if (closeBy == "Escape") QTest::keyClick(about, Qt::Key_Escape);
    if (closeBy == "close button") about->close();
    closed = !about->isVisible();
  });
  const QList<QAction*> items = m_dlg->GetSystemMenu()->actions();
  items.last()->trigger();

  QVERIFY(answer.answered());
  QVERIFY(closed);
  QVERIFY(seen.is_about_box);
  QVERIFY(seen.modal);
  QCOMPARE(seen.owner, m_dlg.get());
  QCOMPARE(seen.title, QString("About Vellumshaper"));
  QCOMPARE(seen.icon, QSize(32, 32));
  QCOMPARE(seen.texts.size(), 2);
  QCOMPARE(seen.texts[0], QString("Vellumshaper Version 1.0"));
  QVERIFY(!seen.texts[1].isEmpty());
  QCOMPARE(seen.focused_button, QString("OK"));
  // Centred over the main dialog, give or take the frames' rounding.
  const QPoint offset = seen.centre - m_dlg->geometry().center();
  QVERIFY2(offset.manhattanLength() <= 4,
           qPrintable(QString("%1,%2").arg(offset.x()).arg(offset.y())));
  QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void AboutBoxTest::systemMenuIsReachable_data() {
  QTest::addColumn<QString>("how");
  QTest::addColumn<bool>("opens");
  QTest::newRow("right click on the background") << "background" << true;
  QTest::newRow("right click on a label") << "label" << true;
  QTest::newRow("right click on a button") << "button" << false;
  QTest::newRow("context-menu key") << "menu key" << true;
  QTest::newRow("Shift+F10") << "Shift+F10" << true;
}

void AboutBoxTest::systemMenuIsReachable() {
  QFETCH(QString, how);
  QFETCH(bool, opens);
  // A right click reaches the widget under the mouse as a context-menu
  // request, and one from the context-menu key reaches the focused
  // control, as the window system delivers them.
  auto right_click = [&](QWidget* target, QPoint pos) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos,
                            target->mapToGlobal(pos));
    QApplication::sendEvent(target, &event);
  };
  QWidget* ok = m_dlg->GetDlgItem(IDOK);
  if (how == "background") right_click(m_dlg.get(), QPoint(3, 3));
  if (how == "label") {
    QLabel* label = m_dlg->findChildren<QLabel*>().first();
    right_click(label, QPoint(1, 1));
  }
  if (how == "button") right_click(ok, QPoint(2, 2));
  if (how == "menu key") {
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(2, 2),
                            ok->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(ok, &event);
  }
  if (how == "Shift+F10")
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10,
                    Qt::ShiftModifier);

  const bool opened = QApplication::activePopupWidget() != nullptr;
  QCOMPARE(opened, opens);
  if (opened)
    QCOMPARE(QApplication::activePopupWidget(), m_dlg->GetSystemMenu());
}

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"
