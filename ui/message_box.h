// The program's message boxes: captioned with the application's name and
// modal, so the dialog takes input again only once the box is answered.
#pragma once

#include <QMessageBox>
#include <QString>

namespace vs::ui {

void ShowMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon,
                 const QString& details = QString());

}  // namespace vs::ui
