// Replaces the find text in one file's lines, streaming the file through
// a fixed buffer, so memory stays bounded whatever the length of a line.
//
// Lines end at a line feed (a CR before it belongs to the line end; a
// lone CR is an ordinary character). Every byte that is not part of an
// occurrence is written back exactly as it was, line ends included.
#pragma once

#include <string_view>
#include <vector>

#include "engine/change_log.h"
#include "engine/code_page.h"
#include "engine/file_system.h"
#include "engine/matcher.h"

namespace vs {

class TextRewriter {
 public:
  static constexpr std::size_t kBlockSize = 1 << 20;

  // `matcher`, `replace`, `code_page` and `buffer` must outlive the
  // rewriter; `buffer` is scratch space, grown as needed and reused.
  // Files are read `block_size` bytes at a time.
  TextRewriter(const Matcher& matcher, std::string_view replace,
               const CodePage& code_page, std::vector<char>* buffer,
               std::size_t block_size = kBlockSize);

  // Reads the file from its start and tells whether a line holds an
  // occurrence, which then changes that line.
  Status FindsChange(ReadableFile* file, bool* found);

  // Reads the file from its start and tells whether it holds a NUL or a
  // 0x1A byte, which make it a binary file whose text is left alone.
  Status IsBinary(ReadableFile* file, bool* binary);

  // Reads the file from its start, writes its new text to `out` (unless
  // null) and appends "Line %i: %s" to `changes` for every changed line.
  // Stops early with *binary set when the file turns out to be binary.
  // With `line_texts`, also keeps there the changed lines whole, old and
  // new, and the lines around them (see LineTextKeeper).
  Status Rewrite(ReadableFile* file, WritableFile* out, ChangeList* changes,
                 bool* binary, ChangeList* line_texts = nullptr);

 private:
  const Matcher& matcher_;
  std::string_view replace_;
  const CodePage& code_page_;
  std::vector<char>* buffer_;
  std::size_t block_size_;
};

}  // namespace vs
