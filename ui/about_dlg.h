// The About box: the icon, the program's name and version, a notice line
// and OK.
#pragma once

#include "ui/dialog.h"

namespace vs::ui {

class CAboutDlg : public CDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace vs::ui
