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

// errno is cleared before each write, so that what it holds after a
// failed one is that write's reason, not something older.
void Output::Put(std::string_view text) {
  if (failed_) return;
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
