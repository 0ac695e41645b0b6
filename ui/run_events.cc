#include "ui/run_events.h"

#include <QMetaObject>
#include <utility>

namespace vs::ui {

RunEvents::RunEvents(QObject* receiver, std::function<void()> ready)
    : m_receiver(receiver), m_ready(std::move(ready)) {}

void RunEvents::OnFileChanged(const std::string& path,
                              const ChangeList& changes) {
  ChangedFile file{path, changes};  // copied outside the lock
  MutexLock lock(&m_mutex);
  m_batch.files.push_back(std::move(file));
  Post();
}

void RunEvents::OnProblem(const Problem& problem) {
  MutexLock lock(&m_mutex);
  m_batch.problems.push_back(problem);
  Post();
}

void RunEvents::OnProgress(const RunProgress& progress) {
  // Read on a timer of the receiver's: no post for it.
  MutexLock lock(&m_mutex);
  m_progress = progress;
}

void RunEvents::RunEnded() {
  MutexLock lock(&m_mutex);
  m_batch.run_ended = true;
  Post();
}

RunEvents::Batch RunEvents::Take() {
  MutexLock lock(&m_mutex);
  m_posted = false;
  return std::exchange(m_batch, Batch());
}

RunProgress RunEvents::progress() const {
  MutexLock lock(&m_mutex);
  return m_progress;
}

void RunEvents::Reset() {
  MutexLock lock(&m_mutex);
  m_batch = Batch();
  m_progress = RunProgress();
}

void RunEvents::Post() {
  if (m_posted) return;
  m_posted = true;
  QMetaObject::invokeMethod(m_receiver, m_ready, Qt::QueuedConnection);
}

}  // namespace vs::ui
