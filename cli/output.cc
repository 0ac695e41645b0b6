#include "cli/output.h"

#include <cerrno>
#include <cstring>

#include "cli/terminal_text.h"

namespace vs {

Output& Output::Text(const std::string& text) {
  if (is_terminal_) {
    stream_ << EscapeForTerminal(text, code_page_);
  } else {
    stream_ << text;
  }
  return *this;
}

bool Output::Good() {
  if (failed_) return false;
  if (stream_.good()) return true;
  failed_ = true;
  error_ = errno;
  return false;
}

bool Output::Flush() {
  if (!Good()) return false;
  stream_.flush();
  return Good();
}

std::string Output::Failure() const {
  std::string text = "cannot write to standard output";
  if (error_ != 0) text.append(": ").append(std::strerror(error_));
  return text;
}

}  // namespace vs
