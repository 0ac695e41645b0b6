#include "engine/line_writer.h"

#include <utility>

#include "engine/change_entry.h"

namespace vs {

void LineWriter::EndLine(const char* line_end, std::size_t length) {
  Write(line_end, length);
  AddEntry();
  if (keeper_) {
    old_line_.append(line_end, length);
    new_line_.append(line_end, length);
    KeepLine();
  }
  start_.clear();
  changed_ = false;
  ++number_;
}

void LineWriter::EndText() {
  AddEntry();
  // A text that ends with a line end has no line after it.
  if (keeper_ && !old_line_.empty()) KeepLine();
}

void LineWriter::KeepLine() {
  keeper_->Line(number_, old_line_, new_line_, changed_);
  old_line_.clear();
  new_line_.clear();
}

void LineWriter::AddEntry() {
  if (!changed_) return;
  std::string entry(kLineEntryStart);
  entry += std::to_string(number_);
  entry += ": ";
  std::size_t room = kMaxEntryLength - entry.size();
  entry.append(start_, 0, code_page_.CutLength(start_, room));
  changes_->push_back(std::move(entry));
}

}  // namespace vs
