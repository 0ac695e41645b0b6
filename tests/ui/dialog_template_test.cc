// The dialog templates' values, and the template layer that turns them
// into windows: dialog units into pixels, the dialog font, each control's
// kind, place and tab stop.
#include "res/dialog_template.h"

#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "res/resource.h"
#include "ui/dialog.h"
#include "ui/dialog_units.h"

using vs::res::ControlClass;
using vs::res::DluRect;
using vs::res::FindDialogTemplate;
using vs::ui::CDialog;
using vs::ui::DialogUnits;

Q_DECLARE_METATYPE(ControlClass)
Q_DECLARE_METATYPE(DluRect)

namespace {

constexpr ControlClass kButton = ControlClass::kButton;
constexpr ControlClass kEdit = ControlClass::kEdit;
constexpr ControlClass kStatic = ControlClass::kStatic;
constexpr ControlClass kListBox = ControlClass::kListBox;

// A static is found by its id, or when it has none by what it shows. An
// icon takes its icon's size; a label keeps its place and height and is
// never narrower than its text.
void CheckStatic(const CDialog& built, const vs::res::ControlTemplate& control,
                 const QRect& pixels) {
  const QString caption = QString::fromUtf8(control.caption);
  const QLabel* found = nullptr;
  if (control.id != IDC_STATIC) {
    found = qobject_cast<const QLabel*>(built.GetDlgItem(control.id));
  } else {
    for (const QLabel* label : built.findChildren<QLabel*>()) {
      const bool is_icon = !label->pixmap().isNull();
      if (control.image ? is_icon : label->text() == caption) found = label;
    }
  }
  QVERIFY2(found, qPrintable(caption));
  QCOMPARE(found->pos(), pixels.topLeft());
  QCOMPARE(found->focusPolicy(), Qt::NoFocus);
  if (control.image) {
    QCOMPARE(found->size(), QSize(32, 32));
    QCOMPARE(found->pixmap().size(), QSize(32, 32));
    return;
  }
  QCOMPARE(found->height(), pixels.height());
  QVERIFY(found->width() >= pixels.width());
  QVERIFY(found->width() >= found->sizeHint().width());
}

}  // namespace

class DialogTemplateTest : public QObject {
  Q_OBJECT

 private slots:
  void dialogs_data();
  void dialogs();
  void controls_data();
  void controls();
  void controlCounts();
  void controlsLieApartInsideTheDialog_data();
  void controlsLieApartInsideTheDialog();
  void unitsToPixels_data();
  void unitsToPixels();
  void dialogFont_data();
  void dialogFont();
  void builtDialogFollowsTemplate_data();
  void builtDialogFollowsTemplate();
};

void DialogTemplateTest::dialogs_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<DluRect>("rect");
  QTest::addColumn<uint>("style");
  QTest::addColumn<uint>("exStyle");
  QTest::addColumn<bool>("extended");
  QTest::newRow("main") << IDD_MAIN_DIALOG << "Vellumshaper"
                        << DluRect{0, 0, 302, 304} << 0x90C800C0u << 0x00040000u
                        << true;
  QTest::newRow("about") << IDD_ABOUTBOX << "About Vellumshaper"
                         << DluRect{0, 0, 235, 55} << 0x80C800C0u << 0u
                         << false;
}

void DialogTemplateTest::dialogs() {
  QFETCH(int, id);
  QFETCH(QString, caption);
  QFETCH(DluRect, rect);
  QFETCH(uint, style);
  QFETCH(uint, exStyle);
  QFETCH(bool, extended);
  const auto* dialog = FindDialogTemplate(id);
  QVERIFY(dialog);
  QCOMPARE(QString::fromUtf8(dialog->caption), caption);
  QCOMPARE(dialog->rect, rect);
  QCOMPARE(dialog->style, style);
  QCOMPARE(dialog->ex_style, exStyle);
  QCOMPARE(dialog->extended, extended);
  QCOMPARE(QString::fromUtf8(dialog->font_name), QString("MS Sans Serif"));
  QCOMPARE(dialog->font_points, 8);
}

