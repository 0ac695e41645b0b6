#include "cli/output.h"

#include <cerrno>
#include <cstring>

#include "cli/terminal_text.h"

namespace vs {

Output& Output::Text(const std::string& text) {
  if (is_terminal_) {
    Put(EscapeForTerminal(text, code_page_));
  } else {
    Put(text);
  }
  return *this;
}

Output& Output::Words(const char* words) {
  Put(words);
  return *this;
}

namespace {

// The SGR sequences: git's colours for a diff, a path as grep and its
// kin colour one.
const char* SequenceOf(Paint paint) {
  switch (paint) {
    case Paint::kPath: return "\033[35m";
    case Paint::kLineNumber: return "\033[32m";
    case Paint::kNewName: return "\033[36m";
    case Paint::kFailure: return "\033[31m";
    case Paint::kDiffHeader: return "\033[1m";
    case Paint::kHunkHeader: return "\033[36m";
    case Paint::kRemoved: return "\033[31m";
    case Paint::kAdded: return "\033[32m";
  }
  return "";
}

}  // namespace

Output& Output::StartPaint(Paint paint) {
  if (colored_) Put(SequenceOf(paint));
  return *this;
}

Output& Output::EndPaint() {
  if (colored_) Put("\033[m");
  return *this;
}

// errno is cleared before each write, so that what it holds after a
// failed one is that write's reason, not something older.
void Output::Put(std::string_view text) {
  if (failed_) return;
  if (line_to_clear_) line_to_clear_->Clear();
  errno = 0;
  stream_ << text;
  Check();
}

bool Output::Check() {
  if (!failed_ && !stream_.good()) {
    failed_ = true;
    error_ = errno;
  }
  return !failed_;
}

bool Output::Good() { return Check(); }

bool Output::Flush() {
  if (!Check()) return false;
  errno = 0;
  stream_.flush();
  return Check();
}

std::string Output::Failure() const {
  std::string text = "cannot write to standard output";
  if (error_ != 0) text.append(": ").append(std::strerror(error_));
  return text;
}

}  // namespace vs
