// The one crossing between Qt's text and the engine's. The engine works
// in the bytes of the locale's character set; Qt works in Unicode.
#pragma once

#include <QString>
#include <string>

namespace vs::ui {

QString ToQString(const std::string& bytes);
std::string ToLocalBytes(const QString& text);

}  // namespace vs::ui
