#include "ui/dialog_builder.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "res/resource.h"
#include "res/window_styles.h"
#include "ui/app_icon.h"
#include "ui/dialog_units.h"

namespace vs::ui {
namespace {

using namespace vs::res;

QWidget* MakeButton(const ControlTemplate& control, QWidget* parent) {
  const QString caption = QString::fromUtf8(control.caption);
  const std::uint32_t type = control.style & BS_TYPEMASK;
  if (type == BS_AUTOCHECKBOX) return new QCheckBox(caption, parent);
  auto* button = new QPushButton(caption, parent);
  // Enter presses the focused push button, else the default one.
  button->setAutoDefault(true);
  button->setDefault(type == BS_DEFPUSHBUTTON);
  return button;
}

QWidget* MakeStatic(const ControlTemplate& control, QWidget* parent) {
  auto* label = new QLabel(parent);
  if ((control.style & SS_TYPEMASK) == SS_ICON) {
    label->setPixmap(
        LoadIconResource(control.image).pixmap(kLargeIconSize, kLargeIconSize));
  } else {
    label->setText(QString::fromUtf8(control.caption));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }
  return label;
}

QWidget* MakeListBox(const ControlTemplate& control, QWidget* parent) {
  auto* list = new QListWidget(parent);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSortingEnabled((control.style & LBS_SORT) != 0);
  list->setVerticalScrollBarPolicy((control.style & WS_VSCROLL)
                                       ? Qt::ScrollBarAsNeeded
                                       : Qt::ScrollBarAlwaysOff);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Every item is one line of text in the dialog's font. Saying so spares
  // the view measuring each item again whenever items are added: with
  // tens of thousands of paths that measuring took the view longer than
  // the run itself.
  list->setUniformItemSizes(true);
  return list;
}

QWidget* MakeControl(const ControlTemplate& control, QWidget* parent) {
  switch (control.kind) {
    case ControlClass::kButton:
      return MakeButton(control, parent);
    case ControlClass::kEdit:
      return new QLineEdit(QString::fromUtf8(control.caption), parent);
    case ControlClass::kStatic:
      return MakeStatic(control, parent);
    case ControlClass::kListBox:
      return MakeListBox(control, parent);
  }
  return nullptr;
}

void Place(QWidget* widget, const ControlTemplate& control,
           const DialogUnits& units) {
  QRect rect = units.ToPixels(control.rect);
  if (control.kind == ControlClass::kStatic) {
    if ((control.style & SS_TYPEMASK) == SS_ICON) {
      // An icon static takes the size of its icon, whatever the
      // template says.
      rect.setSize(QSize(kLargeIconSize, kLargeIconSize));
    } else {
      // The templates were measured in a narrower font than most
      // systems' dialog font: a label grows to the right rather than
      // cut its text short.
      rect.setWidth(std::max(rect.width(), widget->sizeHint().width()));
    }
  }
  widget->setGeometry(rect);
}

void SetUpFrame(const DialogTemplate& dialog_template, QDialog* dialog,
                const DialogUnits& units) {
  dialog->setWindowTitle(QString::fromUtf8(dialog_template.caption));
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
  if (dialog_template.style & WS_CAPTION) flags |= Qt::WindowTitleHint;
  if (dialog_template.style & WS_SYSMENU)
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  dialog->setWindowFlags(flags);
  // A modal frame has no sizing border: the size is the template's.
  dialog->setFixedSize(units.ToPixels(dialog_template.rect).size());
}

}  // namespace

BuiltDialog BuildDialog(const DialogTemplate& dialog_template,
                        QDialog* dialog) {
  dialog->setFont(DialogFont(dialog_template));
  const DialogUnits units = DialogUnits::ForFont(dialog->font());
  SetUpFrame(dialog_template, dialog, units);

  BuiltDialog built;
  built.has_system_menu = (dialog_template.style & WS_SYSMENU) != 0;
  // Made in template order, the controls take that order for Tab.
  for (const ControlTemplate& control : dialog_template.controls) {
    QWidget* widget = MakeControl(control, dialog);
    Place(widget, control, units);
    widget->setVisible((control.style & WS_VISIBLE) != 0);
    if (control.style & WS_TABSTOP) {
      if (!built.first_tab_stop) built.first_tab_stop = widget;
    } else {
      widget->setFocusPolicy(
          static_cast<Qt::FocusPolicy>(widget->focusPolicy() & ~Qt::TabFocus));
    }
    if (control.id != IDC_STATIC) built.controls[control.id] = widget;
  }
  return built;
}

}  // namespace vs::ui
