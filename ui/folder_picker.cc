#include "ui/folder_picker.h"

#include <QFileDialog>

namespace vs::ui {

std::optional<QString> PickFolderWithPlatformDialog(QWidget* owner,
                                                    const QString& title) {
  const QString folder = QFileDialog::getExistingDirectory(owner, title);
  if (folder.isEmpty()) return std::nullopt;
  return folder;
}

}  // namespace vs::ui
