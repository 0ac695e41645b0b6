// Builds a dialog window and its controls from a dialog template: the
// caption, the font, the fixed size and frame, each control made of its
// class and style and placed in pixels, and the tab order.
#pragma once

#include <QDialog>
#include <QWidget>
#include <map>

#include "res/dialog_template.h"

namespace vs::ui {

struct BuiltDialog {
  std::map<int, QWidget*> controls;  // by id; IDC_STATIC ones left out
  QWidget* first_tab_stop = nullptr;
  bool has_system_menu = false;
};

BuiltDialog BuildDialog(const res::DialogTemplate& dialog_template,
                        QDialog* dialog);

}  // namespace vs::ui