void DialogTemplateTest::controls_data() {
  QTest::addColumn<int>("dialog");
  QTest::addColumn<int>("index");  // template order
  QTest::addColumn<int>("id");
  QTest::addColumn<ControlClass>("kind");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<DluRect>("rect");
  QTest::addColumn<uint>("style");

  struct Row {
    const char* name;
    int id;
    ControlClass kind;
    const char* caption;
    DluRect rect;
    uint style;
  };
  // clang-format off
  const Row main[] = {
      {"OK", IDOK, kButton, "OK", {245, 283, 50, 14}, 0x50010001},
      {"Cancel", IDCANCEL, kButton, "Cancel", {187, 283, 50, 14}, 0x50010000},
      {"Browse", IDC_BROWSE, kButton, "Browse", {245, 22, 50, 12}, 0x50010000},
      {"base dir", IDC_BASE_DIR, kEdit, "", {7, 23, 222, 12}, 0x50810080},
      {"base label", IDC_STATIC, kStatic, "Base Directory:", {7, 10, 57, 8}, 0x50020000},
      {"sub folders", IDC_SUBFOLDERS, kButton, "Search Sub Folders", {7, 81, 78, 10}, 0x50010003},
      {"files", IDC_FILES, kListBox, "", {7, 146, 288, 54}, 0x50A10103},
      {"files label", IDC_STATIC, kStatic, "Files:", {7, 134, 96, 8}, 0x50020000},
      {"changes label", IDC_STATIC, kStatic, "Changes:", {7, 209, 44, 8}, 0x50020000},
      {"changes", IDC_CHANGES, kListBox, "", {7, 221, 288, 54}, 0x50A10103},
      {"Start", IDC_START, kButton, "Start", {245, 61, 50, 12}, 0x50010000},
      {"find", IDC_FIND, kEdit, "", {72, 42, 157, 12}, 0x50810080},
      {"replace", IDC_REPLACE, kEdit, "", {72, 60, 157, 12}, 0x50810080},
      {"find label", IDC_STATIC, kStatic, "Find What:", {7, 45, 49, 8}, 0x50020000},
      {"replace label", IDC_STATIC, kStatic, "Replace With:", {7, 63, 46, 8}, 0x50020000},
      {"change names", IDC_CHANGE_FILE_NAMES, kButton, "Change Files Name", {7, 98, 77, 10}, 0x50010003},
      {"change text", IDC_CHANGE_TEXT, kButton, "Change Text", {101, 98, 68, 10}, 0x50010003},
      // Added after the rest, so that their tab order stays as it was.
      {"status", IDC_STATUS, kStatic, "", {105, 134, 190, 8}, 0x50020000},
      {"Preview", IDC_PREVIEW, kButton, "Preview", {245, 78, 50, 12}, 0x50010000},
      {"Undo", IDC_UNDO, kButton, "Undo", {245, 95, 50, 12}, 0x50010000},
      {"ignore case", IDC_IGNORE_CASE, kButton, "Ignore Case", {7, 115, 56, 10}, 0x50010003},
      {"preserve case", IDC_PRESERVE_CASE, kButton, "Preserve Case", {72, 115, 64, 10}, 0x50010003},
      {"whole word", IDC_WHOLE_WORD, kButton, "Whole Word", {146, 115, 56, 10}, 0x50010003},
      {"regex", IDC_REGEX, kButton, "Regular Expression", {213, 115, 80, 10}, 0x50010003},
  };
  const Row about[] = {
      {"icon", IDC_STATIC, kStatic, "", {11, 17, 20, 20}, 0x50000003},
      {"version", IDC_STATIC, kStatic, "Vellumshaper Version 1.0", {40, 10, 119, 8}, 0x50020080},
      {"OK", IDOK, kButton, "OK", {178, 7, 50, 14}, 0x50030001},
  };
  // clang-format on
  auto add = [](int dialog, const char* prefix, int index, const Row& row) {
    QTest::addRow("%s %d %s", prefix, index, row.name)
        << dialog << index << row.id << row.kind << row.caption << row.rect
        << row.style;
  };
  for (int i = 0; i < int(std::size(main)); ++i)
    add(IDD_MAIN_DIALOG, "main", i, main[i]);
  // The About box's notice line (index 2) is free text.
  add(IDD_ABOUTBOX, "about", 0, about[0]);
  add(IDD_ABOUTBOX, "about", 1, about[1]);
  add(IDD_ABOUTBOX, "about", 3, about[2]);
}

void DialogTemplateTest::controls() {
  QFETCH(int, dialog);
  QFETCH(int, index);
  QFETCH(int, id);
  QFETCH(ControlClass, kind);
  QFETCH(QString, caption);
  QFETCH(DluRect, rect);
  QFETCH(uint, style);
  const auto& control = FindDialogTemplate(dialog)->controls.at(index);
  QCOMPARE(control.id, id);
  QCOMPARE(control.kind, kind);
  QCOMPARE(QString::fromUtf8(control.caption), caption);
  QCOMPARE(control.rect, rect);
  QCOMPARE(control.style, style);
}

void DialogTemplateTest::controlCounts() {
  QCOMPARE(FindDialogTemplate(IDD_MAIN_DIALOG)->controls.size(), 24u);
  const auto& about = FindDialogTemplate(IDD_ABOUTBOX)->controls;
  QCOMPARE(about.size(), 4u);
  QCOMPARE(about[0].image, IDR_MAINFRAME);
  QCOMPARE(about[2].id, IDC_STATIC);
  QCOMPARE(about[2].style, 0x50020000u);
  QCOMPARE(about[2].rect, (DluRect{40, 25, 119, 8}));
  QVERIFY(!QString::fromUtf8(about[2].caption).isEmpty());
}

void DialogTemplateTest::controlsLieApartInsideTheDialog_data() {
  QTest::addColumn<int>("dialog");
  QTest::newRow("main") << IDD_MAIN_DIALOG;
  QTest::newRow("about") << IDD_ABOUTBOX;
}

