// Dialog units, the measure of dialog templates, and the font that gives
// them their size in pixels.
#pragma once

#include <QFont>
#include <QRect>
#include <QStringList>

#include "res/dialog_template.h"

namespace vs::ui {

// A horizontal dialog unit is a quarter of the dialog font's average
// character width, a vertical one an eighth of its character height;
// pixels are rounded to the nearest, as the dialog manager does.
class DialogUnits {
 public:
  // `base_x` and `base_y`: the average character width and the
  // character height in pixels.
  DialogUnits(int base_x, int base_y) : m_baseX(base_x), m_baseY(base_y) {}
  static DialogUnits ForFont(const QFont& font);

  int base_x() const { return m_baseX; }
  int base_y() const { return m_baseY; }
  int ToPixelsX(int units) const;
  int ToPixelsY(int units) const;
  QRect ToPixels(const res::DluRect& rect) const;

 private:
  int m_baseX;
  int m_baseY;
};

// The template's font when the system has it, else `system_font`, the
// system's dialog font at its default size.
QFont ChooseDialogFont(const QString& name, int points,
                       const QStringList& installed_families,
                       const QFont& system_font);
// The same for this system's fonts.
QFont DialogFont(const res::DialogTemplate& dialog);

}  // namespace vs::ui
