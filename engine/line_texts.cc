#include "engine/line_texts.h"

#include <string.h>

#include <algorithm>

namespace vs {
namespace {

// An entry: 'c' for a changed line or 'u', the line's number, a space,
// the old text's length, a space, the old text, then (of a changed line)
// the new text.
std::string Encode(std::uint64_t number, std::string_view old_text,
                   std::string_view new_text, bool changed) {
  std::string entry(1, changed ? 'c' : 'u');
  entry += std::to_string(number);
  entry += ' ';
  entry += std::to_string(old_text.size());
  entry += ' ';
  entry.reserve(entry.size() + old_text.size() +
                (changed ? new_text.size() : 0));
  entry.append(old_text);
  if (changed) entry.append(new_text);
  return entry;
}

std::uint64_t ReadNumber(const std::string& entry, std::size_t* at) {
  std::uint64_t number = 0;
  while (*at < entry.size() && entry[*at] != ' ')
    number = number * 10 + static_cast<unsigned>(entry[(*at)++] - '0');
  ++*at;  // the space
  return number;
}

}  // namespace

LineText ReadLineText(const std::string& entry) {
  LineText line;
  line.changed = !entry.empty() && entry[0] == 'c';
  std::size_t at = 1;
  line.number = ReadNumber(entry, &at);
  const std::size_t old_length = ReadNumber(entry, &at);
  const std::string_view all(entry);
  line.old_text = all.substr(at, old_length);
  line.new_text = line.changed ? all.substr(at + old_length) : line.old_text;
  return line;
}

void LineTextKeeper::Line(std::uint64_t number, std::string_view old_text,
                          std::string_view new_text, bool changed) {
  if (!changed) return Unchanged(number, old_text);
  for (const auto& [before_number, text] : before_)
    Keep(before_number, text, text, false);
  before_.clear();
  Keep(number, old_text, new_text, true);
  after_left_ = kContextLines;
}

void LineTextKeeper::Pass(std::uint64_t first, std::string_view text,
                          std::size_t count) {
  // The lines just after a change, then the last few, which may come
  // before the next change: those between can never be context.
  const std::size_t front = std::min(count, after_left_);
  std::size_t at = 0;
  for (std::size_t i = 0; i < front; ++i) {
    const char* lf =
        static_cast<const char*>(memchr(text.data() + at, '\n', text.size() - at));
    const std::size_t end = lf - text.data() + 1;
    Unchanged(first + i, text.substr(at, end - at));
    at = end;
  }
  const std::size_t tail = std::min(count - front, kContextLines);
  std::size_t start = text.size();
  for (std::size_t i = 0; i < tail; ++i) {
    const void* lf = start > 1 ? memrchr(text.data(), '\n', start - 1) : nullptr;
    start = lf ? static_cast<const char*>(lf) - text.data() + 1 : 0;
  }
  start = std::max(start, at);
  for (std::size_t i = 0; i < tail; ++i) {
    const char* lf = static_cast<const char*>(
        memchr(text.data() + start, '\n', text.size() - start));
    const std::size_t end = lf - text.data() + 1;
    Unchanged(first + count - tail + i, text.substr(start, end - start));
    start = end;
  }
}

void LineTextKeeper::Unchanged(std::uint64_t number, std::string_view text) {
  if (after_left_ > 0) {
    --after_left_;
    return Keep(number, text, text, false);
  }
  before_.emplace_back(number, std::string(text));
  if (before_.size() > kContextLines) before_.pop_front();
}

void LineTextKeeper::Keep(std::uint64_t number, std::string_view old_text,
                          std::string_view new_text, bool changed) {
  kept_->push_back(Encode(number, old_text, new_text, changed));
}

}  // namespace vs
