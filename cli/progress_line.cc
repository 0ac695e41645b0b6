#include "cli/progress_line.h"

namespace vs {

std::string ProgressLine::TextOf(const RunProgress& progress) {
  return std::to_string(progress.files_looked_at) + " files looked at, " +
         std::to_string(progress.files_changed) + " changed";
}

// The line is overwritten from its start: the counts only grow, so a new
// line is never shorter than the one it covers.
void ProgressLine::Show(const RunProgress& progress, Clock::time_point now) {
  if (finished_) return;
  const std::string text = TextOf(progress);
  err_ << '\r' << text;
  err_.flush();
  shown_ = text.size();
  next_ = now + interval_;
}

// Spaces rather than an erase sequence: every terminal knows them, and
// the line is short enough never to wrap.
void ProgressLine::Clear() {
  if (shown_ == 0) return;
  err_ << '\r' << std::string(shown_, ' ') << '\r';
  err_.flush();
  shown_ = 0;
}

void ProgressLine::Finish() {
  Clear();
  finished_ = true;
}

}  // namespace vs
