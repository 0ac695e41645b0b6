#include "ui/list_box.h"

#include <QByteArray>
#include <QSignalBlocker>

#include "ui/local_text.h"

namespace vs::ui {
namespace {

constexpr int kBytesRole = Qt::UserRole;

}  // namespace

int CListBox::GetCurSel() const {
  if (!m_list) return LB_ERR;
  const QList<QListWidgetItem*> selected = m_list->selectedItems();
  return selected.isEmpty() ? LB_ERR : m_list->row(selected.first());
}

int CListBox::GetCount() const { return m_list ? m_list->count() : 0; }

std::string CListBox::GetText(int index) const {
  const QListWidgetItem* item = m_list ? m_list->item(index) : nullptr;
  if (!item) return std::string();
  const QByteArray bytes = item->data(kBytesRole).toByteArray();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void CListBox::ResetContent() {
  if (!m_list) return;
  const QSignalBlocker quiet(m_list);
  m_list->clear();
}

namespace {

QListWidgetItem* NewItem(const std::string& bytes) {
  auto* item = new QListWidgetItem(ToQString(bytes));
  item->setData(kBytesRole,
                QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return item;
}

}  // namespace

void CListBox::AddString(const std::string& bytes) {
  if (!m_list) return;
  const QSignalBlocker quiet(m_list);
  m_list->addItem(NewItem(bytes));  // a sorted list puts it in its place
}

void CListBox::AddStrings(const std::vector<std::string>& all) {
  if (!m_list || all.empty()) return;
  const QSignalBlocker quiet(m_list);
  m_list->setUpdatesEnabled(false);
  for (const std::string& bytes : all) m_list->addItem(NewItem(bytes));
  m_list->setUpdatesEnabled(true);
}

}  // namespace vs::ui
