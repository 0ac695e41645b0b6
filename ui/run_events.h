// What a run on a worker thread tells the dialog, handed over to the
// dialog's thread in batches.
//
// The engine calls its observer on the thread that runs the walk; each
// call here only appends to the batch under a lock and returns. The first
// event of a batch posts one queued call to the receiver's thread, which
// takes the whole batch: however many files a run changes, at most one
// such call waits in the event queue, and the walk never waits for the
// dialog.
#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <vector>

#include "engine/change_log.h"
#include "engine/mutex.h"
#include "engine/run_observer.h"

namespace vs::ui {

class RunEvents : public RunObserver {
 public:
  struct ChangedFile {
    std::string path;
    ChangeList changes;
  };
  // What arrived since the last Take.
  struct Batch {
    std::vector<ChangedFile> files;  // in the order told
    std::vector<Problem> problems;
    bool run_ended = false;  // RunEnded was called: nothing follows
  };

  // `ready` runs on the thread of `receiver` once a batch waits; it is
  // dropped if `receiver` is gone by then.
  RunEvents(QObject* receiver, std::function<void()> ready);

  // From the run's thread.
  void OnFileChanged(const std::string& path,
                     const ChangeList& changes) override;
  void OnProblem(const Problem& problem) override;
  void OnProgress(const RunProgress& progress) override;
  // Once the walk has returned.
  void RunEnded();

  // From any thread: the batch so far, leaving an empty one; the next
  // event posts `ready` again.
  Batch Take();
  // The latest progress told.
  RunProgress progress() const;
  // Before a run: an empty batch and no progress.
  void Reset();

 private:
  // Posts `ready` unless a post is waiting already.
  void Post() REQUIRES(m_mutex);

  QObject* const m_receiver;
  const std::function<void()> m_ready;

  mutable Mutex m_mutex;
  Batch m_batch GUARDED_BY(m_mutex);
  RunProgress m_progress GUARDED_BY(m_mutex);
  // A call of `ready` is posted and has not taken the batch yet.
  bool m_posted GUARDED_BY(m_mutex) = false;
};

}  // namespace vs::ui
