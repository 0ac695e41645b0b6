#include "ui/dialog.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <new>

#include "res/dialog_template.h"
#include "res/resource.h"
#include "ui/dialog_builder.h"
#include "ui/message_box.h"
#include "ui/system_menu.h"
#include "ui/win_app.h"

namespace vs::ui {

CDialog::CDialog(int template_id, QWidget* parent)
    : QDialog(parent), m_templateId(static_cast<unsigned>(template_id)) {
  const res::DialogTemplate* dialog_template =
      res::FindDialogTemplate(template_id);
  if (!dialog_template) return;
  m_hasTemplate = true;
  BuiltDialog built = BuildDialog(*dialog_template, this);
  m_controls = std::move(built.controls);
  m_firstTabStop = built.first_tab_stop;
  if (built.has_system_menu) {
    m_systemMenu = CreateSystemMenu(this);
    connect(m_systemMenu, &QMenu::triggered, this, [this](QAction* item) {
      RunHandler([this, item] { OnSysCommand(SysCommandOf(item), 0); });
    });
  }
  ConnectClicked(IDOK, [this] { OnOK(); });
  ConnectClicked(IDCANCEL, [this] { OnCancel(); });
}

int CDialog::DoModal() { return m_hasTemplate ? exec() : -1; }

void CDialog::EndDialog(int result) { done(result); }

bool CDialog::UpdateData(bool save_and_validate) {
  CDataExchange exchange(this, save_and_validate);
  try {
    DoDataExchange(&exchange);
  } catch (const ExchangeFailure&) {
    return false;
  }
  return true;
}

QWidget* CDialog::GetDlgItem(int id) const {
  auto found = m_controls.find(id);
  return found == m_controls.end() ? nullptr : found->second;
}

void CDialog::setVisible(bool visible) {
  if (visible && !m_initialised) {
    m_initialised = true;
    if (OnInitDialog() && m_firstTabStop) m_firstTabStop->setFocus();
  }
  QDialog::setVisible(visible);
}

bool CDialog::OnCmdMsg(unsigned id) {
  CWinApp* app = AfxGetApp();
  return app && app->OnCmdMsg(id);
}

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::OnInitDialog() {
  if (!UpdateData(false)) {
    // The window is on its way to the screen; the dialog ends as soon as
    // its modal run starts.
    QMetaObject::invokeMethod(
        this, [this] { EndDialog(-1); }, Qt::QueuedConnection);
  }
  return true;
}

void CDialog::OnOK() {
  if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnSysCommand(unsigned id, qintptr) {
  if (id == SC_CLOSE) close();
}

void CDialog::RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::bad_alloc&) {
    ShowMessage(this, QStringLiteral("Out of memory."), QMessageBox::Warning);
  }
}

void CDialog::reject() {
  RunHandler([this] { OnCancel(); });
}

void CDialog::contextMenuEvent(QContextMenuEvent* event) {
  if (!m_systemMenu) return QDialog::contextMenuEvent(event);
  if (event->reason() != QContextMenuEvent::Mouse) {
    // From the keyboard the menu drops from the window's corner.
    m_systemMenu->popup(mapToGlobal(QPoint(0, 0)));
    return;
  }
  // A click on a control is the control's own; labels are background.
  QWidget* child = childAt(event->pos());
  if (child && !qobject_cast<QLabel*>(child)) return event->ignore();
  m_systemMenu->popup(event->globalPos());
}

void CDialog::keyPressEvent(QKeyEvent* event) {
  // Shift+F10 asks the focused control for its context menu, as the
  // context-menu key does; controls without one pass it to the dialog.
  if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
    QWidget* target = focusWidget() ? focusWidget() : this;
    const QPoint pos = target->rect().center();
    QContextMenuEvent request(QContextMenuEvent::Keyboard, pos,
                              target->mapToGlobal(pos));
    QCoreApplication::sendEvent(target, &request);
    return;
  }
  // F1 with Shift, Ctrl and Alt up asks for help.
  const Qt::KeyboardModifiers held =
      event->modifiers() &
      (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if (event->key() == Qt::Key_F1 && held == Qt::NoModifier) {
    RunHandler([this] { OnHelpKey(); });
    return;
  }
  QDialog::keyPressEvent(event);
}

void CDialog::OnHelpKey() {
  CWinApp* app = AfxGetApp();
  if (app && app->m_pMainWnd) app->m_pMainWnd->OnCmdMsg(ID_HELP);
}

void CDialog::ConnectClicked(int id, std::function<void()> handler) {
  auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id));
  if (!button) return;
  connect(button, &QAbstractButton::clicked, this,
          [this, handler = std::move(handler)] { RunHandler(handler); });
}

void CDialog::ConnectSelChange(int id, std::function<void()> handler) {
  auto* list = qobject_cast<QListWidget*>(GetDlgItem(id));
  if (!list) return;
  connect(list, &QListWidget::itemSelectionChanged, this,
          [this, handler = std::move(handler)] { RunHandler(handler); });
}

}  // namespace vs::ui
