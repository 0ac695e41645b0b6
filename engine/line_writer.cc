#include "engine/line_writer.h"

#include <utility>

namespace vs {

void LineWriter::EndLine(const char* line_end, std::size_t length) {
  Write(line_end, length);
  EndText();
  start_.clear();
  changed_ = false;
  ++number_;
}

void LineWriter::EndText() {
  if (!changed_) return;
  std::string entry = "Line " + std::to_string(number_) + ": ";
  std::size_t room = kMaxEntryLength - entry.size();
  entry.append(start_, 0, code_page_.CutLength(start_, room));
  changes_->push_back(std::move(entry));
}

}  // namespace vs
