#include "engine/pattern_rewriter.h"

#include <string.h>

#include <algorithm>
#include <optional>
#include <string>

#include "engine/line_bytes.h"
#include "engine/line_texts.h"
#include "engine/line_writer.h"

namespace vs {
namespace {

// One line of a window: its text (without the CR LF or LF that ends it)
// and where the next line starts.
struct Line {
  std::size_t start, text_end, next;
  bool has_end;  // ends with an LF
};

// The line of `text` (which ends with whole lines) that holds `at`, given
// that a line starts at `from` <= at.
Line LineAround(std::string_view text, std::size_t from, std::size_t at) {
  Line line;
  const void* lf_before = at > from ? memrchr(text.data() + from, '\n', at - from)
                                    : nullptr;
  line.start = lf_before
                   ? static_cast<const char*>(lf_before) - text.data() + 1
                   : from;
  const void* lf = memchr(text.data() + at, '\n', text.size() - at);
  line.has_end = lf != nullptr;
  const std::size_t end =
      lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text.data())
         : text.size();
  line.text_end =
      lf && end > line.start && text[end - 1] == '\r' ? end - 1 : end;
  line.next = lf ? end + 1 : end;
  return line;
}

}  // namespace

PatternRewriter::PatternRewriter(const LinePattern& pattern,
                                 const CodePage& code_page,
                                 std::vector<char>* buffer,
                                 std::size_t block_size)
    : pattern_(pattern),
      code_page_(code_page),
      buffer_(buffer),
      block_size_(std::max<std::size_t>(block_size, 1)) {}

Status PatternRewriter::Read() {
  // The line that went on past the last window's whole lines comes along.
  const std::size_t kept = size_ - lines_end_;
  if (buffer_->size() < kept + block_size_) buffer_->resize(kept + block_size_);
  char* data = buffer_->data();
  memmove(data, data + lines_end_, kept);
  std::size_t got = 0;
  Status status = file_->Read(data + kept, block_size_, &got);
  fresh_from_ = kept;
  size_ = kept + got;
  at_end_ = got == 0;
  if (at_end_) {
    lines_end_ = size_;
  } else {
    const void* last_lf = memrchr(data + kept, '\n', got);
    lines_end_ =
        last_lf ? static_cast<const char*>(last_lf) - data + 1 : 0;
    if (size_ - lines_end_ > kMaxLineLength) {
      return Status::Error(
          Status::Code::kIOError,
          "a line longer than " + std::to_string(kMaxLineLength >> 20) +
              " MiB, too long to match a pattern against");
    }
  }
  return status;
}

Status PatternRewriter::FindsChange(ReadableFile* file, bool* found) {
  *found = false;
  file_ = file;
  size_ = lines_end_ = 0;
  Status status = file->Rewind();
  MatchState state;
  CandidateCache cache;
  std::string scratch;
  while (status.ok() && (status = Read()).ok()) {
    const std::string_view text = window().substr(0, lines_end_);
    cache.Forget();
    for (std::size_t pos = 0; pos < text.size();) {
      const std::size_t at = pattern_.Candidate(text, pos, &cache);
      if (at == LinePattern::npos) break;
      const Line line = LineAround(text, pos, at);
      scratch.clear();
      if (ReplaceInLine(pattern_,
                        text.substr(line.start, line.text_end - line.start),
                        &state, &scratch)) {
        *found = true;
        return status;
      }
      pos = line.next;
    }
    if (at_end_) break;
  }
  return status;
}

Status PatternRewriter::IsBinary(ReadableFile* file, bool* binary) {
  *binary = false;
  file_ = file;
  size_ = lines_end_ = 0;
  Status status = file->Rewind();
  if (buffer_->size() < block_size_) buffer_->resize(block_size_);
  while (status.ok()) {
    std::size_t got = 0;
    status = file->Read(buffer_->data(), block_size_, &got);
    if (!status.ok() || got == 0) break;
    if (HoldsBinaryByte(std::string_view(buffer_->data(), got))) {
      *binary = true;
      break;
    }
  }
  return status;
}

Status PatternRewriter::Rewrite(ReadableFile* file, WritableFile* out,
                                ChangeList* changes, bool* binary,
                                ChangeList* line_texts) {
  *binary = false;
  file_ = file;
  size_ = lines_end_ = 0;
  std::optional<LineTextKeeper> keeper;
  if (line_texts) keeper.emplace(line_texts);
  LineWriter writer(out, changes, code_page_, keeper ? &*keeper : nullptr);
  Status status = file->Rewind();
  MatchState state;
  CandidateCache cache;
  std::string new_line;
  while (status.ok() && (status = Read()).ok()) {
    if (HoldsBinaryByte(window().substr(fresh_from_))) {
      *binary = true;
      break;
    }
    const std::string_view text = window().substr(0, lines_end_);
    cache.Forget();
    std::size_t pos = 0;
    while (pos < text.size()) {
      const std::size_t at = pattern_.Candidate(text, pos, &cache);
      const Line line = LineAround(text, pos, at == LinePattern::npos
                                                  ? text.size()
                                                  : at);
      // The whole lines before the candidate's cannot change.
      const std::string_view before = text.substr(pos, line.start - pos);
      writer.PassLines(before.data(), before.size(), CountLines(before));
      if (line.start == text.size()) break;
      const std::string_view old_line =
          text.substr(line.start, line.text_end - line.start);
      new_line.clear();
      if (at != LinePattern::npos &&
          ReplaceInLine(pattern_, old_line, &state, &new_line)) {
        writer.Emit(new_line.data(), new_line.size());
        writer.MarkChanged();
      } else {
        writer.Emit(old_line.data(), old_line.size());
      }
      writer.Consumed(old_line.data(), old_line.size());
      if (line.has_end)
        writer.EndLine(text.data() + line.text_end, line.next - line.text_end);
      pos = line.next;
    }
    if (!writer.status().ok()) return writer.status();
    if (at_end_) {
      writer.EndText();
      return writer.status();
    }
  }
  return status;
}

}  // namespace vs
