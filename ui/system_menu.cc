#include "ui/system_menu.h"

#include <QAction>

namespace vs::ui {

QMenu* CreateSystemMenu(QWidget* window) {
  auto* menu = new QMenu(window);
  AppendSysCommand(menu, SC_CLOSE, QStringLiteral("Close"));
  return menu;
}

void AppendSysCommand(QMenu* menu, unsigned command, const QString& text) {
  menu->addAction(text)->setData(command);
}

unsigned SysCommandOf(const QAction* item) { return item->data().toUInt(); }

}  // namespace vs::ui
