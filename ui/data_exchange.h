// The data exchange between a dialog's controls and its fields. One
// exchange moves every field in one direction: save (controls into
// fields) or load (fields into controls).
#pragma once

#include <string>

#include "ui/list_box.h"

namespace vs::ui {

class CDialog;

// Thrown by CDataExchange::Fail; UpdateData catches it.
struct ExchangeFailure {};

class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, bool save_and_validate)
      : m_pDlgWnd(dialog), m_bSaveAndValidate(save_and_validate) {}

  // Ends the exchange as failed; UpdateData then returns false.
  [[noreturn]] void Fail();

  CDialog* const m_pDlgWnd;
  const bool m_bSaveAndValidate;  // true: controls into fields
};

// Binds `list_box` to the list control `id` at the first exchange.
void DDX_Control(CDataExchange* pDX, int id, CListBox& list_box);
// The edit box `id` and a text field, as the locale's bytes.
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
// The check box `id` and a flag: 0 clear, 1 checked, 2 indeterminate.
// Loading a value outside 0 to 2 first sets the field to 0.
void DDX_Check(CDataExchange* pDX, int id, int& value);

}  // namespace vs::ui
