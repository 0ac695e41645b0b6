// Reading and driving a built dialog's controls by id, as a user sees
// and works them.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include "ui/dialog.h"

namespace vs::ui::test {

inline QLineEdit* Edit(const CDialog& dialog, int id) {
  return qobject_cast<QLineEdit*>(dialog.GetDlgItem(id));
}
inline QCheckBox* CheckBox(const CDialog& dialog, int id) {
  return qobject_cast<QCheckBox*>(dialog.GetDlgItem(id));
}
inline QListWidget* List(const CDialog& dialog, int id) {
  return qobject_cast<QListWidget*>(dialog.GetDlgItem(id));
}
inline QPushButton* Button(const CDialog& dialog, int id) {
  return qobject_cast<QPushButton*>(dialog.GetDlgItem(id));
}

// The items' texts, top to bottom.
inline QStringList Texts(const QListWidget* list) {
  QStringList texts;
  for (int row = 0; row < list->count(); ++row)
    texts << list->item(row)->text();
  return texts;
}

inline void Click(QWidget* control) {
  QTest::mouseClick(control, Qt::LeftButton);
}

// Clicks the item `text` of `list`, as a user selects it.
inline void ClickItem(QListWidget* list, const QString& text) {
  const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
  QVERIFY2(!found.isEmpty(), qPrintable("no item " + text));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(found.first()).center());
}

// Waits for a run the dialog began to end: its last file listed, its
// message answered.
#define VS_WAIT_FOR_RUN(dialog) \
  QTRY_VERIFY_WITH_TIMEOUT(!(dialog).IsRunning(), 60000)

// The id of the control that has the focus, or 0.
inline int FocusedId(const CDialog& dialog, const QList<int>& ids) {
  for (int id : ids)
    if (dialog.GetDlgItem(id) == QApplication::focusWidget()) return id;
  return 0;
}

}  // namespace vs::ui::test
