#include "tests/ui/modal_answer.h"

#include <QApplication>
#include <QDialog>

namespace vs::ui::test {

ModalAnswer::ModalAnswer(std::function<void(QWidget*)> answer)
    : m_answer(std::move(answer)) {
  QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
  m_timer.start(10);
}

void ModalAnswer::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible()) return;
  m_timer.stop();
  m_answered = true;
  m_answer(modal);
  if (modal->isVisible()) modal->close();
  if (auto* dialog = qobject_cast<QDialog*>(modal);
      dialog && dialog->isVisible())
    dialog->done(QDialog::Rejected);
}

}  // namespace vs::ui::test
