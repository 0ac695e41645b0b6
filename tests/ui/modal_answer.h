// Answers a modal window in the user's place. Arm an answer, then do what
// opens the window: once a modal window is open the answer runs with it,
// and the window is closed if the answer left it open.
//
//   QString title;
//   ModalAnswer answer([&](QWidget* box) { title = box->windowTitle(); });
//   QTest::mouseClick(button, Qt::LeftButton);
//   QVERIFY(answer.answered());
#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>

namespace vs::ui::test {

class ModalAnswer {
 public:
  explicit ModalAnswer(std::function<void(QWidget* modal)> answer);

  bool answered() const { return m_answered; }

 private:
  void Poll();

  std::function<void(QWidget*)> m_answer;
  QTimer m_timer;
  bool m_answered = false;
};

}  // namespace vs::ui::test
