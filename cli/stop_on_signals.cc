#include "cli/stop_on_signals.h"

#include <atomic>

namespace vs {
namespace {

// What the handler reaches: set before the handlers are installed and
// cleared after they are gone. Lock-free atomics, which a handler may use.
std::atomic<ReplaceEngine*> engine_to_stop{nullptr};
std::atomic<UndoRun*> undo_to_stop{nullptr};
std::atomic<int> signal_caught{0};
static_assert(std::atomic<ReplaceEngine*>::is_always_lock_free);
static_assert(std::atomic<UndoRun*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void AskToStop(int signal_number) {
  signal_caught.store(signal_number);
  if (ReplaceEngine* engine = engine_to_stop.load()) engine->RequestStop();
  if (UndoRun* undo = undo_to_stop.load()) undo->RequestStop();
}

void Install(int signal_number, struct sigaction* old) {
  sigaction(signal_number, nullptr, old);
  // Ignored by whoever started us (as for a job started in the
  // background): it stays ignored.
  if (old->sa_handler == SIG_IGN) return;
  struct sigaction action = {};
  action.sa_handler = AskToStop;
  sigemptyset(&action.sa_mask);
  // The second signal finds the default action back and ends the process.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(signal_number, &action, old);
}

}  // namespace

StopOnSignals::StopOnSignals(ReplaceEngine* engine) {
  signal_caught.store(0);
  engine_to_stop.store(engine);
  Install(SIGINT, &old_int_);
  Install(SIGTERM, &old_term_);
}

StopOnSignals::StopOnSignals(UndoRun* undo) {
  signal_caught.store(0);
  undo_to_stop.store(undo);
  Install(SIGINT, &old_int_);
  Install(SIGTERM, &old_term_);
}

StopOnSignals::~StopOnSignals() {
  sigaction(SIGINT, &old_int_, nullptr);
  sigaction(SIGTERM, &old_term_, nullptr);
  engine_to_stop.store(nullptr);
  undo_to_stop.store(nullptr);
}

int StopOnSignals::caught() const { return signal_caught.load(); }

}  // namespace vs
