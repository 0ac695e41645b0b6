// Turns SIGINT and SIGTERM into a stop request for a run, so that the
// run ends with every file whole and says what it did.
#pragma once

#include <signal.h>

#include "engine/replace_engine.h"
#include "engine/undo_run.h"

namespace vs {

// While it lives, SIGINT and SIGTERM ask `engine` to stop. A second such
// signal ends the process at once, as if nothing caught the first. One
// at a time.
class StopOnSignals {
 public:
  explicit StopOnSignals(ReplaceEngine* engine);
  // The same for an undo.
  explicit StopOnSignals(UndoRun* undo);
  ~StopOnSignals();
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

  // The signal caught, or 0.
  int caught() const;

 private:
  struct sigaction old_int_;
  struct sigaction old_term_;
};

}  // namespace vs
