#include "ui/help_viewer.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace vs::ui {

QString HelpPageFor(const QString& help_file, unsigned command, unsigned data) {
  const QFileInfo help(help_file);
  // VS_HELP_DIR: where the help is installed, relative to the program's
  // folder; the build puts a copy at the same place in the build tree.
  const QDir folder(help.absolutePath() + QStringLiteral("/" VS_HELP_DIR));
  QString page = help.completeBaseName();
  if (command == HELP_CONTEXT)
    page += QLatin1Char('-') + QString::number(data, 16);
  return QDir::cleanPath(folder.filePath(page + QStringLiteral(".html")));
}

bool OpenHelpInDesktopViewer(const QString& help_file, unsigned command,
                             unsigned data) {
  const QString page = HelpPageFor(help_file, command, data);
  // A launcher told to open a missing file fails where no one sees it.
  if (!QFileInfo(page).isFile()) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

}  // namespace vs::ui
