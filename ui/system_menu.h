// The window's system menu. The window manager keeps its own menu to
// itself, so a dialog carries a menu of its own with the same role: it
// holds system commands, and a chosen item goes to the dialog's
// OnSysCommand.
#pragma once

#include <QMenu>
#include <QString>

namespace vs::ui {

// The system command that closes a window.
inline constexpr unsigned SC_CLOSE = 0xF060;

// A fixed-size dialog's system menu: "Close" alone, as it cannot be
// moved by the menu, sized, minimised or maximised.
QMenu* CreateSystemMenu(QWidget* window);

// Appends an item that sends `command` to OnSysCommand.
void AppendSysCommand(QMenu* menu, unsigned command, const QString& text);
// The command of an item made by AppendSysCommand or CreateSystemMenu.
unsigned SysCommandOf(const QAction* item);

}  // namespace vs::ui
