// Dialog templates as data: a dialog's caption, size, style and font, and
// its controls in template order, which is also their tab order.
// Rectangles are in dialog units; ui/ turns them into pixels.
#pragma once

#include <cstdint>
#include <vector>

namespace vs::res {

struct DluRect {
  int left, top, width, height;
  bool operator==(const DluRect& o) const {
    return left == o.left && top == o.top && width == o.width &&
           height == o.height;
  }
};

// The system class a control is made of; together with its style it
// says what the control is (a check box is a Button with
// BS_AUTOCHECKBOX).
enum class ControlClass { kButton, kEdit, kStatic, kListBox };

struct ControlTemplate {
  int id;
  ControlClass kind;
  const char* caption;
  DluRect rect;
  std::uint32_t style;
  int image = 0;  // the icon resource an SS_ICON static shows
};

struct DialogTemplate {
  int id;
  const char* caption;
  DluRect rect;
  std::uint32_t style;
  std::uint32_t ex_style;
  bool extended;  // stored in the extended template format
  const char* font_name;
  int font_points;
  std::vector<ControlTemplate> controls;
};

// The template with resource id `id`, or nullptr when there is none.
const DialogTemplate* FindDialogTemplate(int id);

}  // namespace vs::res
