#include "ui/about_dlg.h"

#include "res/resource.h"

namespace vs::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(IDD_ABOUTBOX, parent) {}

}  // namespace vs::ui
