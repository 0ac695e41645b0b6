#include "ui/data_exchange.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>

#include "ui/dialog.h"
#include "ui/local_text.h"

namespace vs::ui {
namespace {

// The control `id` as a `Control`; a missing or mistyped one fails the
// exchange.
template <class Control>
Control* ControlOf(CDataExchange* pDX, int id) {
  auto* control = qobject_cast<Control*>(pDX->m_pDlgWnd->GetDlgItem(id));
  if (!control) pDX->Fail();
  return control;
}

}  // namespace

void CDataExchange::Fail() { throw ExchangeFailure(); }

void DDX_Control(CDataExchange* pDX, int id, CListBox& list_box) {
  if (!list_box.GetControl()) list_box.Attach(ControlOf<QListWidget>(pDX, id));
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
  auto* edit = ControlOf<QLineEdit>(pDX, id);
  if (pDX->m_bSaveAndValidate) {
    value = ToLocalBytes(edit->text());
  } else {
    edit->setText(ToQString(value));
  }
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
  auto* check = ControlOf<QCheckBox>(pDX, id);
  if (pDX->m_bSaveAndValidate) {
    value = check->checkState() == Qt::Checked            ? 1
            : check->checkState() == Qt::PartiallyChecked ? 2
                                                          : 0;
  } else {
    if (value < 0 || value > 2) value = 0;
    check->setCheckState(value == 1   ? Qt::Checked
                         : value == 2 ? Qt::PartiallyChecked
                                      : Qt::Unchecked);
  }
}

}  // namespace vs::ui
