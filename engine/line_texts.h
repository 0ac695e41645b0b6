// The old and new text of a file's changed lines, with the unchanged
// lines around them, kept while the file is rewritten for a front end
// that shows the change as a diff. A run keeps them only when its
// settings ask for it (RunSettings::keep_line_texts).
//
// Each kept line is one entry of a ChangeList, so they spill to the
// change list's scratch file past its budget like the change entries.
// Lines come in file order, numbered from 1 by the old text; a line's
// text holds its line end ("\n" or "\r\n"), and only the file's last
// line may lack one. Up to kContextLines unchanged lines are kept before
// and after each changed line: where a number is missing between two
// kept lines, more unchanged lines lie between them.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "engine/change_list.h"

namespace vs {

// One kept line, read back from its entry with ReadLineText.
struct LineText {
  std::uint64_t number = 0;  // in the old text
  bool changed = false;
  std::string_view old_text;  // with its line end, if it has one
  // Equal to old_text when the line did not change; may hold several
  // lines when the replace text holds a line feed, and be empty when the
  // whole last line went.
  std::string_view new_text;
};

// The line kept in `entry`; its views point into `entry`.
LineText ReadLineText(const std::string& entry);

// Takes every line of one text in order and keeps those within
// kContextLines of a changed line in `kept`.
class LineTextKeeper {
 public:
  static constexpr std::size_t kContextLines = 3;

  // `kept` must outlive the keeper.
  explicit LineTextKeeper(ChangeList* kept) : kept_(kept) {}

  // Line `number`, old and new; `changed` when they differ.
  void Line(std::uint64_t number, std::string_view old_text,
            std::string_view new_text, bool changed);
  // `count` whole unchanged lines, `text`, from line `first` on.
  void Pass(std::uint64_t first, std::string_view text, std::size_t count);

 private:
  void Unchanged(std::uint64_t number, std::string_view text);
  void Keep(std::uint64_t number, std::string_view old_text,
            std::string_view new_text, bool changed);

  ChangeList* const kept_;
  // The unchanged lines just before the line in hand, not yet kept:
  // kept once a changed line follows them.
  std::deque<std::pair<std::uint64_t, std::string>> before_;
  std::size_t after_left_ = 0;  // unchanged lines still kept after a change
};

}  // namespace vs
