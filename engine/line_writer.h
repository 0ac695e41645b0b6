// Writes one file's new text, line by line, and keeps for the line in
// hand what its change entry needs: its number, whether it changed, and
// the start of its new text. A changed line gets the entry "Line %i: %s",
// cut to 1023 bytes between two characters. Given a LineTextKeeper, it
// also hands it every line whole, old and new.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

#include "engine/change_log.h"
#include "engine/code_page.h"
#include "engine/file_system.h"
#include "engine/line_texts.h"
#include "engine/status.h"

namespace vs {

class LineWriter {
 public:
  static constexpr std::size_t kMaxEntryLength = 1023;

  // `out` may be null: nothing is written, the entries are still made.
  // `changes`, `code_page` and `keeper` (unless null) must outlive the
  // writer.
  LineWriter(WritableFile* out, ChangeList* changes, const CodePage& code_page,
             LineTextKeeper* keeper = nullptr)
      : out_(out), changes_(changes), code_page_(code_page), keeper_(keeper) {}

  // Adds text to the line in hand.
  void Emit(const char* data, std::size_t length) {
    if (length == 0) return;
    Write(data, length);
    if (start_.size() < kStartKept)
      start_.append(data, std::min(length, kStartKept - start_.size()));
    if (keeper_) new_line_.append(data, length);
  }
  // Old bytes of the line in hand, in order: what the text emitted since
  // the last call was made from. Only a keeper needs them.
  void Consumed(const char* data, std::size_t length) {
    if (keeper_) old_line_.append(data, length);
  }
  void MarkChanged() { changed_ = true; }

  // Writes `lines` whole lines that do not change, with their line ends;
  // the line in hand must be empty.
  void PassLines(const char* data, std::size_t length, std::size_t lines) {
    Write(data, length);
    if (keeper_) keeper_->Pass(number_, {data, length}, lines);
    number_ += lines;
  }

  // Ends the line in hand with its own line end bytes.
  void EndLine(const char* line_end, std::size_t length);

  // Ends the text; the line in hand, if any, had no line end.
  void EndText();

  // The first failure to write, if any.
  const Status& status() const { return status_; }

 private:
  // Enough of a line's start for the longest entry.
  static constexpr std::size_t kStartKept = kMaxEntryLength;

  void Write(const char* data, std::size_t length) {
    if (out_ && status_.ok()) status_ = out_->Append(data, length);
  }
  // Makes the entry of the line in hand, if it changed.
  void AddEntry();
  // Hands the line in hand to the keeper, and starts the next.
  void KeepLine();

  WritableFile* out_;
  ChangeList* changes_;
  const CodePage& code_page_;
  LineTextKeeper* const keeper_;
  Status status_;
  std::string start_;
  bool changed_ = false;
  unsigned long long number_ = 1;
  // With a keeper: the line in hand, whole, as it was and as it is now.
  std::string old_line_;
  std::string new_line_;
};

}  // namespace vs
