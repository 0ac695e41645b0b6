// A dialog built from a dialog template: its controls, their data
// exchange, its modal run with OK and Cancel, its system menu, and F1.
// Subclasses override DoDataExchange and OnInitDialog and map control
// notifications to their handlers.
#pragma once

#include <QDialog>
#include <QMenu>
#include <functional>
#include <map>

#include "ui/data_exchange.h"

class QContextMenuEvent;
class QKeyEvent;

namespace vs::ui {

// A dialog's help topic is this plus its template id.
inline constexpr unsigned HID_BASE_RESOURCE = 0x20000;

class CDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CDialog(int template_id, QWidget* parent = nullptr);

  // Runs the dialog modally; returns the code given to EndDialog, or -1
  // when there is no template to build it from.
  int DoModal();
  void EndDialog(int result);

  // One exchange, in the save direction (controls into fields) or the
  // load direction; false when it failed.
  bool UpdateData(bool save_and_validate = true);

  // The control with the id `id`, or nullptr.
  QWidget* GetDlgItem(int id) const;
  // The window's system menu, or nullptr when it has none.
  QMenu* GetSystemMenu() const { return m_systemMenu; }

  // The help topic of this dialog.
  unsigned HelpTopic() const { return HID_BASE_RESOURCE + m_templateId; }

  // Routes the command `id`: the dialog's own map binds only its
  // controls' notifications, so commands go on to the application. False
  // when nothing handled it.
  virtual bool OnCmdMsg(unsigned id);

  // The first show initialises the dialog before the window appears.
  void setVisible(bool visible) override;

 protected:
  virtual void DoDataExchange(CDataExchange* pDX);
  // Called once, when the controls exist and before the window shows;
  // the base loads every field into its control. Returning true puts the
  // focus on the first tab stop.
  virtual bool OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnSysCommand(unsigned id, qintptr param);

  // Message-map entries: a click of the button `id`, a user's change of
  // selection in the list `id`.
  template <class Dialog>
  void MapClicked(int id, void (Dialog::*handler)());
  template <class Dialog>
  void MapSelChange(int id, void (Dialog::*handler)());

  // Runs a handler. Memory running out inside it abandons the handler
  // with a message; what it did until then stays done.
  void RunHandler(const std::function<void()>& handler);

  // Escape and the caption's close button cancel.
  void reject() override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ConnectClicked(int id, std::function<void()> handler);
  void ConnectSelChange(int id, std::function<void()> handler);
  // F1: the application's main window is sent ID_HELP.
  void OnHelpKey();

  unsigned m_templateId;
  bool m_hasTemplate = false;
  bool m_initialised = false;
  std::map<int, QWidget*> m_controls;
  QWidget* m_firstTabStop = nullptr;
  QMenu* m_systemMenu = nullptr;
};

template <class Dialog>
void CDialog::MapClicked(int id, void (Dialog::*handler)()) {
  ConnectClicked(id,
                 [this, handler] { (static_cast<Dialog*>(this)->*handler)(); });
}

template <class Dialog>
void CDialog::MapSelChange(int id, void (Dialog::*handler)()) {
  ConnectSelChange(
      id, [this, handler] { (static_cast<Dialog*>(this)->*handler)(); });
}

}  // namespace vs::ui
