#include "ui/app_icon.h"

#include "res/resource.h"

// The images live in a static library, whose automatic registration the
// linker may drop, so they are registered on first use. Q_INIT_RESOURCE
// must be used outside any namespace.
static bool RegisterIconResources() {
  Q_INIT_RESOURCE(vellumshaper);
  return true;
}

namespace vs::ui {

QIcon LoadIconResource(int id) {
  if (id != IDR_MAINFRAME) return QIcon();
  [[maybe_unused]] static const bool registered = RegisterIconResources();
  QIcon icon;
  icon.addFile(QStringLiteral(":/icons/mainframe-32.png"));
  icon.addFile(QStringLiteral(":/icons/mainframe-16.png"));
  return icon;
}

}  // namespace vs::ui
