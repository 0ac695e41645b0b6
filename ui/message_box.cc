#include "ui/message_box.h"

#include <QCoreApplication>

namespace vs::ui {

void ShowMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon,
                 const QString& details) {
  QMessageBox box(icon, QCoreApplication::applicationName(), text,
                  QMessageBox::Ok, owner);
  box.setDetailedText(details);
  box.exec();
}

}  // namespace vs::ui
