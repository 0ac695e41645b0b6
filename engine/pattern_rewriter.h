// TextRewriter's counterpart for a LinePattern: the same three calls, the
// same results for what both can match, but a window always holds whole
// lines, as a pattern is matched against a line at once. A window's
// lines are searched for candidates all at once, and only a candidate's
// line is matched.
//
// Memory grows with the longest line, up to kMaxLineLength; a file with a
// longer line is not matched at all, and reading it fails with a status
// that says why.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "engine/change_list.h"
#include "engine/code_page.h"
#include "engine/file_system.h"
#include "engine/line_pattern.h"
#include "engine/status.h"

namespace vs {

class PatternRewriter {
 public:
  static constexpr std::size_t kBlockSize = 1 << 20;
  static constexpr std::size_t kMaxLineLength = std::size_t{32} << 20;

  // `pattern`, `code_page` and `buffer` must outlive the rewriter;
  // `buffer` is scratch space, grown as needed and reused.
  PatternRewriter(const LinePattern& pattern, const CodePage& code_page,
                  std::vector<char>* buffer, std::size_t block_size = kBlockSize);

  // Reads the file from its start and tells whether a line would change.
  Status FindsChange(ReadableFile* file, bool* found);

  // Reads the file from its start and tells whether it holds a NUL or a
  // 0x1A byte, which make it a binary file whose text is left alone.
  Status IsBinary(ReadableFile* file, bool* binary);

  // Reads the file from its start, writes its new text to `out` (unless
  // null) and appends "Line %i: %s" to `changes` for every changed line.
  // Stops early with *binary set when the file turns out to be binary.
  // With `line_texts`, also keeps there the changed lines whole, old and
  // new, with the lines around them (see LineTextKeeper).
  Status Rewrite(ReadableFile* file, WritableFile* out, ChangeList* changes,
                 bool* binary, ChangeList* line_texts = nullptr);

 private:
  // Reads the next window: the line carried from the last one, then a
  // block more. Sets `lines_end_` to the end of the window's last whole
  // line (the window's end at the file's end).
  Status Read();
  std::string_view window() const { return {buffer_->data(), size_}; }

  const LinePattern& pattern_;
  const CodePage& code_page_;
  std::vector<char>* buffer_;
  const std::size_t block_size_;
  ReadableFile* file_ = nullptr;
  std::size_t size_ = 0;        // the window is buffer[0, size_)
  std::size_t fresh_from_ = 0;  // where the last Read's bytes start
  std::size_t lines_end_ = 0;   // the whole lines are window[0, lines_end_)
  bool at_end_ = false;
};

}  // namespace vs
