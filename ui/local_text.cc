#include "ui/local_text.h"

#include <QByteArray>

namespace vs::ui {

QString ToQString(const std::string& bytes) {
  return QString::fromLocal8Bit(bytes.data(),
                                static_cast<qsizetype>(bytes.size()));
}

std::string ToLocalBytes(const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace vs::ui