// A control placed in a taken spot hides another or is hidden by it.
void DialogTemplateTest::controlsLieApartInsideTheDialog() {
  QFETCH(int, dialog);
  const auto* tmpl = FindDialogTemplate(dialog);
  auto rect_of = [](const DluRect& r) {
    return QRect(r.left, r.top, r.width, r.height);
  };
  const QRect inside(0, 0, tmpl->rect.width, tmpl->rect.height);
  const auto& controls = tmpl->controls;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const QRect rect = rect_of(controls[i].rect);
    QVERIFY2(inside.contains(rect), qPrintable(QString::number(i)));
    for (std::size_t j = i + 1; j < controls.size(); ++j)
      QVERIFY2(!rect.intersects(rect_of(controls[j].rect)),
               qPrintable(QString("%1 and %2").arg(i).arg(j)));
  }
}

void DialogTemplateTest::unitsToPixels_data() {
  QTest::addColumn<int>("baseX");
  QTest::addColumn<int>("baseY");
  QTest::addColumn<DluRect>("units");
  QTest::addColumn<QRect>("pixels");
  // 6 x 13 is the classic 8-point dialog font at 96 dots per inch.
  QTest::newRow("main dialog")
      << 6 << 13 << DluRect{0, 0, 302, 304} << QRect(0, 0, 453, 494);
  QTest::newRow("halves round up")
      << 6 << 12 << DluRect{1, 1, 3, 5} << QRect(2, 2, 5, 8);
  QTest::newRow("below half rounds down")
      << 7 << 13 << DluRect{1, 3, 5, 1} << QRect(2, 5, 9, 2);
  QTest::newRow("wide font")
      << 8 << 16 << DluRect{245, 266, 50, 14} << QRect(490, 532, 100, 28);
}

void DialogTemplateTest::unitsToPixels() {
  QFETCH(int, baseX);
  QFETCH(int, baseY);
  QFETCH(DluRect, units);
  QFETCH(QRect, pixels);
  QCOMPARE(DialogUnits(baseX, baseY).ToPixels(units), pixels);
}

void DialogTemplateTest::dialogFont_data() {
  QTest::addColumn<QStringList>("installed");
  QTest::addColumn<QString>("family");
  QTest::addColumn<int>("points");
  QTest::newRow("installed")
      << QStringList{"DejaVu Sans", "MS Sans Serif"} << "MS Sans Serif" << 8;
  QTest::newRow("other case")
      << QStringList{"ms sans serif"} << "MS Sans Serif" << 8;
  QTest::newRow("missing") << QStringList{"DejaVu Sans", "MS Serif"}
                           << "DejaVu Sans" << 9;
}

void DialogTemplateTest::dialogFont() {
  QFETCH(QStringList, installed);
  QFETCH(QString, family);
  QFETCH(int, points);
  const QFont system("DejaVu Sans", 9);
  const QFont font =
      vs::ui::ChooseDialogFont("MS Sans Serif", 8, installed, system);
  QCOMPARE(font.family(), family);
  QCOMPARE(font.pointSize(), points);
}

void DialogTemplateTest::builtDialogFollowsTemplate_data() {
  QTest::addColumn<int>("dialog");
  QTest::newRow("main") << IDD_MAIN_DIALOG;
  QTest::newRow("about") << IDD_ABOUTBOX;
}

void DialogTemplateTest::builtDialogFollowsTemplate() {
  QFETCH(int, dialog);
  const auto* tmpl = FindDialogTemplate(dialog);
  CDialog built(dialog);
  const DialogUnits units = DialogUnits::ForFont(built.font());

  QCOMPARE(built.windowTitle(), QString::fromUtf8(tmpl->caption));
  QCOMPARE(built.size(), units.ToPixels(tmpl->rect).size());
  QCOMPARE(built.minimumSize(), built.maximumSize());
  const Qt::WindowFlags flags = built.windowFlags();
  QVERIFY(flags & Qt::WindowCloseButtonHint);
  QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
  QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
  QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));

  for (const auto& control : tmpl->controls) {
    const QRect pixels = units.ToPixels(control.rect);
    if (control.kind == kStatic) {
      CheckStatic(built, control, pixels);
      continue;
    }
    QWidget* widget = built.GetDlgItem(control.id);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), pixels);
    QCOMPARE(bool(widget->focusPolicy() & Qt::TabFocus),
             bool(control.style & 0x00010000));  // WS_TABSTOP
    const uint type = control.style & 0xF;
    switch (control.kind) {
      case kButton:
        if (type == 3) {  // BS_AUTOCHECKBOX
          QVERIFY(qobject_cast<QCheckBox*>(widget));
        } else {
          auto* button = qobject_cast<QPushButton*>(widget);
          QVERIFY(button);
          QCOMPARE(button->isDefault(), type == 1);  // BS_DEFPUSHBUTTON
        }
        break;
      case kEdit:
        QVERIFY(qobject_cast<QLineEdit*>(widget));
        break;
      case kListBox: {
        auto* list = qobject_cast<QListWidget*>(widget);
        QVERIFY(list);
        QVERIFY(list->isSortingEnabled());
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(list->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        break;
      }
      case kStatic:
        break;
    }
  }
}

QTEST_MAIN(DialogTemplateTest)
#include "dialog_template_test.moc"
