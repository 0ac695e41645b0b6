// One stream of the program's output, as the command line writes it:
// names and entries put on it are escaped when it goes to a terminal, and
// a write that fails is remembered with its reason, since a listing that
// cannot be written is a failure of the run.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "engine/code_page.h"

namespace vs {

// A line shown on a terminal that other writes to it must not land on
// (the progress line): cleared before each of them.
class TransientLine {
 public:
  virtual ~TransientLine() = default;
  // Takes the line off the screen, if it is on; soon done when it is not.
  virtual void Clear() = 0;
};

// What a part of the output is, for its colour.
enum class Paint {
  kPath,        // a listed file's path
  kLineNumber,  // "Line N:" of a changed line
  kNewName,     // "Changed File Name to:"
  kFailure,     // a change that failed, a folder that could not be read
  kDiffHeader,  // "diff --git", "---", "+++", "rename from/to"
  kHunkHeader,  // "@@ -A,B +C,D @@"
  kRemoved,     // a diff's "-" line
  kAdded,       // a diff's "+" line
};

class Output {
 public:
  // `stream` and `code_page` must outlive it.
  Output(std::ostream& stream, bool is_terminal, const CodePage& code_page)
      : stream_(stream), is_terminal_(is_terminal), code_page_(code_page) {}

  // A name, an entry or a message that holds one.
  Output& Text(const std::string& text);
  // The program's own words.
  Output& Words(const char* words);
  // Bytes a format has made safe to show already (JSON, a quoted path):
  // never escaped.
  Output& Raw(std::string_view bytes) {
    Put(bytes);
    return *this;
  }
  // Starts writing in the colour of `paint`, when colours are on;
  // EndPaint goes back to the terminal's own.
  Output& StartPaint(Paint paint);
  Output& EndPaint();
  bool is_terminal() const { return is_terminal_; }
  const CodePage& code_page() const { return code_page_; }
  void set_colored(bool colored) { colored_ = colored; }
  bool colored() const { return colored_; }
  // `line` (which must outlive this, or be unset first) is cleared before
  // every write.
  void set_line_to_clear(TransientLine* line) { line_to_clear_ = line; }

  // Whether every write so far went through, flushed or not. After the
  // first failure nothing more is written, and its reason is kept: errno
  // as that write left it.
  bool Good();
  // Flushes what is buffered; whether everything went through.
  bool Flush();
  bool failed() const { return failed_; }
  // "cannot write to standard output" and the system's reason, if known.
  std::string Failure() const;

 private:
  void Put(std::string_view text);
  // Notes a failure of the stream, if it has failed.
  bool Check();

  std::ostream& stream_;
  const bool is_terminal_;
  const CodePage& code_page_;
  bool colored_ = false;
  TransientLine* line_to_clear_ = nullptr;
  bool failed_ = false;
  int error_ = 0;
};

}  // namespace vs
