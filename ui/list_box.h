// A list box of the dialog, driven as the dialog's code drives a list
// box: by index, with items kept in the list's own sorted order.
//
// Every item keeps the exact bytes it was added with, next to the text
// shown for them, so a path that is not valid in the display's encoding
// still reads back as the path the engine recorded.
#pragma once

#include <QListWidget>
#include <string>
#include <vector>

namespace vs::ui {

class CListBox {
 public:
  static constexpr int LB_ERR = -1;

  void Attach(QListWidget* list) { m_list = list; }
  QListWidget* GetControl() const { return m_list; }

  // The index of the selected item, or LB_ERR when none is selected.
  int GetCurSel() const;
  int GetCount() const;
  // The bytes of the item at `index`; empty when there is no such item.
  std::string GetText(int index) const;

  // Removing and adding items do not count as the user's change of
  // selection: the list does not notify of them.
  void ResetContent();
  void AddString(const std::string& bytes);
  // Adds many at once, each in its sorted place, repainting once.
  void AddStrings(const std::vector<std::string>& all);

 private:
  QListWidget* m_list = nullptr;
};

}  // namespace vs::ui
