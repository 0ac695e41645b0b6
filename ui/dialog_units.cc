#include "ui/dialog_units.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>

namespace vs::ui {
namespace {

// number * numerator / denominator, rounded to the nearest integer with
// halves away from zero.
int MulDiv(int number, int numerator, int denominator) {
  const long long product = static_cast<long long>(number) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : (product - half) / denominator);
}

}  // namespace

DialogUnits DialogUnits::ForFont(const QFont& font) {
  // The average width is taken over the 52 letters and rounded to the
  // nearest pixel.
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return DialogUnits((letters / 26 + 1) / 2, metrics.height());
}

int DialogUnits::ToPixelsX(int units) const {
  return MulDiv(units, m_baseX, 4);
}

int DialogUnits::ToPixelsY(int units) const {
  return MulDiv(units, m_baseY, 8);
}

QRect DialogUnits::ToPixels(const res::DluRect& rect) const {
  return QRect(ToPixelsX(rect.left), ToPixelsY(rect.top), ToPixelsX(rect.width),
               ToPixelsY(rect.height));
}

QFont ChooseDialogFont(const QString& name, int points,
                       const QStringList& installed_families,
                       const QFont& system_font) {
  if (installed_families.contains(name, Qt::CaseInsensitive))
    return QFont(name, points);
  return system_font;
}

QFont DialogFont(const res::DialogTemplate& dialog) {
  return ChooseDialogFont(QString::fromUtf8(dialog.font_name),
                          dialog.font_points, QFontDatabase::families(),
                          QApplication::font());
}

}  // namespace vs::ui
