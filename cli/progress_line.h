// The progress line a run shows on a terminal's standard error: "N files
// looked at, M changed", redrawn in place a few times a second once the
// run has taken longer than a moment, and cleared before anything else
// is written there and when the run ends. It draws only when told to, so
// the walk pays a clock reading per file and nothing more.
#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>

#include "cli/output.h"
#include "engine/run_observer.h"

namespace vs {

struct ProgressTiming {
  // No line before the run has taken this long: a quick run shows none.
  std::chrono::milliseconds delay{1000};
  // Then a new one at most this often.
  std::chrono::milliseconds interval{250};
};

class ProgressLine final : public TransientLine {
 public:
  using Clock = std::chrono::steady_clock;

  // Draws on `err`, which must outlive it, for a run started at `start`.
  ProgressLine(std::ostream& err, Clock::time_point start,
               const ProgressTiming& timing)
      : err_(err), next_(start + timing.delay), interval_(timing.interval) {}

  // Whether a line is due at `now`: never after Finish.
  bool Due(Clock::time_point now) const { return !finished_ && now >= next_; }
  // Draws the line for `progress` in place of the one shown; the next is
  // due an interval after `now`.
  void Show(const RunProgress& progress, Clock::time_point now);
  void Clear() override;
  // Clears the line for good: the run is over.
  void Finish();

  // "N files looked at, M changed".
  static std::string TextOf(const RunProgress& progress);

 private:
  std::ostream& err_;
  Clock::time_point next_;
  const Clock::duration interval_;
  std::size_t shown_ = 0;  // the width of the line on the screen; 0: none
  bool finished_ = false;
};

}  // namespace vs
